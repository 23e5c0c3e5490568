// Ctrl-C for the command line. The platform's handler (a signal thread on
// POSIX, a console control handler on Windows; cli/platform/) only sets a
// flag and calls back, so that the main loop wakes and stops the update in
// order instead of being interrupted somewhere.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

class CInterruptWatch {
public:
  // `onInterrupt` runs on the handler's thread; it must only wake someone.
  explicit CInterruptWatch(std::function<void()> onInterrupt);
  ~CInterruptWatch();
  CInterruptWatch(const CInterruptWatch&) = delete;
  CInterruptWatch& operator=(const CInterruptWatch&) = delete;

  // Set once Ctrl-C (or SIGTERM, SIGHUP, Ctrl-Break) has come.
  std::atomic<bool> interrupted{false};

  // What the handler does: sets the flag, then calls back.
  void Raise() {
    interrupted = true;
    if (m_onInterrupt) m_onInterrupt();
  }

private:
  struct Platform;
  std::function<void()> m_onInterrupt;
  std::unique_ptr<Platform> m_platform;
};

// A closed stdout (tqupdate ... | head) must not kill a run mid-dump: the
// write fails and the update goes on to its orderly end. (POSIX: SIGPIPE is
// ignored; Windows raises no signal for it.)
void IgnoreBrokenPipe();
