#include "app/window/FactoryFiles.h"

#include "core/platform/HostFiles.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <set>
#include <sstream>

namespace {

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

bool HasControl(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u < 0x20 && c != '\t' && c != '\r') || u == 0x7F;
  });
}

StationFileError LineError(const std::string& path, size_t line, const std::string& why) {
  return {path + ", line " + std::to_string(line) + ": " + why};
}

// The port a line names, empty for a blank or comment line, or the refusal.
std::optional<StationFileError> ParseStationLine(const std::string& raw, const std::string& path, size_t line,
                                                 std::string& port) {
  if (raw.size() > kMaxStationLine)
    return LineError(path, line, "the line is longer than " + std::to_string(kMaxStationLine) + " bytes");
  if (HasControl(raw)) return LineError(path, line, "control characters: this is not a list of ports");
  port = Trim(raw);
  if (port.empty() || port[0] == '#') {
    port.clear();
    return std::nullopt;
  }
  if (port.find_first_of(" \t") != std::string::npos)
    return LineError(path, line, "\"" + port + "\" is not a port: blanks inside");
  return std::nullopt;
}

}  // namespace

std::optional<StationFileError> ParseStationFile(const std::string& text, const std::string& path, StationFile& out) {
  StationFile read;
  std::set<std::string> seen;
  size_t line = 0;
  size_t begin = 0;
  while (begin < text.size()) {
    ++line;
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    std::string port;
    if (auto e = ParseStationLine(text.substr(begin, end - begin), path, line, port)) return e;
    begin = end + 1;
    if (port.empty()) continue;
    if (!seen.insert(port).second) return LineError(path, line, port + " is given twice");
    if (read.ports.size() == kMaxStationPorts)
      return LineError(path, line, "more than " + std::to_string(kMaxStationPorts) + " ports");
    read.ports.push_back(port);
  }
  out = std::move(read);
  return std::nullopt;
}

std::optional<StationFileError> LoadStationFile(const std::string& path, StationFile& out) {
  // No list of ports comes near this size; a disk image chosen by mistake is not read whole.
  uint64_t size = 0;
  int sizeError = 0;
  if (host::RegularFileSize(path, size, sizeError) && size > kMaxStationPorts * (kMaxStationLine + 1) * 2)
    return StationFileError{"cannot read the station file " + path + ": " + std::to_string(size) +
                            " bytes is no list of ports"};
  std::string text;
  if (!host::ReadRegularFile(path, text)) {
    const int err = host::AccessError(path, host::Access::Read);
    const std::string why = err != 0 ? std::strerror(err) : "not a regular file";
    return StationFileError{"cannot read the station file " + path + ": " + why};
  }
  return ParseStationFile(text, path, out);
}

std::optional<StationFileError> SaveStationFile(const std::string& path, const std::vector<std::string>& ports) {
  std::string text = "# TqUpdater station: one port per line\n";
  for (const auto& p : ports) text += p + "\n";
  if (!host::ReplaceFileWith(path, text)) return StationFileError{"cannot write the station file " + path};
  return std::nullopt;
}

namespace {

bool ParseCount(const std::string& s, int64_t& value) {
  const char* end = s.data() + s.size();
  auto [ptr, ec] = std::from_chars(s.data(), end, value);
  return ec == std::errc() && ptr == end && value >= 0;
}

// "PASSED FAILED PORT": false when the line is not that.
bool ParseCountsLine(const std::string& line, std::string& port, PortCounts& counts) {
  const auto a = line.find(' ');
  const auto b = a == std::string::npos ? a : line.find(' ', a + 1);
  if (b == std::string::npos || b + 1 >= line.size()) return false;
  port = line.substr(b + 1);
  return ParseCount(line.substr(0, a), counts.passed) && ParseCount(line.substr(a + 1, b - a - 1), counts.failed);
}

}  // namespace

std::optional<std::string> CCountsStore::Load() {
  m_counts.clear();
  m_kept.clear();
  m_unreadable = false;
  std::string text;
  if (!host::ReadRegularFile(m_path, text)) {
    if (host::AccessError(m_path, host::Access::Read) == ENOENT) return std::nullopt;
    // The file is there but could not be read: it is left as it is, never
    // replaced by counts that start from 0.
    m_unreadable = true;
    return "cannot read the counts file " + m_path + "; the counts start from 0 and are not saved";
  }
  std::istringstream in(text);
  std::string line;
  std::string skipped;
  for (size_t n = 1; std::getline(in, line); ++n) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::string port;
    PortCounts counts;
    if (ParseCountsLine(line, port, counts)) {
      m_counts[port] = counts;
    } else {
      // Kept word for word: the next save writes it back, so nothing the file held is lost.
      m_kept.push_back(line);
      skipped += (skipped.empty() ? "" : ", ") + std::to_string(n);
    }
  }
  if (skipped.empty()) return std::nullopt;
  return "the counts file " + m_path + " has lines that are no counts (skipped): " + skipped;
}

std::optional<std::string> CCountsStore::Save() const {
  if (m_unreadable) return "the counts file " + m_path + " could not be read, so it is not written over";
  std::string text = "# TqUpdater factory view: passed failed port\n";
  for (const auto& [port, c] : m_counts) text += std::to_string(c.passed) + " " + std::to_string(c.failed) + " " + port + "\n";
  for (const std::string& line : m_kept) text += line + "\n";
  if (!host::ReplaceFileWith(m_path, text)) return "cannot write the counts file " + m_path;
  return std::nullopt;
}

PortCounts CCountsStore::Get(const std::string& port) const {
  auto it = m_counts.find(port);
  return it == m_counts.end() ? PortCounts{} : it->second;
}

void CCountsStore::Set(const std::string& port, PortCounts counts) {
  if (port.find('\n') != std::string::npos) return;  // no such port; it would break the file's lines
  m_counts[port] = counts;
}
