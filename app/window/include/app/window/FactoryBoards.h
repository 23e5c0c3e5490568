// The factory view's boards, without Qt: what each board's row shows, kept
// up to date from the production library's display calls.
//
// Threads: the library calls the IBoardsDisplay members from its board
// threads; they only change the rows under the one mutex and mark them
// changed. The window's thread takes the changed rows at its own pace (a
// timer), so a board that streams bytes costs the window one repaint per
// tick, not a signal per byte, and a board stuck in a call holds no other.
#pragma once

#include "app/window/FactoryFiles.h"
#include "prod/Production.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct FactoryRow {
  std::string port;
  BoardState state = BoardState::Idle;
  std::string stage;   // while running: the latest log line or status words
  std::string reason;  // why the last board failed
  int32_t percent = 0;
  int64_t totalBytes = 0;
  double bytesPerSecond = 0;
  PortCounts counts;          // stored counts plus this run's
  double lastSeconds = -1;    // the last board's duration; < 0: none yet
  std::string lastOutcome;    // how the last board ended ("done", "failed: REASON"); empty: none yet
};

// The state column's words: "waiting for reset", the stage, "done", "failed: REASON", ...;
// a station's port waiting for its next board also says how the last one ended.
std::string StateText(const FactoryRow& row);
// "45 % at 12.5 KiB/s"; empty before the first progress.
std::string ProgressText(const FactoryRow& row);

class CFactoryBoards : public IBoardsDisplay {
public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  explicit CFactoryBoards(Clock clock = [] { return std::chrono::steady_clock::now(); });

  // The window's thread, while no run is under way.
  void SetPorts(const std::vector<std::string>& ports, const CCountsStore& stored);
  // A run starts: every row back to Idle, its counts from the store.
  void BeginRun(const CCountsStore& stored);

  size_t Size() const;
  FactoryRow Row(size_t board) const;
  // The rows changed since the last call, in order.
  std::vector<size_t> TakeChanged();
  // The boards whose counts changed since the last call, with their counts.
  std::vector<std::pair<std::string, PortCounts>> TakeNewCounts();
  // The board's log, oldest first; at most kLogCap lines.
  std::vector<std::string> Log(size_t board) const;
  // Grows with every line a board adds; a view redraws its log when it changes.
  uint64_t LogGeneration(size_t board) const;
  // Messages not about one board (a refusal of the whole run).
  std::vector<std::string> TakeGeneralMessages();

  static constexpr size_t kLogCap = 500;

  // IBoardsDisplay, on any thread.
  void LogLine(size_t board, const std::string& text) override;
  void ConsoleChar(size_t board, char ch) override;
  void Message(size_t board, const std::string& text) override;
  void Progress(size_t board, int32_t percent, int64_t totalBytes) override;
  void Finish(size_t board) override;
  void SetStatus(size_t board, const std::string& status, const std::string& tag) override;
  void StateChanged(size_t board, BoardState state) override;
  void BoardEnded(size_t board, const BoardRunSummary& summary, const StationCounts& counts) override;

private:
  struct Board {
    FactoryRow row;
    PortCounts base;  // the stored counts when the run began
    std::deque<std::string> log;
    uint64_t logGeneration = 0;
    std::string console;  // the chip's console text since its last line break
    std::chrono::steady_clock::time_point rateStart{};
    int64_t rateBytes = -1;  // bytes at rateStart; < 0: no progress yet in this phase
    bool changed = false;
    bool countsChanged = false;
  };
  Board* Find(size_t board);  // under m_mutex; nullptr for a board the view does not have
  void AddLog(Board& b, const std::string& text);

  Clock m_clock;
  mutable std::mutex m_mutex;
  std::vector<Board> m_boards;
  std::vector<std::string> m_general;
};
