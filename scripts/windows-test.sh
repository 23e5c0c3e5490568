#!/usr/bin/env bash
# The Windows build of the command line: cross-built with mingw-w64 into
# build-win/ (CMake preset windows), its tests run under wine, then the
# end-to-end runs of tqupdate.exe against chipsim from the native build/.
# Needs the native build (scripts/build.sh) for chipsim.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build-env.sh
bash scripts/install-deps.sh test
bash scripts/windows-deps.sh build-win
echo "== Windows cross build (preset windows)"
cmake --preset windows "${TQ_LAUNCHER[@]}" >/dev/null
cmake --build --preset windows -j"$TQ_JOBS"
echo "== Windows tests under wine"
ctest --preset windows -j"$TQ_JOBS"
echo "== Windows end-to-end runs under wine"
bash scripts/windows-e2e.sh build build-win
