#include "prod/StopSource.h"

CStopSource::CStopSource(size_t boards) : m_one(new std::atomic<bool>[boards]), m_count(boards) {
  for (size_t i = 0; i < boards; ++i) m_one[i].store(false);
}

void CStopSource::StopAll() {
  m_all.store(true);
  Wake(static_cast<size_t>(-1));
}

void CStopSource::Stop(size_t board) {
  if (board >= m_count) return;
  m_one[board].store(true);
  Wake(board);
}

bool CStopSource::Stopped(size_t board) const { return m_all.load() || (board < m_count && m_one[board].load()); }

int CStopSource::Subscribe(size_t board, std::function<void()> wake) {
  std::lock_guard lock(m_mutex);
  const int id = m_nextId++;
  m_listeners.emplace(id, Listener{board, std::move(wake)});
  return id;
}

void CStopSource::Unsubscribe(int id) {
  std::lock_guard lock(m_mutex);
  m_listeners.erase(id);
}

// `board` is that of the request; -1 (all) wakes every listener.
void CStopSource::Wake(size_t board) {
  std::lock_guard lock(m_mutex);
  for (auto& [id, listener] : m_listeners)
    if (board == static_cast<size_t>(-1) || listener.board == board) listener.wake();
}
