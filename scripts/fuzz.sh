#!/usr/bin/env bash
# Coverage-guided fuzzing with libFuzzer (clang), in build-fuzz/.
#
#   scripts/fuzz.sh TARGET [SECONDS]   run one target (default 20 s)
#   scripts/fuzz.sh --all [SECONDS]    run every target, one per core at a time
#   scripts/fuzz.sh --merge TARGET     fold what earlier runs found into the
#                                      kept corpus tests/fuzz/corpus/TARGET, minimised
#   scripts/fuzz.sh --list             name the targets
#
# The targets build with the CMake preset fuzz (clang-14). A run starts from
# the kept corpus and collects new inputs in build-fuzz/corpus/TARGET. A crash or a broken invariant is saved under
# build-fuzz/crashes/TARGET/ and fails the run; copy it into the kept corpus
# once the fault is fixed, so that the replay test keeps it fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build-env.sh
targets=(fuzz_profile fuzz_settings_text fuzz_engine fuzz_chipcore fuzz_cli_args)

usage() { sed -n '4,8p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }

build() {
  bash scripts/install-deps.sh build
  bash scripts/install-deps.sh test
  cmake --preset fuzz "${TQ_LAUNCHER[@]}" >/dev/null
  cmake --build --preset fuzz -j"$TQ_JOBS" --target "$@"
}

# run TARGET SECONDS: prints one summary line; fails on a crash.
run() {
  local t=$1 seconds=$2
  mkdir -p "build-fuzz/corpus/$t" "build-fuzz/crashes/$t" build-fuzz/logs
  local log=build-fuzz/logs/$t.log status=0
  build-fuzz/fuzz/"$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="build-fuzz/crashes/$t/" "build-fuzz/corpus/$t" "tests/fuzz/corpus/$t" >"$log" 2>&1 || status=$?
  local execs cov
  execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || echo "?")
  printf '%-20s %4ss  executions %-10s cov %-6s %s\n' "$t" "$seconds" "$execs" "$cov" \
    "$([ $status -eq 0 ] && echo ok || echo "FAILED (see $log)")"
  if [ $status -ne 0 ]; then
    grep -E 'ERROR|invariant broken|SUMMARY|Test unit written' "$log" | head -20 >&2
    return 1
  fi
}

[ $# -ge 1 ] || usage
case $1 in
  --list) printf '%s\n' "${targets[@]}" ;;
  --all)
    build "${targets[@]}"
    # Each target is one process on one core and runs its full time however
    # many run beside it; the targets all take the same time, so the oldest
    # is the next to end.
    failed=0
    pids=()
    for t in "${targets[@]}"; do
      if [ ${#pids[@]} -ge "$TQ_JOBS" ]; then
        wait "${pids[0]}" || failed=1
        pids=("${pids[@]:1}")
      fi
      run "$t" "${2:-20}" &
      pids+=($!)
    done
    for p in "${pids[@]}"; do wait "$p" || failed=1; done
    exit $failed ;;
  --merge)
    [ $# -eq 2 ] || usage
    build "$2"
    mkdir -p "build-fuzz/corpus/$2"
    build-fuzz/fuzz/"$2" -merge=1 "tests/fuzz/corpus/$2" "build-fuzz/corpus/$2" ;;
  -*) usage ;;
  *)
    printf '%s\n' "${targets[@]}" | grep -qx "$1" || { echo "unknown target $1; one of: ${targets[*]}" >&2; exit 2; }
    build "$1"
    run "$1" "${2:-20}" ;;
esac
