// Requests from outside the running simulator: stop it, or press the chip's
// reset button. On Linux SIGTERM and SIGINT stop it, SIGUSR1 resets the chip,
// and a host that goes away mid-write (SIGPIPE) does not end it.
#pragma once

#include <atomic>

struct SimSignalFlags {
  std::atomic<bool> stop{false};
  std::atomic<bool> reset{false};
};

// Installs the handlers once and returns the flags they set.
SimSignalFlags& InstallSimSignalHandlers();
