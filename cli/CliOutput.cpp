#include "cli/CliOutput.h"
#include "core/platform/HostFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <sys/time.h>

namespace {
constexpr const char* kClearLine = "\r\033[K";
constexpr const char* kLineUp = "\033[A";
}  // namespace

void OpenStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // The lowest free number is taken: this one, as those below are open.
    const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
}

CCliOutput::CCliOutput(bool quiet, bool progressBar, bool escapeConsole)
    : m_quiet(quiet), m_progressBar(progressBar && !quiet), m_escapeConsole(escapeConsole) {}

CCliOutput::~CCliOutput() {
  Finish();
  if (m_log) std::fclose(m_log);
}

bool CCliOutput::OpenLogFile(const std::string& path, std::string& error) {
  // Only a regular file: a FIFO would block until a reader came, and a
  // terminal or device is no log. Opened without waiting and never
  // inherited by a program started later.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    error = "not a regular file";
    return false;
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = "not a regular file";
    ::close(fd);
    return false;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  m_log = ::fdopen(fd, "a");
  if (!m_log) {
    error = std::strerror(errno);
    ::close(fd);
    return false;
  }
  return true;
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
  size_t b = 0, e = text.size();
  while (b < e && (text[b] == '\n' || text[b] == '\r')) ++b;
  while (e > b && (text[e - 1] == '\n' || text[e - 1] == '\r')) --e;
  const std::string line = text.substr(b, e - b);
  std::lock_guard lock(m_mutex);
  if (m_log) {
    timeval tv{};
    ::gettimeofday(&tv, nullptr);
    tm local{};
    host::LocalTime(static_cast<std::time_t>(tv.tv_sec), local);
    char stamp[64];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::fprintf(m_log, "%s.%03ld %s\n", stamp, static_cast<long>(tv.tv_usec / 1000), line.c_str());
    std::fflush(m_log);
  }
  if (line.empty()) return;
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
  if (!m_escapeConsole || ch == '\n' || ch == '\t' || (ch >= 0x20 && ch < 0x7F)) {
    PutConsoleLocked(ch);
    return;
  }
  // A carriage return would let the next text overwrite this line.
  if (ch == '\r') return;
  char shown[8];
  std::snprintf(shown, sizeof shown, "\\x%02X", static_cast<unsigned>(static_cast<unsigned char>(ch)));
  for (const char* p = shown; *p != '\0'; ++p) PutConsoleLocked(*p);
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

void CCliOutput::Progress(int32_t percent, int64_t totalBytes) {
  if (!m_progressBar) return;
  std::lock_guard lock(m_mutex);
  const auto now = std::chrono::steady_clock::now();
  if (percent < m_lastPercent || m_lastPercent < 0) m_phaseStart = now;  // a new phase began
  m_lastPercent = percent;
  const int64_t done = totalBytes * percent / 100;
  const double seconds = std::chrono::duration<double>(now - m_phaseStart).count();
  const double rate = seconds > 0.05 ? static_cast<double>(done) / seconds : 0.0;
  char left[32] = "--:--";
  if (rate > 0 && percent < 100) {
    const auto remain = static_cast<long>(static_cast<double>(totalBytes - done) / rate);
    std::snprintf(left, sizeof left, "%ld:%02ld", remain / 60, remain % 60);
  } else if (percent >= 100) {
    std::snprintf(left, sizeof left, "0:00");
  }
  constexpr int kWidth = 30;
  const int filled = std::max(0, std::min(kWidth, percent * kWidth / 100));
  char line[200];
  std::snprintf(line, sizeof line, "[%s%s] %3d%% %lld/%lld B %.1f KiB/s %s left", std::string(filled, '#').c_str(),
                std::string(kWidth - filled, ' ').c_str(), percent, static_cast<long long>(done),
                static_cast<long long>(totalBytes), rate / 1024.0, left);
  if (m_barShown) {
    // Only the bar line changes.
    m_bar = line;
    std::fputs(kClearLine, stderr);
    std::fputs(m_bar.c_str(), stderr);
    std::fflush(stderr);
    return;
  }
  // The console line being written becomes the line above the bar.
  m_bar = line;
  m_barShown = true;
  std::fputs(kClearLine, stderr);
  ShowBarLocked();
}

void CCliOutput::Finish() {
  std::lock_guard lock(m_mutex);
  if (m_barShown) {
    std::fputc('\n', stderr);
    m_barShown = false;
    m_consoleLine.clear();
  } else {
    EndConsoleLineLocked();
  }
  std::fflush(stderr);
}
