#!/usr/bin/env bash
# End-to-end figures for the command line against the simulator: wall time
# and peak memory of tqupdate for a dump, on an instant line and at 115200
# baud, and whether every byte arrived. Run after a build:
#   bash bench/cli_dump_bench.sh [MiB]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/sim-device.sh
bin=build/bin
mib=${1:-4}
bytes=$((mib * 1024 * 1024))
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

run() {  # label, extra chipsim options...
  local label=$1; shift
  "$bin/chipsim" --flash-file "$work/flash.img" --repeat 100 "$@" > "$work/sim.out" 2> /dev/null &
  local sim=$!
  local device; device=$(sim_device "$work/sim.out")
  /usr/bin/time -f "%e %M" -o "$work/time" "$bin/tqupdate" -q -p "$device" dump 0 "$bytes" "$work/dump.bin" > /dev/null
  kill "$sim"; wait "$sim" 2>/dev/null || true
  read -r secs kib < "$work/time"
  local same=no
  head -c "$bytes" "$work/flash.img" | cmp -s - "$work/dump.bin" && same=yes
  printf '%-14s %6d KiB dump: %7.2f s wall, %6d KiB peak memory, byte-exact: %s\n' "$label" $((bytes / 1024)) "$secs" "$kib" "$same"
}

run "instant line"
run "115200 baud" --baud 115200
echo "(wire time of the dump alone at 115200 baud: $(awk "BEGIN{printf \"%.2f\", $bytes*10/115200}") s; the boot and loader stages add about 3 s)"
