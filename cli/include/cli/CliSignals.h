// Ctrl-C (and SIGTERM, SIGHUP, Ctrl-Break) for the whole process: the platform's
// watcher (cli/InterruptWatch.h) sets the flag and wakes every run that
// listens, so that each board of a run over several ports stops in its own
// orderly way. Make it before any other thread starts: on POSIX the signals
// are blocked in every thread but the watcher's.
#pragma once

#include "cli/InterruptWatch.h"

#include <functional>
#include <map>
#include <mutex>

class CSignalWatch {
public:
  CSignalWatch() : m_watch([this] { WakeAll(); }) {}
  CSignalWatch(const CSignalWatch&) = delete;
  CSignalWatch& operator=(const CSignalWatch&) = delete;

  bool Interrupted() const { return m_watch.interrupted.load(); }
  // `wake` runs on the watcher's thread at each interrupt until Unsubscribe,
  // which returns only when no call of it is in progress.
  int Subscribe(std::function<void()> wake);
  void Unsubscribe(int id);

private:
  void WakeAll();

  std::mutex m_mutex;
  std::map<int, std::function<void()>> m_listeners;
  int m_nextId = 1;
  // Last: its thread may call WakeAll as soon as it exists, and it ends
  // (joined) before the listeners go.
  CInterruptWatch m_watch;
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
