#!/usr/bin/env bash
# Makes the release package of one Windows flavour and checks it: exactly the two programs and
# the read-me, and programs that import nothing but DLLs every Windows system has.
#   scripts/check_package.sh win64|win32
set -euo pipefail
cd "$(dirname "$0")/.."
preset="$1"
case "$preset" in
  win64) objdump=x86_64-w64-mingw32-objdump ;;
  win32) objdump=i686-w64-mingw32-objdump ;;
  *) echo "usage: $0 win64|win32" >&2; exit 2 ;;
esac
cmake --build --preset "$preset" --target package >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "build/$preset/CMakeCache.txt")
zip="build/$preset/SectorSieve-$version-$preset.zip"
[ -f "$zip" ] || { echo "$zip was not made" >&2; exit 1; }

contents=$(unzip -Z1 "$zip" | LC_ALL=C sort | tr '\n' ' ')
expected="ReadMe.txt SectorSieve.exe sectorsieve-cli.exe "
[ "$contents" = "$expected" ] ||
  { echo "$zip holds \"$contents\", not \"$expected\"" >&2; exit 1; }

system_dlls='^(kernel32|user32|gdi32|comctl32|comdlg32|shell32|ole32|version|advapi32|bcrypt|msvcrt)\.dll$'
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
unzip -q "$zip" -d "$unpacked"
for exe in SectorSieve.exe sectorsieve-cli.exe; do
  $objdump -p "$unpacked/$exe" | sed -n 's/^\s*DLL Name: //p' | while read -r dll; do
    echo "$dll" | tr '[:upper:]' '[:lower:]' | grep -Eq "$system_dlls" ||
      { echo "$exe in $zip imports $dll, which is not part of Windows" >&2; exit 1; }
  done
done
echo "$zip: $contents; system DLLs only"
