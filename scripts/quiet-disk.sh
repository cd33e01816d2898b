#!/usr/bin/env bash
# A quiet clock for the benchmark: ext4 on a file in /dev/shm, mounted through a loop device.
# It keeps ext4's own costs (journal, folder locks, inode allocation) without the noise of this
# machine's disk, whose times vary fivefold from one run to the next.
# Usage: scripts/quiet-disk.sh up|down   (needs root; prints the folder to benchmark in)
#   SECTORSIEVE_QUIET_DIR   where to mount (default /mnt/sectorsieve-quiet)
#   SECTORSIEVE_QUIET_SIZE  the file system's size (default 10G: room and inodes for W2's pairs)
set -euo pipefail
dir="${SECTORSIEVE_QUIET_DIR:-/mnt/sectorsieve-quiet}"
size="${SECTORSIEVE_QUIET_SIZE:-10G}"
# One backing file per mount point, so that two quiet clocks can stand side by side.
file="/dev/shm/$(basename "$dir").ext4"

case "${1:-}" in
  up)
    if ! mountpoint -q "$dir"; then
      truncate -s "$size" "$file"
      # One inode per 2 KiB: W2 makes well over a million small files.
      mkfs.ext4 -q -F -i 2048 "$file"
      mkdir -p "$dir"
      mount -o loop "$file" "$dir"
    fi
    echo "$dir"
    ;;
  down)
    if mountpoint -q "$dir"; then umount "$dir"; fi
    rm -f "$file"
    rmdir "$dir" 2>/dev/null || true
    ;;
  *)
    echo "usage: $0 up|down" >&2
    exit 2
    ;;
esac
