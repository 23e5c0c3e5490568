// Where a run over one or more boards shows what happens: the command
// line's console and the window's factory view implement it. Every call may
// come from any thread (each board runs on a thread of its own).
#pragma once

#include "prod/BoardStatus.h"

#include <cstddef>
#include <cstdint>
#include <string>

class IBoardsDisplay {
public:
  static constexpr size_t kNoBoard = static_cast<size_t>(-1);

  virtual ~IBoardsDisplay() = default;
  virtual void LogLine(size_t board, const std::string& text) = 0;
  virtual void ConsoleChar(size_t board, char ch) = 0;
  // A message about one board, or about the whole run (board kNoBoard).
  virtual void Message(size_t board, const std::string& text) = 0;
  virtual void Progress(size_t board, int32_t percent, int64_t totalBytes) = 0;
  // The board's run has ended: its progress display ends, leaving its last state.
  virtual void Finish(size_t board) = 0;
  // What the board's line shows while no phase runs; `tag` stays beside its progress.
  virtual void SetStatus(size_t board, const std::string& status, const std::string& tag) = 0;
  virtual void StateChanged(size_t /*board*/, BoardState /*state*/) {}
  // One board run ended; `counts` are its port's totals so far (1/0 or 0/1 outside a station).
  virtual void BoardEnded(size_t /*board*/, const BoardRunSummary& /*summary*/, const StationCounts& /*counts*/) {}
};
