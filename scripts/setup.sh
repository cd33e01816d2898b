#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test every flavour.
set -euo pipefail
packages=(
  cmake ninja-build g++ clang clang-format libclang-rt-14-dev googletest libgtest-dev libbenchmark-dev libcli11-dev
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64
  wine wine64 xvfb xdotool x11-utils imagemagick python3 locales fonts-wqy-microhei
  dpkg-dev lintian man-db
)
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
