#!/usr/bin/env bash
# Runs a Windows executable under 64-bit Wine with a prefix private to the build tree,
# on a private virtual display when there is none.
set -euo pipefail
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
: "${WINEPREFIX:=${SECTORSIEVE_WINEPREFIX:-$PWD/wineprefix}}"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$WINEPREFIX")"
# Tests may start in parallel: only one of them creates the prefix.
(
  flock 9
  if [ ! -d "$WINEPREFIX/drive_c" ]; then
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
) 9>"$WINEPREFIX.lock"
exec wine "$@"
