#include "cli/CliBoardConsole.h"
#include "prod/Report.h"
#include "cli/CliOutput.h"

#include <algorithm>
#include <ctime>

namespace {

constexpr auto kHoldLimit = std::chrono::seconds(1);
constexpr size_t kConsoleLineLimit = 120;
constexpr int kBarWidth = 20;


std::string Bar(int32_t percent) {
  const int filled = std::clamp(percent * kBarWidth / 100, 0, kBarWidth);
  return "[" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(kBarWidth - filled), ' ') +
         "]";
}

std::string MinSec(double seconds) {
  const auto s = static_cast<long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

// "[####      ]  40%  104856/262144 B  11.1 KiB/s  0:14 left"
std::string RunningBar(const PhaseFigures& f) {
  char line[160];
  std::snprintf(line, sizeof line, "%s %3d%%  %lld/%lld B  %.1f KiB/s  %s left", Bar(f.percent).c_str(), f.percent,
                static_cast<long long>(f.doneBytes), static_cast<long long>(f.totalBytes), f.bytesPerSecond / 1024.0,
                f.secondsLeft ? MinSec(*f.secondsLeft).c_str() : "--:--");
  return line;
}

// "[##########] 100%  262144 B in 23.42 s, 10.93 KiB/s"
std::string EndedBar(const PhaseFigures& f) {
  const double rate = f.seconds > 0 ? static_cast<double>(f.doneBytes) / f.seconds : 0.0;
  char line[200];
  if (f.percent >= 100)
    std::snprintf(line, sizeof line, "%s 100%%  %lld B in %.2f s, %.2f KiB/s", Bar(100).c_str(),
                  static_cast<long long>(f.doneBytes), f.seconds, rate / 1024.0);
  else
    std::snprintf(line, sizeof line, "%s %3d%%  stopped: %lld of %lld B in %.2f s, %.2f KiB/s", Bar(f.percent).c_str(),
                  f.percent, static_cast<long long>(f.doneBytes), static_cast<long long>(f.totalBytes), f.seconds,
                  rate / 1024.0);
  return line;
}

}  // namespace

CBoardConsole::CBoardConsole(std::vector<std::string> names, Mode mode) : m_mode(mode) {
  for (auto& n : names) m_slots.push_back(Slot{std::move(n), {}, {}, {}, {}, {}, false});
  if (m_mode.quiet) m_mode.live = false;
  if (const int columns = StderrTerminalColumns(); m_mode.live && columns > 20) m_width = columns;
}

CBoardConsole::~CBoardConsole() {
  Close();
  if (m_log) std::fclose(m_log);
}

bool CBoardConsole::OpenLogFile(const std::string& path, std::string& error) {
  m_log = OpenLogForAppend(path, error);
  return m_log != nullptr;
}

std::string CBoardConsole::Prefix(size_t board) const {
  if (!m_mode.prefixed || board >= m_slots.size()) return {};
  return m_slots[board].name + ": ";
}

void CBoardConsole::LogLine(size_t board, const std::string& text) {
  const std::string line = LogLineText(text);
  const auto now = Clock::now();
  std::lock_guard lock(m_mutex);
  if (m_log) {
    std::fprintf(m_log, "%s %s%s\n", LogTimeStamp().c_str(), Prefix(board).c_str(), line.c_str());
    std::fflush(m_log);
  }
  if (line.empty()) return;
  Slot& slot = m_slots[board];
  slot.meter.Note(now);
  if (m_mode.live && slot.meter.Active()) {
    slot.held.push_back(Held{now, line});
    return;
  }
  WriteLocked(stdout, Prefix(board) + line);
}

void CBoardConsole::ConsoleChar(size_t board, char ch) {
  if (m_mode.quiet) return;
  std::lock_guard lock(m_mutex);
  Slot& slot = m_slots[board];
  if (PassesConsoleThrough()) {
    // One board on no terminal: its bytes go out as they come, unchanged.
    std::fputc(static_cast<unsigned char>(ch), stderr);
    std::fflush(stderr);
    m_consoleOpen = ch != '\n';
    return;
  }
  if (ch == '\n') {
    FlushConsoleLocked(board);
  } else if (ch != '\r') {
    if (m_mode.live) slot.consoleLine += TerminalSafeText(ch);
    else slot.consoleLine.push_back(ch);
    if (slot.consoleLine.size() >= kConsoleLineLimit) FlushConsoleLocked(board);
  }
}

void CBoardConsole::Message(size_t board, const std::string& text) {
  std::lock_guard lock(m_mutex);
  if (board < m_slots.size()) m_slots[board].meter.Note(Clock::now());
  WriteLocked(stderr, "tqupdate: " + Prefix(board) + text);
}

