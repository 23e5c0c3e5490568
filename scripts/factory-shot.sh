#!/usr/bin/env bash
# Shows the factory view at work and captures it: starts an X server (Xvfb),
# eight chip simulators paced at the line rate, and the factory view (bench
# driver factory_drive), which programs an image into all eight; mid-run the
# screen is saved to docs/factory.png.
#
#   bash scripts/factory-shot.sh [output.png]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/sim-device.sh
root=$(pwd)
out=${1:-$root/docs/factory.png}
bin=$root/build/bin
boards=8
bash scripts/install-deps.sh window-shot
[ -x "$bin/factory_drive" ] && [ -x "$bin/chipsim" ] || cmake --build build -j2 --target factory_drive chipsim

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/config"
cp "$root/config/"{cfg.ini,boot.bin,flash.bin} "$work/config/"
head -c $((256 * 1024)) /dev/urandom > "$work/image.bin"
devices=()
for i in $(seq 1 $boards); do
  # Each board a little slower than the one before, so that the rows stand at different places.
  "$bin/chipsim" --flash-file "$work/flash$i.img" --config "$work/config" --baud line --repeat 50 \
    --program-delay $((i * 2)) >"$work/sim$i.out" 2>"$work/sim$i.err" &
  pids+=($!)
done
for i in $(seq 1 $boards); do
  devices+=("$(sim_device "$work/sim$i.out" "$work/sim$i.err")")
done

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 800x680x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.05; done
[ -e "/tmp/.X11-unix/X${display#:}" ] || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }

DISPLAY=$display "$bin/factory_drive" "$work/config" "$work/image.bin" --report "$work/report.jsonl" \
  --hold-ms 60000 "${devices[@]}" >"$work/view.out" 2>&1 &
view=$!
pids+=("$view")
# 256 KiB at the line rate take about 25 s a board: 8 s in, the rows stand mid-run.
sleep 8
# A view that ended early would leave an empty screen: no picture then, and
# the picture there stays as it was.
kill -0 "$view" 2>/dev/null || { echo "the factory view ended early" >&2; cat "$work/view.out" >&2; exit 1; }
mkdir -p "$(dirname "$out")"
DISPLAY=$display import -window root -trim +repage "$work/shot.png"
mv "$work/shot.png" "$out"
echo "saved $out"
