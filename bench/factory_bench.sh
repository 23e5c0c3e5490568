#!/usr/bin/env bash
# The factory view with many boards against one: the view (bench driver
# factory_drive, offscreen) programs an image with read-back into 1 and then
# 16 simulated boards paced at 115200 baud, and prints both wall times, their
# ratio, the window process's CPU time (user+sys, from getrusage) and the
# longest its event loop went without turning in each run, and whether every
# flash holds the image. Run after a build:
#   bash bench/factory_bench.sh [boards] [KiB]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/sim-device.sh
bin=build/bin
boards=${1:-16}
kib=${2:-64}
base=$((0x30000))  # where factory_drive programs the image
work=$(mktemp -d)
sims=()
trap 'for p in "${sims[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT

mkdir -p "$work/config"
cp config/cfg.ini config/boot.bin config/flash.bin "$work/config/"
head -c $((kib * 1024)) /dev/urandom > "$work/image.bin"
devices=()
for i in $(seq 0 "$boards"); do  # board 0 for the single run, 1..N for the many
  "$bin/chipsim" --flash-file "$work/flash$i.img" --config "$work/config" --baud 115200 --repeat 50 \
    --end-idle 200 > "$work/sim$i.out" 2> "$work/sim$i.err" &
  sims+=($!)
done
for i in $(seq 0 "$boards"); do
  devices+=("$(sim_device "$work/sim$i.out")")
done

run() {  # label, ports...
  local label=$1; shift
  QT_QPA_PLATFORM=offscreen "$bin/factory_drive" "$work/config" "$work/image.bin" --report "$work/$label.jsonl" "$@" \
    > "$work/$label.out" 2> "$work/$label.err" || { echo "$label: run failed"; cat "$work/$label.out" "$work/$label.err"; exit 1; }
  cat "$work/$label.out"
}

read -r _ _ _ one_passed _ one_wall _ one_cpu _ _ _ one_gap < <(run one "${devices[0]}")
read -r _ _ _ all_passed _ all_wall _ all_cpu _ _ _ all_gap < <(run all "${devices[@]:1}")

exact=yes
for i in $(seq 0 "$boards"); do
  cmp -s -n $((kib * 1024)) -i "$base:0" "$work/flash$i.img" "$work/image.bin" || exact=no
done
records=$(cat "$work/all.jsonl" | wc -l)
printf 'factory view: program %d KiB with read-back at 115200 baud (simulated pacing), %d cores\n' "$kib" "$(nproc)"
awk -v b="$boards" -v ow="$one_wall" -v oc="$one_cpu" -v op="$one_passed" -v og="$one_gap" -v aw="$all_wall" \
  -v ac="$all_cpu" -v ap="$all_passed" -v ag="$all_gap" -v exact="$exact" -v rec="$records" 'BEGIN {
  printf "  1 board  : %7.2f s wall, window CPU %5.2f s (user+sys), %d passed, longest event-loop gap %.0f ms\n", ow, oc, op, og
  printf "  %d boards: %7.2f s wall, window CPU %5.2f s (user+sys), %d passed, longest event-loop gap %.0f ms, %d report records\n", b, aw, ac, ap, ag, rec
  printf "  wall ratio %.3f; window CPU per board-second %.4f; every flash byte-exact: %s\n", aw / ow, ac / (aw * b), exact
}'
