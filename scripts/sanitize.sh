#!/usr/bin/env bash
# Builds and runs tests under a sanitizer; any report fails the run.
#
#   scripts/sanitize.sh address   every test, AddressSanitizer + UndefinedBehaviorSanitizer
#                                 (leak detection on), in build-asan/ (preset asan)
#   scripts/sanitize.sh thread    the comm, update, prod, cli and gui tests under
#                                 ThreadSanitizer, in build-tsan/ (preset tsan)
#
# The presets hold the sanitizers' options. A sanitizer's exit status (86 for
# an address or leak report, 87 for undefined behaviour, 66 for a race) stands
# apart from the statuses the programs themselves return, so that a test
# expecting exit 1 from tqupdate still fails on a report in it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build-env.sh

case ${1:-} in
  address) preset=asan ;;
  thread) preset=tsan ;;
  *) sed -n '4,7p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
esac

bash scripts/install-deps.sh build
cmake --preset "$preset" "${TQ_LAUNCHER[@]}" >/dev/null
cmake --build --preset "$preset" -j"$TQ_JOBS"
echo "== $1 sanitizer: ctest --preset $preset"
ctest --preset "$preset" -j"$TQ_JOBS"
