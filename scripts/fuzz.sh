#!/usr/bin/env bash
# Builds the libFuzzer targets (preset linux-fuzz) and fuzzes for a while, the time shared
# between them: a whole extraction run, starting from a copy of the checked-in seed corpus, and
# edits of an archive beside a model of what it holds. Fails on any crash, sanitizer report,
# broken invariant or time-out; the failing input is kept in build/linux-fuzz/artifacts.
# Usage: scripts/fuzz.sh [seconds] [more libFuzzer flags]   (seconds default to 120)
set -euo pipefail
seconds="${1:-120}"
shift || true
cd "$(dirname "$0")/.."

cmake --preset linux-fuzz >/dev/null
cmake --build --preset linux-fuzz -j2

# Every execution writes real files: keep them in memory where there is a RAM disk.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp -r tests/hostile/corpus/seed "$work/corpus"
mkdir -p "$work/edits" build/linux-fuzz/artifacts
half=$(( (seconds + 1) / 2 ))

build/linux-fuzz/tests/hostile/hostile_fuzz "$work/corpus" \
  -max_total_time="$half" -timeout=20 -rss_limit_mb=2048 -max_len=32768 \
  -artifact_prefix="$PWD/build/linux-fuzz/artifacts/" -print_final_stats=1 "$@"
build/linux-fuzz/tests/hostile/edit_fuzz "$work/edits" \
  -max_total_time="$(( seconds - half ))" -timeout=20 -rss_limit_mb=2048 -max_len=96 \
  -artifact_prefix="$PWD/build/linux-fuzz/artifacts/edit-" -print_final_stats=1 "$@"
