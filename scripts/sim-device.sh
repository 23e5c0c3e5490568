# Sourced by the scripts and benchmarks that start chip simulators.
#
# sim_device OUT [ERR]: waits up to 5 s for chipsim to print its
# pseudo-terminal's path as the first line of OUT and prints it; when none
# comes, says so with what chipsim wrote to ERR and fails, so that a script
# stops there instead of running a tool against an empty port name.
sim_device() {
  local out=$1 err=${2:-} device=""
  for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.05; done
  [ -s "$out" ] && device=$(head -n 1 "$out")
  if [ -z "$device" ]; then
    echo "chipsim did not start (no device in $out)" >&2
    [ -n "$err" ] && [ -s "$err" ] && cat "$err" >&2
    return 1
  fi
  printf '%s\n' "$device"
}
