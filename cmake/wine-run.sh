#!/usr/bin/env bash
# Runs a Windows executable under 64-bit Wine with a prefix private to the build tree,
# on a private virtual display when there is none.
set -euo pipefail
if [ -z "${DISPLAY:-}" ]; then
  # A screen of higher density (SECTORSIEVE_WINE_DPI below) has more pixels in the same size.
  scale=${SECTORSIEVE_WINE_DPI:-96}
  exec xvfb-run -a -s "-screen 0 $((1024 * scale / 96))x$((768 * scale / 96))x24" "$0" "$@"
fi
: "${WINEPREFIX:=${SECTORSIEVE_WINEPREFIX:-$PWD/wineprefix}}"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$WINEPREFIX")"
# A prefix may stand for a system in another language (SECTORSIEVE_WINE_LANG, e.g. ja_JP.UTF-8):
# Wine takes its ANSI code page from the locale, which is built beside the prefix.
lang="${SECTORSIEVE_WINE_LANG:-}"
if [ -n "$lang" ]; then
  export LOCPATH="$WINEPREFIX.locales"
  for l in "$lang" en_US.UTF-8; do
    if [ ! -d "$LOCPATH/$l" ]; then
      mkdir -p "$LOCPATH"
      localedef -i "${l%%.*}" -f "${l#*.}" "$LOCPATH/$l" || true
    fi
  done
  # The code page follows the characters' locale; the shell's own names stay in English.
  unset LC_ALL
  export LANG=en_US.UTF-8 LC_CTYPE="$lang"
fi
# Tests may start in parallel: only one of them creates the prefix.
(
  flock 9
  if [ ! -d "$WINEPREFIX/drive_c" ]; then
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
  # With no window manager on the display, Wine waits two seconds for one to confirm each window
  # it hides; windows that Wine manages itself (and draws with their captions) go at once.
  if [ ! -e "$WINEPREFIX/.unmanaged" ]; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 &&
      touch "$WINEPREFIX/.unmanaged"
  fi
  # Wine's own fonts lack the Chinese and Japanese characters that paths and names may hold: as
  # Windows does, the dialog fonts fall back to one that has them, so screenshots show them.
  if [ ! -e "$WINEPREFIX/.fontlink" ]; then
    for font in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif"; do
      wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
        /v "$font" /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f >/dev/null 2>&1 || true
    done
    wineserver -w && touch "$WINEPREFIX/.fontlink"
  fi
  # A prefix may stand for a screen of another density (SECTORSIEVE_WINE_DPI, e.g. 144).
  dpi="${SECTORSIEVE_WINE_DPI:-}"
  if [ -n "$dpi" ] && [ "$(cat "$WINEPREFIX/.dpi" 2>/dev/null)" != "$dpi" ]; then
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
      >/dev/null 2>&1 && wineserver -w && echo "$dpi" >"$WINEPREFIX/.dpi"
  fi
) 9>"$WINEPREFIX.lock"
exec wine "$@"
