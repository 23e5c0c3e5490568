// Where one board's run sends what it shows: its log lines, the chip's
// console text, messages, the progress of each phase and the board's state.
// Each board of a run has a sink of its own on the run's shared display.
#pragma once

#include "prod/BoardStatus.h"

#include <cstdint>
#include <string>

class IBoardSink {
public:
  virtual ~IBoardSink() = default;
  // Any thread: the worker's log lines and console text, the run's messages.
  virtual void LogLine(const std::string& text) = 0;
  virtual void ConsoleChar(char ch) = 0;
  virtual void Message(const std::string& text) = 0;
  // A progress value of the current phase, whose total is `totalBytes`;
  // called on the worker thread in order with its log lines.
  virtual void Progress(int32_t percent, int64_t totalBytes) = 0;
  // The update has ended: the progress display ends, leaving its last state.
  virtual void Finish() = 0;
  // The board moved on (waiting for the chip, running, verifying).
  virtual void State(BoardState) {}
};
