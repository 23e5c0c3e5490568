#!/usr/bin/env bash
# Host CPU of the command line against simulated boards at 115200 baud, for
# one or more builds in one run (say the build before a change and the one
# after it), so that their figures come from the same machine and moment:
#   1. a dump of KIB KiB and a program of the same size on one board:
#      tqupdate's CPU seconds (user+sys), its wall time, the simulator's CPU;
#   2. BOARDS boards programming the image and reading it back (a dump of
#      each) at once, against one board doing the same: wall times, their
#      ratio, tqupdate's CPU seconds and its share of one core.
# Every run checks that the bytes are right. CPU seconds hold up on a loaded
# machine; wall times do not.
#
#   bash bench/host_cpu_bench.sh [BUILD_DIR ...]      (default: build)
#   BOARDS=16 KIB=256 bash bench/host_cpu_bench.sh /work/main/build build
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/sim-device.sh
boards=${BOARDS:-16}
kib=${KIB:-256}
bytes=$((kib * 1024))
builds=("$@")
[ ${#builds[@]} -gt 0 ] || builds=(build)
work=$(mktemp -d)
sims=()
stop_sims() {
  for p in "${sims[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${sims[@]}"; do wait "$p" 2>/dev/null || true; done
  sims=()
}
trap 'stop_sims; rm -rf "$work"' EXIT
head -c "$bytes" /dev/urandom > "$work/image.bin"

cpu_of() {  # pid: its user+sys CPU seconds so far
  awk -v hz="$(getconf CLK_TCK)" '{ printf "%.2f", ($14 + $15) / hz }' "/proc/$1/stat"
}

start_sims() {  # bin, count: devices into the array devices, pids into sims
  devices=()
  for i in $(seq 0 $(($2 - 1))); do
    head -c "$bytes" /dev/urandom > "$work/flash$i.img"
    "$1/chipsim" --flash-file "$work/flash$i.img" --baud 115200 --repeat 50 --end-idle 200 \
      > "$work/sim$i.out" 2> "$work/sim$i.err" &
    sims+=($!)
  done
  for i in $(seq 0 $(($2 - 1))); do
    devices+=("$(sim_device "$work/sim$i.out")")
  done
}

timed() {  # label, command...: prints "wall user+sys", fails loudly
  local label=$1; shift
  /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" > "$work/$label.out" 2> "$work/$label.err" ||
    { echo "$label: failed" >&2; tail -5 "$work/$label.err" >&2; exit 1; }
  awk '{ printf "%s %.2f\n", $1, $2 + $3 }' "$work/time"
}

one_board() {  # bin
  local bin=$1 wall cpu sim0 res
  start_sims "$bin" 1
  sleep 0.3
  res=$(timed dump "$bin/tqupdate" -q -p "${devices[0]}" dump 0 "$bytes" "$work/dump.bin")
  read -r wall cpu <<< "$res"
  cmp -s -n "$bytes" "$work/flash0.img" "$work/dump.bin" || { echo "dump: bytes differ" >&2; exit 1; }
  sim0=$(cpu_of "${sims[0]}")
  printf '  dump    %4d KiB: tqupdate %5.2f CPU s, %6.2f s wall; chipsim %5.2f CPU s\n' "$kib" "$cpu" "$wall" "$sim0"
  sleep 0.5
  res=$(timed program "$bin/tqupdate" -q -p "${devices[0]}" program 0 "$work/image.bin")
  read -r wall cpu <<< "$res"
  cmp -s -n "$bytes" "$work/flash0.img" "$work/image.bin" || { echo "program: flash differs" >&2; exit 1; }
  printf '  program %4d KiB: tqupdate %5.2f CPU s, %6.2f s wall; chipsim %5.2f CPU s\n' "$kib" "$cpu" "$wall" \
    "$(awk -v a="$(cpu_of "${sims[0]}")" -v b="$sim0" 'BEGIN { printf "%.2f", a - b }')"
  stop_sims
}

program_and_read_back() {  # bin, count: prints "wall cpu"
  local bin=$1 n=$2 ports w1 c1 w2 c2 res back
  trap stop_sims EXIT  # runs in a subshell of its own
  start_sims "$bin" "$n"
  ports=$(IFS=,; echo "${devices[*]}")
  sleep 0.3
  res=$(timed "prog$n" "$bin/tqupdate" -q -p "$ports" program 0 "$work/image.bin")
  read -r w1 c1 <<< "$res"
  sleep 0.5  # each simulated board starts its next session
  # One board's dump file is named as given; several need {port}.
  back="$work/back-{port}.bin"
  [ "$n" -gt 1 ] || back="$work/back-$(basename "$(dirname "${devices[0]}")")-$(basename "${devices[0]}").bin"
  res=$(timed "back$n" "$bin/tqupdate" -q -p "$ports" dump 0 "$bytes" "$back")
  read -r w2 c2 <<< "$res"
  for i in $(seq 0 $((n - 1))); do
    local name; name=$(basename "$(dirname "${devices[$i]}")")-$(basename "${devices[$i]}")
    cmp -s "$work/image.bin" "$work/back-$name.bin" || { echo "board $i: read-back differs" >&2; exit 1; }
  done
  stop_sims
  awk -v a="$w1" -v b="$w2" -v c="$c1" -v d="$c2" 'BEGIN { printf "%.2f %.2f\n", a + b, c + d }'
}

echo "host CPU at 115200 baud (simulated pacing), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
for b in "${builds[@]}"; do
  bin=$b/bin
  [ -x "$bin/tqupdate" ] && [ -x "$bin/chipsim" ] || { echo "$b: no tqupdate or chipsim in $bin"; exit 1; }
  echo "$b:"
  one_board "$bin"
  res=$(program_and_read_back "$bin" 1)
  read -r ow oc <<< "$res"
  res=$(program_and_read_back "$bin" "$boards")
  read -r aw ac <<< "$res"
  awk -v n="$boards" -v ow="$ow" -v oc="$oc" -v aw="$aw" -v ac="$ac" 'BEGIN {
    printf "  program + read-back, 1 board : %7.2f s wall, tqupdate %5.2f CPU s (%.2f%% of a core)\n", ow, oc, oc * 100 / ow
    printf "  program + read-back, %d boards: %7.2f s wall, tqupdate %5.2f CPU s (%.2f%% of a core)\n", n, aw, ac, ac * 100 / aw
    printf "  wall ratio %.3f; every read-back byte-exact\n", aw / ow
  }'
done
