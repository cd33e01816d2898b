#!/usr/bin/env bash
# Makes the release package of one Windows flavour and checks it: one folder named like the
# ZIP file holding exactly the two programs, the read-me and the licence; programs that import
# nothing but DLLs every Windows system has and carry no debugging sections; text with Windows
# line ends, the read-me naming its version.
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

folder="SectorSieve-$version-$preset"
contents=$(unzip -Z1 "$zip" | LC_ALL=C sort | tr '\n' ' ')
expected="$folder/ $folder/License.txt $folder/ReadMe.txt $folder/SectorSieve.exe $folder/sectorsieve-cli.exe "
[ "$contents" = "$expected" ] || [ "$contents" = "${expected#"$folder/ "}" ] ||
  { echo "$zip holds \"$contents\", not \"$expected\"" >&2; exit 1; }

system_dlls='^(kernel32|user32|gdi32|comctl32|comdlg32|shell32|ole32|version|advapi32|bcrypt|msvcrt)\.dll$'
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
unzip -q "$zip" -d "$unpacked"
for exe in SectorSieve.exe sectorsieve-cli.exe; do
  $objdump -p "$unpacked/$folder/$exe" | sed -n 's/^\s*DLL Name: //p' | while read -r dll; do
    echo "$dll" | tr '[:upper:]' '[:lower:]' | grep -Eq "$system_dlls" ||
      { echo "$exe in $zip imports $dll, which is not part of Windows" >&2; exit 1; }
  done
  # Stripped: no debugging sections for users to download.
  ! $objdump -h "$unpacked/$folder/$exe" | grep -q ' \.debug' ||
    { echo "$exe in $zip carries debugging sections" >&2; exit 1; }
done
# Text for Notepad: every line ends in CR LF, and the read-me names its version.
for text in ReadMe.txt License.txt; do
  ! grep -q $'[^\r]$\|^$' "$unpacked/$folder/$text" ||
    { echo "$text in $zip has lines that do not end in CR LF" >&2; exit 1; }
done
head -1 "$unpacked/$folder/ReadMe.txt" | grep -q "Sectorsieve $version"$'\r' ||
  { echo "ReadMe.txt in $zip does not name version $version" >&2; exit 1; }
echo "$zip: $contents; system DLLs only, stripped, CR LF text"