void CBoardConsole::Progress(size_t board, int32_t percent, int64_t totalBytes) {
  const auto now = Clock::now();
  std::lock_guard lock(m_mutex);
  Slot& slot = m_slots[board];
  // The update repeats 100 % when its act completes: the phase has already ended.
  if (!slot.meter.Active() && slot.endedComplete && percent >= 100) return;
  if (slot.meter.StartsNewPhase(percent)) EndPhaseLocked(board, now);
  if (!slot.meter.Active()) slot.meter.Begin(totalBytes, now);
  slot.meter.Set(percent);
  if (percent >= 100) {
    EndPhaseLocked(board, now);
  } else {
    // The phase goes on: what waited belongs above the bar.
    ReleaseHeldLocked(slot, board, now + kHoldLimit);
  }
  HideLocked();
  ShowLocked();
}

void CBoardConsole::Finish(size_t board) {
  std::lock_guard lock(m_mutex);
  if (m_slots[board].meter.Active()) EndPhaseLocked(board, Clock::now());
  m_slots[board].endedComplete = false;
  FlushConsoleLocked(board);
}

void CBoardConsole::SetStatus(size_t board, const std::string& status, const std::string& tag) {
  std::lock_guard lock(m_mutex);
  m_slots[board].status = status;
  m_slots[board].tag = tag;
  HideLocked();
  ShowLocked();
}

void CBoardConsole::Tick() {
  const auto now = Clock::now();
  std::lock_guard lock(m_mutex);
  for (size_t b = 0; b < m_slots.size(); ++b) ReleaseHeldLocked(m_slots[b], b, now - kHoldLimit);
  HideLocked();
  ShowLocked();
}

void CBoardConsole::Close() {
  std::lock_guard lock(m_mutex);
  for (size_t b = 0; b < m_slots.size(); ++b) {
    ReleaseHeldLocked(m_slots[b], b, Clock::time_point::max());
    FlushConsoleLocked(b);
  }
  HideLocked();
  m_closed = true;
}

void CBoardConsole::PrintLine(const std::string& text) {
  std::lock_guard lock(m_mutex);
  WriteLocked(stdout, text);
}

void CBoardConsole::EndPhaseLocked(size_t board, Clock::time_point now) {
  Slot& slot = m_slots[board];
  const PhaseFigures figures = slot.meter.End(now);
  slot.endedComplete = figures.percent >= 100;
  if (m_mode.live) WriteLocked(stderr, slot.name + "  " + EndedBar(figures));
  // What waited came after the phase.
  ReleaseHeldLocked(slot, board, Clock::time_point::max());
}

void CBoardConsole::ReleaseHeldLocked(Slot& slot, size_t board, Clock::time_point olderThan) {
  while (!slot.held.empty() && slot.held.front().at < olderThan) {
    const std::string line = Prefix(board) + slot.held.front().text;
    slot.held.pop_front();
    WriteLocked(stdout, line);
  }
}

void CBoardConsole::FlushConsoleLocked(size_t board) {
  if (m_consoleOpen) {
    std::fputc('\n', stderr);
    m_consoleOpen = false;
  }
  Slot& slot = m_slots[board];
  if (slot.consoleLine.empty()) return;
  const std::string line = m_slots.size() > 1 || m_mode.prefixed ? slot.name + "> " + slot.consoleLine : slot.consoleLine;
  slot.consoleLine.clear();
  WriteLocked(stderr, line);
}

void CBoardConsole::WriteLocked(FILE* stream, const std::string& line) {
  HideLocked();
  if (m_consoleOpen) {
    // Console text passed through stays on its own line, above this one.
    std::fputc('\n', stderr);
    m_consoleOpen = false;
  }
  std::fputs(line.c_str(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
  ShowLocked();
}

void CBoardConsole::HideLocked() {
  if (!m_shown) return;
  std::fputc('\r', stderr);
  if (m_slots.size() > 1) std::fprintf(stderr, "\033[%zuA", m_slots.size() - 1);
  std::fputs("\033[J", stderr);
  m_shown = false;
}

void CBoardConsole::ShowLocked() {
  if (!m_mode.live || m_closed || m_shown) return;
  const auto now = Clock::now();
  for (size_t b = 0; b < m_slots.size(); ++b) {
    if (b) std::fputc('\n', stderr);
    std::fputs(BoardLineLocked(m_slots[b], now).c_str(), stderr);
  }
  std::fflush(stderr);
  m_shown = true;
}

std::string CBoardConsole::BoardLineLocked(const Slot& slot, Clock::time_point now) const {
  size_t nameWidth = 0;
  for (const auto& s : m_slots) nameWidth = std::max(nameWidth, s.name.size());
  std::string line = slot.name + std::string(nameWidth - slot.name.size() + 2, ' ');
  line += slot.meter.Active() ? RunningBar(slot.meter.Figures(now)) : slot.status;
  if (!slot.tag.empty()) line += "  " + slot.tag;
  // A line wider than the terminal would wrap and break the redraw.
  if (line.size() >= m_width) line.resize(m_width - 1);
  return line;
}
