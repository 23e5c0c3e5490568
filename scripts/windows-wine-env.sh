# Sourced by the Windows scripts: a wine prefix of the build's own
# (BUILD/wine), quiet. wine_up starts wine's server and services once, with
# their output detached (they outlive the wine run that starts them and would
# otherwise hold the caller's pipes open), so that every later wine run
# starts in a fraction of a second; wine_down ends them.
# Usage: source scripts/windows-wine-env.sh BUILD_FOLDER
export WINEPREFIX="$1/wine"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts

wine_up() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== creating the wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
  fi
  # The server first, persistent and detached; a server that a wine run
  # starts on demand writes to that run's stderr and ends after 3 s idle.
  wineserver -p </dev/null >/dev/null 2>&1 || true
  wineboot -i </dev/null >/dev/null 2>&1 || true
}

wine_down() {
  wineserver -k </dev/null >/dev/null 2>&1 || true
  wineserver -w </dev/null >/dev/null 2>&1 || true
}
