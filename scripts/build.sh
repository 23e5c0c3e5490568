#!/usr/bin/env bash
# Configures and builds everything into build/ (CMake preset dev: warnings
# are errors), with as many jobs as the machine has cores.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build-env.sh
bash scripts/install-deps.sh build
cmake --preset dev "${TQ_LAUNCHER[@]}" "$@" >/dev/null
cmake --build --preset dev -j"$TQ_JOBS"
