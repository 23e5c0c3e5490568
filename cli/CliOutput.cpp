#include "cli/CliOutput.h"
#include "prod/Report.h"
#include "core/platform/HostFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace {
constexpr const char* kClearLine = "\r\033[K";
constexpr const char* kLineUp = "\033[A";
}  // namespace

CCliOutput::CCliOutput(bool quiet, bool progressBar, bool escapeConsole)
    : m_quiet(quiet), m_progressBar(progressBar && !quiet), m_escapeConsole(escapeConsole) {}

CCliOutput::~CCliOutput() {
  Finish();
  if (m_log) std::fclose(m_log);
}

bool CCliOutput::OpenLogFile(const std::string& path, std::string& error) {
  m_log = OpenLogForAppend(path, error);
  return m_log != nullptr;
}

void CCliOutput::HideBarLocked() {
  if (!m_barShown) return;
  std::fputs(kClearLine, stderr);
  std::fputs(kLineUp, stderr);
  std::fputs(kClearLine, stderr);
}

void CCliOutput::ShowBarLocked() {
  if (!m_barShown) return;
  std::fputs(m_consoleLine.c_str(), stderr);
  std::fputc('\n', stderr);
  std::fputs(m_bar.c_str(), stderr);
  std::fflush(stderr);
}

void CCliOutput::EndConsoleLineLocked() {
  if (m_consoleLine.empty()) return;
  if (!m_barShown) std::fputc('\n', stderr);
  m_consoleLine.clear();
}

void CCliOutput::LogLine(const std::string& text) {
  const std::string line = LogLineText(text);
  std::lock_guard lock(m_mutex);
  if (m_log) {
    std::fprintf(m_log, "%s %s\n", LogTimeStamp().c_str(), line.c_str());
    std::fflush(m_log);
  }
  if (line.empty()) return;
  m_meter.Note(std::chrono::steady_clock::now());
  if (m_barShown && m_meter.Active()) m_held.push_back(line);
  else WriteLogLineLocked(line);
}

void CCliOutput::WriteLogLineLocked(const std::string& line) {
  if (m_barShown) {
    HideBarLocked();
  } else if (!m_consoleLine.empty()) {
    // Console text stays on its own line, above the log line.
    std::fputc('\n', stderr);
    m_consoleLine.clear();
  }
  std::fflush(stderr);
  std::fprintf(stdout, "%s\n", line.c_str());
  std::fflush(stdout);
  ShowBarLocked();
}

void CCliOutput::ConsoleChar(char ch) {
  if (m_quiet) return;
  std::lock_guard lock(m_mutex);
  if (!m_escapeConsole) {
    PutConsoleLocked(ch);
    return;
  }
  for (char c : TerminalSafeText(ch)) PutConsoleLocked(c);
}

std::string LogLineText(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && (text[b] == '\n' || text[b] == '\r')) ++b;
  while (e > b && (text[e - 1] == '\n' || text[e - 1] == '\r')) --e;
  return text.substr(b, e - b);
}

std::string LogTimeStamp() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  host::LocalTime(system_clock::to_time_t(now), local);
  char stamp[64];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  char out[80];
  std::snprintf(out, sizeof out, "%s.%03ld", stamp, static_cast<long>(ms));
  return out;
}

std::string TerminalSafeText(char ch) {
  if (ch == '\n' || ch == '\t' || (ch >= 0x20 && ch < 0x7F)) return std::string(1, ch);
  // A carriage return would let the next text overwrite this line.
  if (ch == '\r') return {};
  char shown[8];
  std::snprintf(shown, sizeof shown, "\\x%02X", static_cast<unsigned>(static_cast<unsigned char>(ch)));
  return shown;
}

void CCliOutput::PutConsoleLocked(char ch) {
  if (m_barShown) {
    HideBarLocked();
    if (ch == '\n') {
      std::fputs(m_consoleLine.c_str(), stderr);  // the finished line stays above
      std::fputc('\n', stderr);
      m_consoleLine.clear();
    } else {
      m_consoleLine.push_back(ch);
    }
    ShowBarLocked();
    return;
  }
  std::fputc(static_cast<unsigned char>(ch), stderr);
  if (ch == '\n') m_consoleLine.clear();
  else m_consoleLine.push_back(ch);
  std::fflush(stderr);
}

