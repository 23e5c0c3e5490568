#!/usr/bin/env bash
# Builds everything and runs every test; then every test again under
# AddressSanitizer with UndefinedBehaviorSanitizer, the threaded areas (comm,
# update, prod, cli, gui) under ThreadSanitizer, and each fuzz target for a short
# while; then the Windows build of the command line, its tests under wine and
# its end-to-end runs. Any failure, sanitizer report or fuzzer finding fails
# the run. Builds and test runs use every core (TQ_JOBS to change that).
# TQ_SKIP_ASAN=1, TQ_SKIP_TSAN=1, TQ_SKIP_FUZZ=1 or TQ_SKIP_WINDOWS=1 leave a
# part out; TQ_FUZZ_SECONDS sets the time per fuzz target (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build-env.sh
start=$SECONDS
stamp() { echo "== $1 done after $((SECONDS - start)) s"; }
skipped() { [ "${!1:-0}" = 1 ]; }

# What only the later stages use (clang with libFuzzer, mingw-w64, wine)
# installs while the native build runs: the download and unpacking mostly
# wait on the network and the disk, the build on the cores. The native tests
# start only once it is done, so that no installation disturbs their timing.
# An install is never cut short: the script waits for it to end.
bash scripts/install-deps.sh build
deps_pid=""
deps_log=$(mktemp)
if ! skipped TQ_SKIP_FUZZ || ! skipped TQ_SKIP_WINDOWS; then
  bash scripts/install-deps.sh test >"$deps_log" 2>&1 &
  deps_pid=$!
fi
finish() {
  if [ -n "$deps_pid" ]; then wait "$deps_pid" 2>/dev/null || true; fi
  rm -f "$deps_log"
}
trap finish EXIT
deps_ready() {
  [ -z "$deps_pid" ] && return 0
  local status=0
  wait "$deps_pid" || status=$?
  deps_pid=""
  cat "$deps_log"
  [ $status -eq 0 ] || { echo "test.sh: installing the test packages failed (status $status)" >&2; exit 1; }
}

bash scripts/build.sh
deps_ready
echo "== all tests"
ctest --test-dir build --output-on-failure -j"$TQ_JOBS" --timeout 300
stamp "build and tests"

if ! skipped TQ_SKIP_ASAN; then
  bash scripts/sanitize.sh address
  stamp "AddressSanitizer"
fi
if ! skipped TQ_SKIP_TSAN; then
  bash scripts/sanitize.sh thread
  stamp "ThreadSanitizer"
fi
if ! skipped TQ_SKIP_FUZZ; then
  echo "== fuzz targets, ${TQ_FUZZ_SECONDS:-20} s each"
  bash scripts/fuzz.sh --all "${TQ_FUZZ_SECONDS:-20}"
  stamp "fuzzing"
fi
if ! skipped TQ_SKIP_WINDOWS; then
  bash scripts/windows-test.sh
  stamp "Windows build under wine"
fi
