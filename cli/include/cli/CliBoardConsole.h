// The command line's display of a run over one board or several. Log lines
// go to stdout, behind the board's name when the run is prefixed; messages
// and the chips' console text (whole lines; a lone board's bytes as they
// come when stderr is no terminal) go to stderr; with --log every log line
// is also appended to a file behind a time stamp.
//
// On a terminal the bottom of stderr holds one line per board: its progress
// bar (percent, bytes, rate, time left) while a phase runs, else its status.
// Every other line is written above them and the board lines are drawn
// again. A phase that ends leaves a line with its time and mean rate. Log
// lines that come while a board's bar runs wait until the bar moves on or
// ends (at most a second), so that a line that says why a phase stopped
// comes below the bar's last state, not above it.
#pragma once

#include "app/ProgressMeter.h"
#include "prod/BoardsDisplay.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

class CBoardConsole final : public IBoardsDisplay {
public:
  using Clock = std::chrono::steady_clock;

  struct Mode {
    bool quiet = false;     // no console text, no bars
    bool live = false;      // stderr is a terminal: bars redrawn in place
    bool prefixed = false;  // log lines start with the board's name
  };

  CBoardConsole(std::vector<std::string> names, Mode mode);
  ~CBoardConsole() override;
  CBoardConsole(const CBoardConsole&) = delete;
  CBoardConsole& operator=(const CBoardConsole&) = delete;

  // False when the log file cannot be opened for appending.
  bool OpenLogFile(const std::string& path, std::string& error);

  void LogLine(size_t board, const std::string& text) override;
  void ConsoleChar(size_t board, char ch) override;
  // A message about one board, or about the whole run (board kNoBoard).
  void Message(size_t board, const std::string& text) override;
  void Progress(size_t board, int32_t percent, int64_t totalBytes) override;
  // The board's run has ended: its bar ends, waiting lines and console text are written.
  void Finish(size_t board) override;
  // What the board's line shows while no bar runs; `tag` stays behind its bar too.
  void SetStatus(size_t board, const std::string& status, const std::string& tag) override;
  // Periodic: writes log lines that waited a second, redraws the rates.
  void Tick();
  // Takes the board lines off the screen for good; later lines go to stdout.
  void Close();
  void PrintLine(const std::string& text);

private:
  struct Held {
    Clock::time_point at;
    std::string text;
  };
  struct Slot {
    std::string name;
    CProgressMeter meter;
    std::deque<Held> held;
    std::string consoleLine;
    std::string status;
    std::string tag;
    bool endedComplete = false;  // the last phase ended at 100 %
  };

  std::string Prefix(size_t board) const;
  bool PassesConsoleThrough() const { return !m_mode.live && !m_mode.prefixed && m_slots.size() == 1; }
  void EndPhaseLocked(size_t board, Clock::time_point now);
  void ReleaseHeldLocked(Slot& slot, size_t board, Clock::time_point olderThan);
  void FlushConsoleLocked(size_t board);
  void WriteLocked(FILE* stream, const std::string& line);
  void HideLocked();
  void ShowLocked();
  std::string BoardLineLocked(const Slot& slot, Clock::time_point now) const;

  std::mutex m_mutex;
  std::vector<Slot> m_slots;
  Mode m_mode;
  bool m_shown = false;  // the board lines are on screen
  bool m_closed = false;
  bool m_consoleOpen = false;  // console text passed through ends inside a line
  size_t m_width = 80;
  FILE* m_log = nullptr;
};
