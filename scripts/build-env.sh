# Sourced by the build scripts: TQ_JOBS, how many jobs a build or a test run
# starts (the machine's core count unless set), and TQ_LAUNCHER, the CMake
# option that compiles through ccache when it is installed.
TQ_JOBS=${TQ_JOBS:-$(nproc)}
TQ_LAUNCHER=()
if command -v ccache >/dev/null; then TQ_LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
# Paths below the checkout count relative to it, so that another checkout of
# the same sources (a worktree, a fresh clone) finds the compiled objects.
if [ ${#TQ_LAUNCHER[@]} -gt 0 ] && [ -z "${CCACHE_BASEDIR:-}" ]; then
  export CCACHE_BASEDIR=$PWD
fi
