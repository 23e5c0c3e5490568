#!/usr/bin/env bash
# Wall time of a resumed dump against a full one, at 115200 baud: a dump is
# cut by a chip that vanishes at a share of the range, then resumed with
# --resume, and both files are compared with the flash. Run after a build:
#   bash bench/resume_bench.sh [MiB] [PERCENT]     (default 1 MiB, cut at 90%)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/sim-device.sh
bin=build/bin
mib=${1:-1}
percent=${2:-90}
bytes=$((mib * 1024 * 1024))
cut=$((bytes * percent / 100))
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

dump() {  # file, tqupdate dump options; chipsim options after --
  local file=$1; shift
  local opts=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do opts+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  "$bin/chipsim" --flash-file "$work/flash.img" --repeat 100 --baud 115200 "$@" > "$work/sim.out" 2> /dev/null &
  local sim=$!
  local device; device=$(sim_device "$work/sim.out")
  local began; began=$(date +%s%N)
  local status=0
  "$bin/tqupdate" -q -p "$device" dump "${opts[@]}" 0 "$bytes" "$work/$file" > /dev/null 2>&1 || status=$?
  elapsed=$(awk "BEGIN{printf \"%.2f\", ($(date +%s%N) - $began) / 1e9}")
  kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true
  return $status
}
same() { head -c "$bytes" "$work/flash.img" | cmp -s - "$work/$1" && echo yes || echo no; }

dump full.bin
printf 'full dump of %d KiB:          %7.2f s wall, byte-exact: %s\n' $((bytes / 1024)) "$elapsed" "$(same full.bin)"
dump resumed.bin -- --vanish "dump:$cut" || true
printf 'cut at %d%% (%d bytes):      %7.2f s wall\n' "$percent" "$cut" "$elapsed"
dump resumed.bin --resume
printf 'resumed from the cut:        %7.2f s wall, byte-exact: %s\n' "$elapsed" "$(same resumed.bin)"
