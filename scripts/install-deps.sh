#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail
# The window needs Qt 6 and a font that also has Chinese glyphs (the About
# box's OK button); the window's screenshot script needs an X server.
packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libcli11-dev help2man desktop-file-utils libssl-dev
  qt6-base-dev fonts-dejavu-core fonts-wqy-microhei xvfb xauth imagemagick
  # clang-14 with its sanitizer runtimes and libFuzzer builds the fuzz targets.
  clang-14 libclang-rt-14-dev libfuzzer-14-dev
  # The Windows build of the command line and its tests under wine; GoogleTest
  # is built from Debian's sources (googletest) for the cross compiler.
  g++-mingw-w64-x86-64-posix wine wine64 googletest)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
