// The factory view's two small files, without Qt: the station file (the
// ports of a test station, one a line) and the counts store (each port's
// passed and failed boards, kept across restarts of the window).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// A station file: one port per line; blank lines and lines whose first
// non-blank character is '#' are skipped; blanks around a port are dropped.
struct StationFile {
  std::vector<std::string> ports;
};

// Why a station file was refused: names the file and, where it applies, the line.
struct StationFileError {
  std::string text;
};

// Reads a station file. Refuses what cannot be read (missing, a folder,
// unreadable), and text that is not a list of ports: control characters or
// NUL bytes, a port with blanks inside, a line over kMaxStationLine bytes,
// a port given twice, more than kMaxStationPorts ports.
std::optional<StationFileError> LoadStationFile(const std::string& path, StationFile& out);
// The same checks on text already read; `path` only names it in the message.
std::optional<StationFileError> ParseStationFile(const std::string& text, const std::string& path, StationFile& out);
// Writes the ports, one a line under a comment, in one step: a reader sees
// the old file or the new one, never a part.
std::optional<StationFileError> SaveStationFile(const std::string& path, const std::vector<std::string>& ports);

inline constexpr size_t kMaxStationLine = 4096;
inline constexpr size_t kMaxStationPorts = 64;

struct PortCounts {
  int64_t passed = 0;
  int64_t failed = 0;
  bool operator==(const PortCounts&) const = default;
};

// Each port's counts, in a file of its own beside cfg.ini. Lines are
// "PASSED FAILED PORT" (the port last, as it may hold any character but a
// line break); '#' lines are comments. The file is replaced in one step.
class CCountsStore {
public:
  explicit CCountsStore(std::string path) : m_path(std::move(path)) {}

  // Reads the file; a missing file is an empty store. A line that is not
  // two counts and a port is skipped, named in the returned text and kept
  // for the next save. A file that is there but cannot be read is never saved over.
  std::optional<std::string> Load();
  // Writes every port's counts; the reason when the file cannot be replaced
  // (or was not read).
  std::optional<std::string> Save() const;

  PortCounts Get(const std::string& port) const;
  void Set(const std::string& port, PortCounts counts);
  const std::string& Path() const { return m_path; }

  static constexpr const char* kFileName = "factory-counts.txt";

private:
  std::string m_path;
  std::map<std::string, PortCounts> m_counts;
  std::vector<std::string> m_kept;  // lines that are no counts, written back as they were
  bool m_unreadable = false;        // the file is there but could not be read
};