void CCliOutput::Message(const std::string& text) {
  std::lock_guard lock(m_mutex);
  if (m_barShown) {
    HideBarLocked();
    std::fprintf(stderr, "tqupdate: %s\n", text.c_str());
    ShowBarLocked();
    return;
  }
  EndConsoleLineLocked();
  std::fprintf(stderr, "tqupdate: %s\n", text.c_str());
  std::fflush(stderr);
}

namespace {

std::string BarText(const PhaseFigures& f, bool ended) {
  constexpr int kWidth = 30;
  const int filled = std::max(0, std::min(kWidth, f.percent * kWidth / 100));
  char line[200];
  const std::string bar = std::string(filled, '#') + std::string(kWidth - filled, ' ');
  if (ended) {
    const double rate = f.seconds > 0 ? static_cast<double>(f.doneBytes) / f.seconds : 0.0;
    std::snprintf(line, sizeof line, "[%s] %3d%% %lld/%lld B in %.2f s, %.2f KiB/s", bar.c_str(), f.percent,
                  static_cast<long long>(f.doneBytes), static_cast<long long>(f.totalBytes), f.seconds, rate / 1024.0);
    return line;
  }
  char left[32] = "--:--";
  if (f.secondsLeft) {
    const auto remain = static_cast<long>(*f.secondsLeft + 0.5);
    std::snprintf(left, sizeof left, "%ld:%02ld", remain / 60, remain % 60);
  }
  std::snprintf(line, sizeof line, "[%s] %3d%% %lld/%lld B %.1f KiB/s %s left", bar.c_str(), f.percent,
                static_cast<long long>(f.doneBytes), static_cast<long long>(f.totalBytes), f.bytesPerSecond / 1024.0,
                left);
  return line;
}

}  // namespace

void CCliOutput::Progress(int32_t percent, int64_t totalBytes) {
  if (!m_progressBar) return;
  std::lock_guard lock(m_mutex);
  const auto now = std::chrono::steady_clock::now();
  // The update repeats 100 % when its act completes: the phase has already ended.
  if (!m_meter.Active() && m_endedComplete && percent >= 100) return;
  if (m_meter.StartsNewPhase(percent)) EndPhaseLocked();
  if (!m_meter.Active()) m_meter.Begin(totalBytes, now);
  m_meter.Set(percent);
  m_bar = BarText(m_meter.Figures(now), false);
  if (m_barShown) {
    // Only the bar line changes.
    std::fputs(kClearLine, stderr);
    std::fputs(m_bar.c_str(), stderr);
  } else {
    // The console line being written becomes the line above the bar.
    m_barShown = true;
    std::fputs(kClearLine, stderr);
    ShowBarLocked();
  }
  std::fflush(stderr);
  if (percent >= 100) {
    EndPhaseLocked();
    return;
  }
  // The phase goes on: what waited belongs above the bar.
  std::vector<std::string> held;
  held.swap(m_held);
  for (const auto& line : held) WriteLogLineLocked(line);
}

void CCliOutput::EndPhaseLocked() {
  const PhaseFigures f = m_meter.End(std::chrono::steady_clock::now());
  m_endedComplete = f.percent >= 100;
  if (m_barShown) {
    m_bar = BarText(f, true);
    std::fputs(kClearLine, stderr);
    std::fputs(m_bar.c_str(), stderr);
    std::fputc('\n', stderr);
    m_barShown = false;
    m_consoleLine.clear();
  }
  std::vector<std::string> held;
  held.swap(m_held);
  for (const auto& line : held) WriteLogLineLocked(line);
  std::fflush(stderr);
}

void CCliOutput::Finish() {
  std::lock_guard lock(m_mutex);
  if (m_meter.Active()) EndPhaseLocked();
  m_endedComplete = false;
  if (m_barShown) {
    std::fputc('\n', stderr);
    m_barShown = false;
    m_consoleLine.clear();
  } else {
    EndConsoleLineLocked();
  }
  std::fflush(stderr);
}
