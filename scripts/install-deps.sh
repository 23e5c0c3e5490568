#!/usr/bin/env bash
# Installs the Debian packages a task needs, when missing.
#
#   scripts/install-deps.sh build         the build, its tests and the demo (the default)
#   scripts/install-deps.sh test          what the other test stages add: clang
#                                         with libFuzzer, mingw-w64 and wine
#   scripts/install-deps.sh window-shot   an X server and ImageMagick for
#                                         scripts/window-shot.sh
#
# Nothing the build or its tests use is in the test set, so that set can
# install while the build and its tests run.
set -euo pipefail

case ${1:-build} in
  build)
    # The window needs Qt 6 and a font that also has Chinese glyphs (the
    # About box's OK button); the installed tree gets manual pages from
    # help2man; OpenSSL's libcrypto gives the report's SHA-256 and
    # nlohmann-json writes its records.
    packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libcli11-dev libssl-dev nlohmann-json3-dev qt6-base-dev
      help2man desktop-file-utils fonts-dejavu-core fonts-wqy-microhei) ;;
  test)
    # clang-14 with its sanitizer runtimes and libFuzzer builds the fuzz
    # targets. The Windows build of the command line and its tests under
    # wine; GoogleTest is built from Debian's sources (googletest) for the
    # cross compiler.
    packages=(clang-14 libclang-rt-14-dev libfuzzer-14-dev g++-mingw-w64-x86-64-posix wine wine64 googletest) ;;
  window-shot)
    packages=(xvfb xauth imagemagick fonts-dejavu-core fonts-wqy-microhei) ;;
  *) sed -n '4,8p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "== installing (${1:-build}): ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
# apt-get waits for another apt-get's lock rather than failing at once.
apt=(env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600)
$SUDO "${apt[@]}" update -qq
$SUDO "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}" </dev/null >/dev/null
