// The command line's text helpers: log lines as printed, their time
// stamps, and the chip's console bytes made safe for a terminal.
#include "cli/CliOutput.h"
#include "core/platform/HostFiles.h"

#include <chrono>
#include <cstdio>
#include <ctime>

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
