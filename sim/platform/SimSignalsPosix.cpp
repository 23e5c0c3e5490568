#include <signal.h>

#include "sim/SimSignals.h"

namespace {

SimSignalFlags g_flags;

void OnStopSignal(int) { g_flags.stop = true; }
void OnResetSignal(int) { g_flags.reset = true; }

}  // namespace

SimSignalFlags& InstallSimSignalHandlers() {
  static_assert(std::atomic<bool>::is_always_lock_free, "the handlers may only touch lock-free flags");
  struct sigaction sa {};
  sigemptyset(&sa.sa_mask);
  sa.sa_handler = OnStopSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  sa.sa_handler = OnResetSignal;
  sigaction(SIGUSR1, &sa, nullptr);
  sa.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &sa, nullptr);
  return g_flags;
}
