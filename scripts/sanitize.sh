#!/usr/bin/env bash
# Builds and runs tests under a sanitizer; any report fails the run.
#
#   scripts/sanitize.sh address   every test, AddressSanitizer + UndefinedBehaviorSanitizer
#                                 (leak detection on), in build-asan/
#   scripts/sanitize.sh thread    the comm, update, cli and gui tests under
#                                 ThreadSanitizer, in build-tsan/
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=2  # the machine's two cores are shared

case ${1:-} in
  address)
    dir=build-asan option=-DTQ_SANITIZE_ADDRESS=ON labels=() ;;
  thread)
    dir=build-tsan option=-DTQ_SANITIZE_THREAD=ON labels=(comm update cli gui) ;;
  *) sed -n '4,7p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
esac

bash scripts/install-deps.sh
cmake -S . -B "$dir" -G Ninja -DTQ_WERROR=ON -DTQ_BUILD_BENCH=OFF "$option" >/dev/null
if [ ${#labels[@]} -eq 0 ]; then
  cmake --build "$dir" -j"$jobs"
  select=()
else
  # Only the areas asked for, as far as this tree has tests in them.
  known=$(cmake --build "$dir" --target help | grep -oE '^tq_tests_[a-z]+' || true)
  targets=()
  for l in "${labels[@]}"; do grep -qx "tq_tests_$l" <<<"$known" && targets+=("tq_tests_$l"); done
  cmake --build "$dir" -j"$jobs" --target tq_config "${targets[@]}"
  select=(-L "^($(IFS='|'; echo "${labels[*]}"))\$")
fi

# A sanitizer's exit status stands apart from the statuses the programs
# themselves return, so that a test expecting exit 1 from tqupdate still
# fails on a report in it.
supp=$PWD/tests/sanitizers
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:exitcode=86:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=87"
export LSAN_OPTIONS="exitcode=86"
export TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1:suppressions=$supp/tsan.supp"
echo "== $1 sanitizer: ctest ${select[*]:-(every test)} in $dir"
ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 600 "${select[@]}"
