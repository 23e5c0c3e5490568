// Ctrl-C and SIGTERM for the whole process. Signals go to one thread that
// takes them with sigwait (they are blocked in every other thread: the
// watcher must be made before any other thread starts), sets the flag and
// wakes every run that listens, so that each board of a run over several
// ports stops in its own orderly way.
#pragma once

#include <atomic>
#include <csignal>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

class CSignalWatch {
public:
  CSignalWatch();
  ~CSignalWatch();
  CSignalWatch(const CSignalWatch&) = delete;
  CSignalWatch& operator=(const CSignalWatch&) = delete;

  bool Interrupted() const { return m_interrupted.load(); }
  // `wake` runs on the watcher's thread at each signal until Unsubscribe,
  // which returns only when no call of it is in progress.
  int Subscribe(std::function<void()> wake);
  void Unsubscribe(int id);

private:
  void WakeAll();

  sigset_t m_set{}, m_old{};
  std::atomic<bool> m_interrupted{false};
  std::atomic<bool> m_closing{false};
  std::mutex m_mutex;
  std::map<int, std::function<void()>> m_listeners;
  int m_nextId = 1;
  std::thread m_thread;
};

// Keeps a listener subscribed for its own lifetime.
class CSignalListener {
public:
  CSignalListener(CSignalWatch& watch, std::function<void()> wake)
      : m_watch(watch), m_id(watch.Subscribe(std::move(wake))) {}
  ~CSignalListener() { m_watch.Unsubscribe(m_id); }
  CSignalListener(const CSignalListener&) = delete;
  CSignalListener& operator=(const CSignalListener&) = delete;

private:
  CSignalWatch& m_watch;
  int m_id;
};
