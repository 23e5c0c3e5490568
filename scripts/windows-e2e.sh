#!/usr/bin/env bash
# End-to-end runs of the Windows command line under wine against the chip
# simulator: chipsim (built natively for Linux) serves a pseudo-terminal that
# wine maps to COM5, and tqupdate.exe programs an image with --verify, dumps
# it back (byte for byte the same) twice over the same file, then dumps from a chip that vanishes
# mid-dump, which must end with exit status 1 within seconds.
# Usage: scripts/windows-e2e.sh [NATIVE_BUILD] [WINDOWS_BUILD]  (default build, build-win)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
native="$root/${1:-build}"
win="$root/${2:-build-win}"
exe="$win/bin/tqupdate.exe"
sim="$native/bin/chipsim"
for f in "$exe" "$sim"; do [ -x "$f" ] || { echo "windows-e2e: $f is missing; build it first" >&2; exit 2; }; done

source "$root/scripts/windows-wine-env.sh" "$win"
work=$(mktemp -d)
link="$work/com5"
sim_pid=""
stop_sim() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  sim_pid=""
}
cleanup() { stop_sim; wine_down; rm -rf "$work"; }
trap cleanup EXIT

# A Windows path for a file of ours: wine shows the Linux root as drive Z:.
winpath() { local p=$1; echo "Z:${p//\//\\}"; }

# COM5 is the simulator's link; wine reads its port map when its server starts.
wine_up
wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$link" /f </dev/null >/dev/null 2>&1
wine_down
wine_up

start_sim() {
  stop_sim
  rm -f "$link"
  "$sim" --flash-file "$work/flash.img" --repeat 100 --link "$link" --log "$work/chipsim.log" "$@" \
    > "$work/chipsim.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do [ -L "$link" ] && return 0; sleep 0.05; done
  echo "windows-e2e: chipsim did not start" >&2
  cat "$work/chipsim.out" >&2
  exit 1
}

# 24 KiB starting with the bytes text mode would corrupt: 0x1A (end of file
# for a text-mode read), LF and CR LF (a text-mode write turns LF into CR LF).
{ printf '\x1a\n\r\n\x1a\x00\n'; head -c 24569 /dev/urandom; } > "$work/image.bin"
size=$(stat -c %s "$work/image.bin")

start_sim
echo "== tqupdate.exe -p COM5 program 0x100000 image.bin --verify (under wine)"
wine "$exe" -q -p COM5 program 0x100000 "$(winpath "$work/image.bin")" --verify

echo "== tqupdate.exe -p COM5 dump 0x100000 $size readback.bin"
wine "$exe" -q -p COM5 dump 0x100000 "$size" "$(winpath "$work/readback.bin")"
if cmp "$work/image.bin" "$work/readback.bin"; then
  echo "== the dump matches the image byte for byte ($size bytes)"
else
  echo "windows-e2e: the dump differs from the image" >&2
  exit 1
fi

# A second dump over the same file: the finished FILE.part must replace FILE,
# which the C library's rename() cannot do on Windows.
echo "== tqupdate.exe -p COM5 dump 0x100000 $size readback.bin, over the file of the first dump"
wine "$exe" -q -p COM5 dump 0x100000 "$size" "$(winpath "$work/readback.bin")"
if ! cmp "$work/image.bin" "$work/readback.bin" || [ -e "$work/readback.bin.part" ]; then
  echo "windows-e2e: the second dump did not replace the first byte for byte" >&2
  exit 1
fi
echo "== the second dump replaced the first byte for byte"

echo "== the same dump from a chip that vanishes after 8000 bytes"
start_sim --vanish dump:8000
began=$(date +%s%N)
set +e
wine "$exe" -q -p COM5 --timeout 20 dump 0x100000 "$size" "$(winpath "$work/cut.bin")"
status=$?
set -e
elapsed_ms=$(( ($(date +%s%N) - began) / 1000000 ))
echo "== exit status $status after $elapsed_ms ms; the file holds $(stat -c %s "$work/cut.bin" 2>/dev/null || echo 0) bytes"
if [ "$status" -ne 1 ] || [ "$elapsed_ms" -gt 10000 ]; then
  echo "windows-e2e: a vanished chip must end the run with status 1 within 10 s" >&2
  exit 1
fi

echo "== Ctrl-C (SIGINT, which wine turns into CTRL_C_EVENT) during a slow dump"
start_sim --baud 9600
wine "$exe" -q -p COM5 dump 0x100000 "$size" "$(winpath "$work/int.bin")" > "$work/int.out" 2>&1 &
run_pid=$!
for _ in $(seq 100); do grep -q "Flash File length" "$work/int.out" 2>/dev/null && break; sleep 0.1; done
kill -INT "$run_pid"
set +e
wait "$run_pid"
status=$?
set -e
echo "== exit status $status: $(tail -n 1 "$work/int.out")"
if [ "$status" -ne 130 ]; then
  echo "windows-e2e: Ctrl-C must end the run with status 130" >&2
  exit 1
fi
echo "== windows end-to-end runs passed"
