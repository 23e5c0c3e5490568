// Where one board's run sends what it shows: its log lines, the chip's
// console text, messages, and the progress of each phase. The single-port
// command line writes them straight to the terminal (CCliOutput); a run over
// several ports gives each board a sink of its own on a shared display.
#pragma once

#include <cstdint>
#include <string>

class ICliSink {
public:
  virtual ~ICliSink() = default;
  // Any thread: the worker's log lines and console text, the run's messages.
  virtual void LogLine(const std::string& text) = 0;
  virtual void ConsoleChar(char ch) = 0;
  virtual void Message(const std::string& text) = 0;
  // A progress value of the current phase, whose total is `totalBytes`;
  // called on the worker thread in order with its log lines.
  virtual void Progress(int32_t percent, int64_t totalBytes) = 0;
  // The update has ended: the progress display ends, leaving its last state.
  virtual void Finish() = 0;
};
