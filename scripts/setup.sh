#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test every flavour.
#   scripts/setup.sh           everything: the Linux command, the Windows programs under Wine,
#                              the sanitizers, the package checks
#   scripts/setup.sh --linux   only what the Linux command, its tests and its .deb need
set -euo pipefail
linux=(cmake ninja-build g++ googletest libgtest-dev libcli11-dev python3 dpkg-dev)
case "${1:-}" in
  "") packages=("${linux[@]}"
        clang clang-format libclang-rt-14-dev libbenchmark-dev
        g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64
        wine wine64 xvfb xdotool x11-utils imagemagick locales fonts-wqy-microhei
        lintian man-db libarchive-tools unzip zip) ;;
  --linux) packages=("${linux[@]}") ;;
  *) echo "usage: $0 [--linux]" >&2; exit 2 ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
