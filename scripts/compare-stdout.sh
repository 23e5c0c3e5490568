#!/usr/bin/env bash
# Runs the same single-board commands through two tqupdate builds against a
# fresh chipsim each and compares their stdout and exit status byte for byte:
# program (with and without --verify), erase, dump, a batch, a dump whose
# chip vanishes, and a refused run.
#   scripts/compare-stdout.sh OLD_BIN_DIR NEW_BIN_DIR
# Each folder holds tqupdate and config/; chipsim comes from NEW_BIN_DIR.
set -euo pipefail
old=$1 new=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 -c 'import sys; sys.stdout.buffer.write(bytes((i * 7 + 3) % 251 for i in range(9000)))' >"$work/image.bin"

run() {  # run NAME BIN_DIR SIM_OPTIONS -- TQUPDATE_ARGS...
  local name=$1 bin=$2 simopts=$3; shift 4
  local out="$work/$name.$(basename "$bin")"
  rm -rf "$work/cfg" "$work/flash.img" "$work/dump.bin" "$work/batch.bin"
  cp -r "$bin/config" "$work/cfg"
  python3 - "$work" <<'PY'
import sys
w = sys.argv[1]
p = w + "/cfg/cfg.ini"
s = open(p).read()
s = s.replace("[Bat]", "[Bat]\nTotalNum=3\nAct0=0\nBase0=0x40000\nFile0=%s/image.bin\nAct1=1\nBase1=0x80000\n"
              "Lenth1=4096\nAct2=2\nBase2=0x40000\nLenth2=9000\nFile2=%s/batch.bin\n\n" % (w, w), 1)
open(p, "w").write(s)
PY
  # shellcheck disable=SC2086
  "$new/chipsim" --flash-file "$work/flash.img" --config "$work/cfg" --repeat 50 --end-idle 200 $simopts \
    >"$work/sim.out" 2>"$work/sim.err" &
  local sim=$!
  local dev=""
  for _ in $(seq 50); do dev=$(head -1 "$work/sim.out" 2>/dev/null || true); [ -n "$dev" ] && break; sleep 0.1; done
  local status=0
  "$bin/tqupdate" -c "$work/cfg" -p "$dev" "$@" >"$out.stdout" 2>"$out.stderr" || status=$?
  echo "$status" >"$out.status"
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
}

fail=0
while IFS='|' read -r name simopts args; do
  for bin in "$old" "$new"; do
    # shellcheck disable=SC2086
    run "$name" "$bin" "$simopts" -- $(eval echo $args)
  done
  for part in stdout status; do
    if cmp -s "$work/$name.$(basename "$old").$part" "$work/$name.$(basename "$new").$part"; then
      echo "same      $name $part ($(wc -l <"$work/$name.$(basename "$new").$part") lines, last: $(tail -1 "$work/$name.$(basename "$new").$part"))"
    else
      echo "DIFFERENT $name $part"
      diff "$work/$name.$(basename "$old").$part" "$work/$name.$(basename "$new").$part" || true
      fail=1
    fi
  done
done <<'CASES'
program||program 0x20000 "$work/image.bin"
program-verify||program 0x20000 "$work/image.bin" --verify
erase||erase 0x10000 8192
dump||dump 0 16384 "$work/dump.bin"
batch||batch
dump-vanishes|--vanish dump:5000|dump 0 16384 "$work/dump.bin"
retry-failed|--nak boot:10|erase 0 4096
refused||dump 0 0 "$work/dump.bin"
CASES
exit $fail
