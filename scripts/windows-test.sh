#!/usr/bin/env bash
# The Windows build of the command line: cross-built with mingw-w64 into
# build-win/ (CMake preset "windows"), its tests run under wine, then the
# end-to-end runs of tqupdate.exe against chipsim from the native build/.
# Needs the native build (scripts/build.sh) for chipsim.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/windows-deps.sh build-win
echo "== Windows cross build (preset windows)"
cmake --preset windows >/dev/null
cmake --build --preset windows
echo "== Windows tests under wine"
ctest --preset windows
echo "== Windows end-to-end runs under wine"
bash scripts/windows-e2e.sh build build-win
