#include "cli/CliSignals.h"

#include <pthread.h>

CSignalWatch::CSignalWatch() {
  sigemptyset(&m_set);
  sigaddset(&m_set, SIGINT);
  sigaddset(&m_set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &m_set, &m_old);
  m_thread = std::thread([this] {
    int sig = 0;
    while (sigwait(&m_set, &sig) == 0) {
      if (m_closing.load()) return;
      m_interrupted = true;
      WakeAll();
    }
  });
}

CSignalWatch::~CSignalWatch() {
  m_closing = true;
  pthread_kill(m_thread.native_handle(), SIGTERM);
  m_thread.join();
  pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
}

int CSignalWatch::Subscribe(std::function<void()> wake) {
  std::lock_guard lock(m_mutex);
  const int id = m_nextId++;
  m_listeners.emplace(id, std::move(wake));
  return id;
}

void CSignalWatch::Unsubscribe(int id) {
  std::lock_guard lock(m_mutex);
  m_listeners.erase(id);
}

void CSignalWatch::WakeAll() {
  std::lock_guard lock(m_mutex);
  for (auto& [id, wake] : m_listeners) wake();
}
