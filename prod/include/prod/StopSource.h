// Stop requests for the boards of a run: for all of them at once (Ctrl-C on
// the command line, "stop all" in the window) or for one board. A board that
// is told to stop finishes the block in flight and begins nothing new; the
// listeners of a board are woken at each request that concerns it.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

class CStopSource {
public:
  explicit CStopSource(size_t boards);
  CStopSource(const CStopSource&) = delete;
  CStopSource& operator=(const CStopSource&) = delete;

  void StopAll();
  // Out-of-range boards are ignored.
  void Stop(size_t board);
  bool AllStopped() const { return m_all.load(); }
  bool Stopped(size_t board) const;

  // `wake` runs on the thread that asks for a stop of `board` (or of all)
  // until Unsubscribe, which returns only when no call of it is in progress.
  int Subscribe(size_t board, std::function<void()> wake);
  void Unsubscribe(int id);

private:
  void Wake(size_t board);

  std::atomic<bool> m_all{false};
  std::unique_ptr<std::atomic<bool>[]> m_one;
  size_t m_count;
  std::mutex m_mutex;
  struct Listener {
    size_t board;
    std::function<void()> wake;
  };
  std::map<int, Listener> m_listeners;
  int m_nextId = 1;
};

// One board's view of the stop requests.
class CBoardStop {
public:
  CBoardStop(CStopSource& source, size_t board) : m_source(source), m_board(board) {}
  bool Requested() const { return m_source.Stopped(m_board); }
  CStopSource& Source() const { return m_source; }
  size_t Board() const { return m_board; }

private:
  CStopSource& m_source;
  size_t m_board;
};

// Keeps a listener of one board subscribed for its own lifetime.
class CStopListener {
public:
  CStopListener(const CBoardStop& stop, std::function<void()> wake)
      : m_source(stop.Source()), m_id(m_source.Subscribe(stop.Board(), std::move(wake))) {}
  ~CStopListener() { m_source.Unsubscribe(m_id); }
  CStopListener(const CStopListener&) = delete;
  CStopListener& operator=(const CStopListener&) = delete;

private:
  CStopSource& m_source;
  int m_id;
};
