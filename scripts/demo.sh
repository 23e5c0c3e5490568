#!/usr/bin/env bash
# Builds everything, starts the chip simulator on a pseudo-terminal and runs
# the command line against it: program a sample image with read-back
# verification, then dump it back and compare. No hardware needed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/sim-device.sh
bash scripts/build.sh
bin=build/bin
work=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A sample application image: 64 KiB made of the sample loader, repeated.
for _ in 1 2 3 4 5 6 7; do cat config/flash.bin; done > "$work/repeated.bin"
head -c 65536 "$work/repeated.bin" > "$work/sample.bin"

# The simulated chip, paced like a real line at 115200 baud.
"$bin/chipsim" --flash-file "$work/flash.img" --repeat 100 --baud 115200 --console \
  --log "$work/chipsim.log" > "$work/chipsim.out" &
sim_pid=$!
device=$(sim_device "$work/chipsim.out")
echo "== chip simulator on $device"

echo "== tqupdate program 0x100000 sample.bin --verify"
"$bin/tqupdate" -p "$device" program 0x100000 "$work/sample.bin" --verify

echo "== tqupdate dump 0x100000 65536 readback.bin"
"$bin/tqupdate" -p "$device" dump 0x100000 65536 "$work/readback.bin"

if cmp -s "$work/sample.bin" "$work/readback.bin"; then
  echo "== the dump matches the image byte for byte"
else
  echo "== the dump differs from the image" >&2
  exit 1
fi
