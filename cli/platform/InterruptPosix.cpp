// Ctrl-C and SIGTERM on POSIX: taken by a thread of their own (blocked
// everywhere else), which raises the watch instead of interrupting the main
// loop somewhere.
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
