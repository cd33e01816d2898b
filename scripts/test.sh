#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds every flavour warning-free and runs every test:
# native, native under AddressSanitizer/UBSan, the run's tests under ThreadSanitizer, and the
# Windows x86_64 build under Wine.
# The i686 Windows build is compiled and checked, not run; the release packages (ZIP files for
# Windows, the command line's .deb) are made and checked.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

echo "== format"
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror

for preset in linux linux-sanitize linux-tsan win64 win32; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

# The i686 program is not run here: check that its resources made it into the file.
exe=build/win32/app/SectorSieve.exe
strings -el "$exe" | grep -qx "Extract those .img fast!" &&
  grep -q "Microsoft.Windows.Common-Controls" "$exe" ||
  { echo "$exe lacks its version record or manifest" >&2; exit 1; }

echo "== release packages"
scripts/check_package.sh win64
scripts/check_package.sh win32
scripts/check_deb.sh

echo "== test linux"
ctest --preset linux -j2
echo "== test linux-sanitize"
ctest --preset linux-sanitize -j2
echo "== test linux-tsan"
ctest --preset linux-tsan -j2
echo "== test win64 (Wine)"
ctest --preset win64
echo "== fuzz (libFuzzer, 2 minutes)"
scripts/fuzz.sh 120
