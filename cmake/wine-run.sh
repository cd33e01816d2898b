#!/usr/bin/env bash
# Runs a Windows test executable under 64-bit Wine with a prefix private to the build tree.
set -euo pipefail
: "${WINEPREFIX:=${SECTORSIEVE_WINEPREFIX:-$PWD/wineprefix}}"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -d "$WINEPREFIX/drive_c" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi
exec wine "$@"
