// Ctrl-C, SIGTERM and SIGHUP (the terminal or ssh session went away) on
// POSIX: taken by a thread of their own (blocked everywhere else), which
// raises the watch instead of interrupting the main loop somewhere. A
// hang-up thus ends the run as Ctrl-C does: the update stopped in order, an
// incomplete dump kept as its .part, exit status 130.
#include "cli/InterruptWatch.h"

#include <csignal>
#include <pthread.h>
#include <thread>

struct CInterruptWatch::Platform {
  sigset_t set{}, old{};
  std::atomic<bool> closing{false};
  std::thread thread;
};

CInterruptWatch::CInterruptWatch(std::function<void()> onInterrupt)
    : m_onInterrupt(std::move(onInterrupt)), m_platform(std::make_unique<Platform>()) {
  Platform& p = *m_platform;
  sigemptyset(&p.set);
  sigaddset(&p.set, SIGINT);
  sigaddset(&p.set, SIGTERM);
  sigaddset(&p.set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &p.set, &p.old);
  p.thread = std::thread([this, &p] {
    int sig = 0;
    while (sigwait(&p.set, &sig) == 0) {
      if (p.closing.load()) return;
      Raise();
    }
  });
}

CInterruptWatch::~CInterruptWatch() {
  Platform& p = *m_platform;
  p.closing = true;
  pthread_kill(p.thread.native_handle(), SIGTERM);
  p.thread.join();
  pthread_sigmask(SIG_SETMASK, &p.old, nullptr);
}

void IgnoreBrokenPipe() { std::signal(SIGPIPE, SIG_IGN); }
