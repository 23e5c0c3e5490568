#!/usr/bin/env bash
# Shows tqupdater at work and captures its window: starts an X server
# (Xvfb), the chip simulator on a pseudo-terminal and the window, which
# dumps 256 KiB from the simulated chip through COM1; mid-dump the screen is
# saved to docs/window.png.
#
#   bash scripts/window-shot.sh [output.png] [scale]     (scale 2 for 200%)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/sim-device.sh
root=$(pwd)
out=${1:-$root/docs/window.png}
scale=${2:-1}
bin=$root/build/bin
bash scripts/install-deps.sh window-shot
[ -x "$bin/tqupdater" ] && [ -x "$bin/chipsim" ] || cmake --build build -j2 --target tqupdater chipsim

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A copy of the program beside its own config folder, with COM1 mapped to the simulator.
mkdir -p "$work/bin/config"
cp "$bin/tqupdater" "$work/bin/"
cp "$root/config/"{cfg.ini,boot.bin,flash.bin} "$work/bin/config/"
"$bin/chipsim" --flash-file "$work/flash.img" --config "$work/bin/config" --baud line --repeat 50 \
  >"$work/sim.out" 2>"$work/sim.err" &
pids+=($!)
device=$(sim_device "$work/sim.out" "$work/sim.err")
sed -i "s|^COM1=.*|COM1=$device|" "$work/bin/config/cfg.ini"

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 "$((700 * scale))x$((560 * scale))x24" -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.05; done

DISPLAY=$display QT_SCALE_FACTOR=$scale TQ_WINDOW_AUTORUN="dump:0x40000:$work/dump.bin" \
  "$work/bin/tqupdater" >"$work/window.out" 2>&1 &
pids+=($!)
# Wait until the dump streams in (the file grows in 64 KiB steps), then take the picture.
for _ in $(seq 600); do
  [ -f "$work/dump.bin" ] && [ "$(stat -c %s "$work/dump.bin")" -ge 65536 ] && break
  sleep 0.05
done
sleep 1
mkdir -p "$(dirname "$out")"
DISPLAY=$display import -window root -trim +repage "$out"
echo "saved $out"
