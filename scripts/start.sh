#!/usr/bin/env bash
# The first command after cloning: installs what is missing, builds the program for 64-bit
# Windows and the native packer, and starts the program under Wine.
#
# Without a display (DISPLAY unset) it runs one extraction for show on a virtual display
# instead: it packs a small sample archive, drives the window through the real dialogs and
# prints where the extracted files and a screenshot of the window went.
#
# SECTORSIEVE_WIN64_BUILD and SECTORSIEVE_LINUX_BUILD name other build folders than the
# presets' own.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

win64="${SECTORSIEVE_WIN64_BUILD:-$root/build/win64}"
linux="${SECTORSIEVE_LINUX_BUILD:-$root/build/linux}"

scripts/setup.sh
cmake --preset win64 -B "$win64"
cmake --build "$win64" -j2
cmake --preset linux -B "$linux"
cmake --build "$linux" -j2 --target sectorsieve_cli

export WINEPREFIX="$win64/wineprefix"
program="$win64/app/SectorSieve.exe"

if [ -n "${DISPLAY:-}" ]; then
  exec cmake/wine-run.sh "$program"
fi

# No display: one extraction for show, all of it under one virtual display.
cmake/wine-run.sh cmd /c ver >/dev/null  # creates the Wine prefix on first use
demo="$WINEPREFIX/drive_c/sectorsieve-demo"
rm -rf "$demo"
mkdir -p "$demo/files" "$demo/out"
printf 'Unpacked by Orlep'"'"'s Sectorsieve.\n' >"$demo/files/readme.txt"
seq 1 5000 >"$demo/files/numbers.txt"
head -c 10000 /dev/urandom >"$demo/files/noise.bin"
"$linux/cli/sectorsieve" pack "$demo/files" "$demo/sample.img" >/dev/null

artifacts="$win64/artifacts/demo"
mkdir -p "$artifacts"
SECTORSIEVE_ARTIFACTS="$artifacts" cmake/wine-run.sh "$win64/tests/window/window_end_to_end.exe" \
  "$program" --demo 'C:\sectorsieve-demo\sample.img' 'C:\sectorsieve-demo\out' window
convert "$artifacts/window.bmp" "$artifacts/window.png"

# An entry fills whole sectors: each output starts with its file's bytes, zero-padded after.
for f in "$demo/files"/*; do
  cmp -s -n "$(stat -c %s "$f")" "$f" "$demo/out/$(basename "$f")" ||
    { echo "$(basename "$f") was not extracted intact" >&2; exit 1; }
done
echo "Extracted files: $demo/out (C:\\sectorsieve-demo\\out under Wine)"
ls -l "$demo/out"
echo "Screenshot:      $artifacts/window.png"
