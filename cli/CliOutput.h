// What the command line shows: log lines on stdout (and in the --log file
// with a time stamp), the chip's console text, markers and messages on
// stderr, and a progress bar on stderr when it is a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

class CCliOutput {
public:
  CCliOutput(bool quiet, bool progressBar);
  ~CCliOutput();

  // False when the log file cannot be opened for appending.
  bool OpenLogFile(const std::string& path, std::string& error);

  void LogLine(const std::string& text);
  void ConsoleChar(char ch);
  void Message(const std::string& text);
  // A progress value of the current phase, whose total is `totalBytes`.
  void Progress(int32_t percent, int64_t totalBytes);
  // Ends the progress line, if one is shown.
  void Finish();

private:
  void ClearBarLocked();
  void EndConsoleLineLocked();

  std::mutex m_mutex;
  bool m_quiet;
  bool m_progressBar;
  FILE* m_log = nullptr;
  bool m_barShown = false;
  bool m_consoleMidLine = false;
  int32_t m_lastPercent = -1;
  std::chrono::steady_clock::time_point m_phaseStart;
  std::string m_lastBar;
};
