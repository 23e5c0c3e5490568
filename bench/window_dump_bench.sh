#!/usr/bin/env bash
# The window's CPU during a dump, for one or more builds in one run: each
# build's tqupdater runs on Qt's offscreen platform beside a copy of the
# configuration with COM1 mapped to chipsim (paced at 115200 baud), and
# dumps KIB KiB through its own controls (TQ_WINDOW_AUTORUN). The whole
# process (window, worker and port monitor) is measured from the dump
# file's creation (the first flash byte) until the file is complete: CPU
# seconds, wall time, share of one core; then the bytes are compared.
#
#   bash bench/window_dump_bench.sh [BUILD_DIR ...]      (default: build)
#   KIB=256 bash bench/window_dump_bench.sh /work/main/build build
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/sim-device.sh
root=$(pwd)
kib=${KIB:-256}
bytes=$((kib * 1024))
builds=("$@")
[ ${#builds[@]} -gt 0 ] || builds=(build)
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
hz=$(getconf CLK_TCK)
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
size_of() { stat -c %s "$1" 2>/dev/null || echo -1; }

run() {  # build dir
  local bin=$1/bin w=$work/run
  rm -rf "$w" && mkdir -p "$w/bin/config"
  cp "$bin/tqupdater" "$w/bin/"
  cp "$root/config/"{cfg.ini,boot.bin,flash.bin} "$w/bin/config/"
  head -c "$bytes" /dev/urandom > "$w/flash.img"
  "$bin/chipsim" --flash-file "$w/flash.img" --config "$w/bin/config" --baud 115200 --repeat 50 \
    > "$w/sim.out" 2> "$w/sim.err" &
  local sim=$!
  pids+=("$sim")
  local device; device=$(sim_device "$w/sim.out" "$w/sim.err")
  sed -i "s|^COM1=.*|COM1=$device|" "$w/bin/config/cfg.ini"
  QT_QPA_PLATFORM=offscreen TQ_WINDOW_AUTORUN="dump:$bytes:$w/back.bin" HOME="$w" \
    "$w/bin/tqupdater" > "$w/win.out" 2> "$w/win.err" &
  local win=$!
  pids+=("$win")
  local t0 c0 t1 c1 limit=$((SECONDS + kib / 8 + 60))
  until [ -e "$w/back.bin" ]; do
    [ $SECONDS -lt $limit ] || { echo "$1: the dump did not start"; tail -3 "$w/win.err"; exit 1; }
    sleep 0.02
  done
  c0=$(ticks "$win"); t0=$(date +%s.%N)
  until [ "$(size_of "$w/back.bin")" -ge "$bytes" ]; do
    [ $SECONDS -lt $limit ] || { echo "$1: the dump did not end"; tail -3 "$w/win.err"; exit 1; }
    sleep 0.02
  done
  c1=$(ticks "$win"); t1=$(date +%s.%N)
  kill "$win" "$sim"
  wait "$win" "$sim" 2>/dev/null || true
  local exact=no
  cmp -s -n "$bytes" "$w/flash.img" "$w/back.bin" && exact=yes
  awk -v b="$1" -v k="$kib" -v c="$(((c1 - c0)))" -v hz="$hz" -v t0="$t0" -v t1="$t1" -v ex="$exact" 'BEGIN {
    cpu = c / hz; wall = t1 - t0
    printf "%s: window during a %d KiB dump at 115200 baud: %.2f CPU s in %.2f s wall (%.2f%% of a core), byte-exact: %s\n",
      b, k, cpu, wall, cpu * 100 / wall, ex
  }'
}

echo "window CPU during a dump, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
for b in "${builds[@]}"; do run "$b"; done
