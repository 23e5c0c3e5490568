#!/usr/bin/env bash
# Builds everything and runs every test. The threaded parts (port, worker,
# command line, window) also run once more under ThreadSanitizer, which must stay quiet.
# Set TQ_SKIP_TSAN=1 to leave that run out. Where the mingw-w64 cross
# compiler and wine are installed (scripts/install-deps.sh installs them), the
# Windows build of the command line is made and tested under wine as well
# (scripts/windows-test.sh; TQ_SKIP_WINDOWS=1 leaves it out).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
jobs=$(nproc)

if [ "${TQ_SKIP_TSAN:-0}" != 1 ]; then
  echo "== ThreadSanitizer build of the port, worker and command-line tests"
  cmake -S . -B build-tsan -G Ninja -DTQ_WERROR=ON -DTQ_SANITIZE_THREAD=ON -DTQ_BUILD_BENCH=OFF >/dev/null
  cmake --build build-tsan -j"$jobs" --target tq_comport_tests worker_tests tq_cli_tests tq_gui_tests tqupdate chipsim
  export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1"
  for t in tq_comport_tests worker_tests tq_cli_tests; do
    echo "== $t under ThreadSanitizer"
    build-tsan/tests/$t --gtest_brief=1
  done
  echo "== tq_gui_tests under ThreadSanitizer"
  TSAN_OPTIONS="$TSAN_OPTIONS suppressions=$PWD/tests/gui/tsan.supp" QT_QPA_PLATFORM=offscreen \
    build-tsan/tests/tq_gui_tests --gtest_brief=1
  unset TSAN_OPTIONS
fi

echo "== all tests"
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 300

if [ "${TQ_SKIP_WINDOWS:-0}" != 1 ] && command -v x86_64-w64-mingw32-g++-posix >/dev/null && command -v wine >/dev/null; then
  bash scripts/windows-test.sh
fi
