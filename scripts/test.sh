#!/usr/bin/env bash
# Builds everything and runs every test; then every test again under
# AddressSanitizer with UndefinedBehaviorSanitizer, the threaded areas (comm,
# update, cli, gui) under ThreadSanitizer, and each fuzz target for a short
# while. Where the mingw-w64 cross compiler and wine are installed
# (scripts/install-deps.sh installs them), the Windows build of the command
# line is made and tested under wine as well. Any failure, sanitizer report
# or fuzzer finding fails the run.
# TQ_SKIP_ASAN=1, TQ_SKIP_TSAN=1, TQ_SKIP_FUZZ=1 or TQ_SKIP_WINDOWS=1 leave a
# part out; TQ_FUZZ_SECONDS sets the time per fuzz target (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
stamp() { echo "== $1 done after $((SECONDS - start)) s"; }

bash scripts/build.sh
echo "== all tests"
ctest --test-dir build --output-on-failure -j"$(nproc)" --timeout 300
stamp "build and tests"

if [ "${TQ_SKIP_ASAN:-0}" != 1 ]; then
  bash scripts/sanitize.sh address
  stamp "AddressSanitizer"
fi
if [ "${TQ_SKIP_TSAN:-0}" != 1 ]; then
  bash scripts/sanitize.sh thread
  stamp "ThreadSanitizer"
fi
if [ "${TQ_SKIP_FUZZ:-0}" != 1 ]; then
  echo "== fuzz targets, ${TQ_FUZZ_SECONDS:-20} s each"
  bash scripts/fuzz.sh --all "${TQ_FUZZ_SECONDS:-20}"
  stamp "fuzzing"
fi
if [ "${TQ_SKIP_WINDOWS:-0}" != 1 ] && command -v x86_64-w64-mingw32-g++-posix >/dev/null && command -v wine >/dev/null; then
  bash scripts/windows-test.sh
  stamp "Windows build under wine"
fi
