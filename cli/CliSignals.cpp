#include "cli/CliSignals.h"

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
