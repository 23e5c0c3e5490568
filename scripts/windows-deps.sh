#!/usr/bin/env bash
# Prepares what the Windows cross build needs in build-win/deps, once:
#  - GoogleTest and GoogleMock built by the mingw-w64 compiler from Debian's
#    sources (/usr/src/googletest), installed into the prefix;
#  - CLI11 and nlohmann-json (header only) copied from libcli11-dev and
#    nlohmann-json3-dev together with their CMake package files, so that the
#    cross build never adds /usr/include, where the Linux C library's headers
#    live, to its search path.
# Usage: scripts/windows-deps.sh [BUILD_FOLDER]   (default build-win)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build-win}
deps="$root/$build/deps"
toolchain="$root/cmake/toolchain-mingw.cmake"

if [ ! -f "$deps/lib/cmake/GTest/GTestConfig.cmake" ]; then
  echo "== GoogleTest for the cross compiler into $deps"
  cmake -S /usr/src/googletest -B "$root/$build/deps-build/googletest" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DTQ_WIN_DEPS="$deps" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps" \
    -Dgtest_disable_pthreads=OFF -DBUILD_GMOCK=ON >/dev/null
  cmake --build "$root/$build/deps-build/googletest" -j"$(nproc)" >/dev/null
  cmake --install "$root/$build/deps-build/googletest" >/dev/null
fi

if [ ! -f "$deps/share/cmake/CLI11/CLI11Config.cmake" ]; then
  echo "== CLI11 headers into $deps"
  mkdir -p "$deps/include" "$deps/share/cmake"
  cp -r /usr/include/CLI "$deps/include/"
  # The package file finds its headers relative to itself: ../../../include.
  cp -r /usr/share/cmake/CLI11 "$deps/share/cmake/"
fi

if [ ! -f "$deps/share/cmake/nlohmann_json/nlohmann_jsonConfig.cmake" ]; then
  echo "== nlohmann-json headers into $deps"
  mkdir -p "$deps/include" "$deps/share/cmake"
  cp -r /usr/include/nlohmann "$deps/include/"
  # The package file finds its headers relative to itself: ../../../include.
  cp -r /usr/share/cmake/nlohmann_json "$deps/share/cmake/"
fi
