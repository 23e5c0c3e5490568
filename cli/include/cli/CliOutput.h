// What the command line shows: log lines on stdout (and in the --log file
// with a time stamp), the chip's console text, markers and messages on
// stderr, and a progress bar on stderr when it is a terminal.
//
// While the bar is shown, the bottom of the terminal holds two lines: the
// console line being written, then the bar. Every character and every log
// line redraws those two, so neither is lost or torn. The bar's figures come
// from CProgressMeter; a phase that ends leaves its bar with the time taken
// and the mean rate, and log lines that come while it runs wait until it
// moves on or ends, so a line that says why it stopped comes below it.
#pragma once

#include "app/ProgressMeter.h"
#include "prod/BoardSink.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

// Opens /dev/null on any of descriptors 0, 1 and 2 that is closed. Run
// first thing: otherwise the next file opened (the serial port, say) would
// take the number and receive what is meant for stdout or stderr.
void OpenStandardDescriptors();

// Whether stderr is a terminal (a console on Windows): bars and redrawn
// lines only there.
bool StderrIsTerminal();

// The width of the terminal on stderr in columns; 0 when it is none or unknown.
int StderrTerminalColumns();

// A log line as it is printed: the line breaks around it taken off.
std::string LogLineText(const std::string& text);

// Local time with milliseconds, "2026-12-07 11:02:26.123", before each line
// of a --log file.
std::string LogTimeStamp();

// How a byte of the chip's console text is shown on a terminal, where its
// control bytes (escape sequences above all) must not act: printable text,
// line feeds and tabs as they are, carriage returns dropped, anything else
// as \xNN.
std::string TerminalSafeText(char ch);

class CCliOutput final : public IBoardSink {
public:
  // escapeConsole: stderr is a terminal, where the chip's control bytes
  // (escape sequences above all) must not act: they are shown as \xNN.
  CCliOutput(bool quiet, bool progressBar, bool escapeConsole = false);
  ~CCliOutput() override;

  // False when the log file cannot be opened for appending.
  bool OpenLogFile(const std::string& path, std::string& error);

  void LogLine(const std::string& text) override;
  void ConsoleChar(char ch) override;
  void Message(const std::string& text) override;
  // A progress value of the current phase, whose total is `totalBytes`.
  void Progress(int32_t percent, int64_t totalBytes) override;
  // Ends the progress display, leaving the last bar on screen.
  void Finish() override;

private:
  // Removes the console line and the bar from the screen; the cursor is then
  // at the start of the console line.
  void HideBarLocked();
  // Writes the console line and the bar again below whatever came before.
  void ShowBarLocked();
  void EndConsoleLineLocked();
  // Adds one console byte to the line and the screen, shown safely when told to.
  void PutConsoleLocked(char ch);
  // Leaves the bar of the phase that ended with its time and mean rate,
  // then writes the log lines that waited for it.
  void EndPhaseLocked();
  void WriteLogLineLocked(const std::string& line);

  std::mutex m_mutex;
  bool m_quiet;
  bool m_progressBar;
  bool m_escapeConsole;
  FILE* m_log = nullptr;
  bool m_barShown = false;
  std::string m_consoleLine;  // console text since the last line break
  CProgressMeter m_meter;
  bool m_endedComplete = false;  // the last phase ended at 100 %
  std::vector<std::string> m_held;  // log lines waiting for the bar
  std::string m_bar;
};
