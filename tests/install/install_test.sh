#!/usr/bin/env bash
# Installs the build into a temporary root with DESTDIR and runs the
# installed programs as a new user would: no config/ beside them, HOME an
# empty folder. The user's folder must be made from the installed defaults,
# a dump against the installed simulator must work, and a second run must
# keep the user's own changes to cfg.ini.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$work/root" cmake --install "$build" --prefix /usr >/dev/null
bin="$work/root/usr/bin"
[ -x "$bin/tqupdate" ] && [ -x "$bin/chipsim" ] || fail "programs not installed in /usr/bin"
[ -e "$bin/config" ] && fail "a config/ folder was installed beside the programs"
for f in cfg.ini boot.bin flash.bin; do
  [ -f "$work/root/usr/share/tqupdater/config/$f" ] || fail "default $f not installed"
done
for page in tqupdate chipsim; do
  [ -f "$work/root/usr/share/man/man1/$page.1" ] || fail "no manual page for $page"
done

export HOME="$work/home"
unset XDG_CONFIG_HOME
mkdir -p "$HOME"
"$bin/tqupdate" --version | grep -q "^tqupdate " || fail "tqupdate --version"

"$bin/chipsim" --flash-file "$work/flash.img" --repeat 50 > "$work/sim.out" 2> "$work/sim.log" &
sim_pid=$!
for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.05; done
device=$(head -n 1 "$work/sim.out")
[ -n "$device" ] || fail "chipsim printed no device: $(cat "$work/sim.log")"

"$bin/tqupdate" -q -p "$device" --timeout 20 dump 0 4096 "$work/first.bin" > "$work/run1.log" 2>&1 ||
  fail "first dump: $(cat "$work/run1.log")"
user_cfg="$HOME/.config/tqupdater/cfg.ini"
[ -f "$user_cfg" ] || fail "the user's folder was not made"
cmp -s "$user_cfg" "$work/root/usr/share/tqupdater/config/cfg.ini" || fail "the user's cfg.ini is not the default"
[ "$(stat -c %s "$work/first.bin")" = 4096 ] || fail "first dump has the wrong size"

# The user changes a remembered selection; the next run must keep it.
sed -i 's/^SdramSize=1/SdramSize=0/' "$user_cfg"
cp "$user_cfg" "$work/changed.ini"
"$bin/tqupdate" -q -p "$device" --timeout 20 dump 0 4096 "$work/second.bin" > "$work/run2.log" 2>&1 ||
  fail "second dump: $(cat "$work/run2.log")"
cmp -s "$user_cfg" "$work/changed.ini" || fail "the second run changed the user's cfg.ini"
cmp -s "$work/first.bin" "$work/second.bin" || fail "the two dumps differ"
echo "install test passed"
