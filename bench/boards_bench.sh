#!/usr/bin/env bash
# Several boards at once against one: tqupdate programs an image into 8
# simulated boards paced at 115200 baud, after programming it into one, and
# prints both wall times, their ratio, the host's CPU time and peak memory
# for the 8-board run, and whether every flash holds the image. Run after a
# build:
#   bash bench/boards_bench.sh [boards] [KiB]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/sim-device.sh
bin=build/bin
boards=${1:-8}
kib=${2:-256}
work=$(mktemp -d)
sims=()
trap 'for p in "${sims[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT

head -c $((kib * 1024)) /dev/urandom > "$work/image.bin"
devices=()
for i in $(seq 0 $((boards - 1))); do
  "$bin/chipsim" --flash-file "$work/flash$i.img" --baud 115200 --repeat 50 --end-idle 200 \
    > "$work/sim$i.out" 2> "$work/sim$i.err" &
  sims+=($!)
done
for i in $(seq 0 $((boards - 1))); do
  devices+=("$(sim_device "$work/sim$i.out")")
done

run() {  # label, ports (comma list)
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" \
    "$bin/tqupdate" -q -p "$2" program 0x100000 "$work/image.bin" > "$work/$1.out" 2> "$work/$1.err" ||
    { echo "$1: tqupdate failed"; cat "$work/$1.err"; exit 1; }
  cat "$work/time"
}

read -r one_wall one_user one_sys one_kib < <(run one "${devices[0]}")
sleep 0.5  # the simulated board starts its next session
read -r all_wall all_user all_sys all_kib < <(run all "$(IFS=,; echo "${devices[*]}")")

exact=yes
for i in $(seq 0 $((boards - 1))); do
  cmp -s -n $((kib * 1024)) -i $((0x100000)):0 "$work/flash$i.img" "$work/image.bin" || exact=no
done
printf 'program %d KiB at 115200 baud (simulated pacing), %d cores\n' "$kib" "$(nproc)"
awk -v b="$boards" -v ow="$one_wall" -v oc="$(awk "BEGIN{print $one_user + $one_sys}")" -v om="$one_kib" \
  -v aw="$all_wall" -v ac="$(awk "BEGIN{print $all_user + $all_sys}")" -v am="$all_kib" -v exact="$exact" 'BEGIN {
  printf "  1 board : %7.2f s wall, %5.2f s host CPU (user+sys), %6d KiB peak memory\n", ow, oc, om
  printf "  %d boards: %7.2f s wall, %5.2f s host CPU (user+sys), %6d KiB peak memory\n", b, aw, ac, am
  printf "  ratio %.3f (limit 1.05); every flash byte-exact: %s\n", aw / ow, exact
}'
