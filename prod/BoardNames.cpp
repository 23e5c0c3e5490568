// The pure rules of a run over several ports: board names, the port list,
// the per-board file names (and which are there already) and the run's exit status.
#include "prod/BoardNames.h"

#include "core/Profile.h"

#include <filesystem>
#include <set>

std::string PortName(const std::string& given) {
  // A Windows device path (\\.\COM10) is the port it names; its backslashes
  // must not reach the file names made from the name.
  const std::string port = given.rfind("\\\\.\\", 0) == 0 ? given.substr(4) : given;
  if (port.find_first_of("/\\") == std::string::npos) {
    std::string digits = port;
    if (digits.size() > 3 && EqualNoCase(digits.substr(0, 3), "COM")) digits = digits.substr(3);
    return "COM" + digits;
  }
  std::string name = port.rfind("/dev/", 0) == 0 ? port.substr(5) : port;
  while (!name.empty() && name.front() == '/') name.erase(0, 1);
  for (char& c : name)
    if (c == '/' || c == '\\') c = '-';
  return name;
}

std::optional<std::string> SplitPorts(const std::vector<std::string>& given, std::vector<BoardPort>& out) {
  out.clear();
  std::set<std::string> ports, names;
  for (const auto& value : given) {
    size_t from = 0;
    for (;;) {
      const size_t comma = value.find(',', from);
      const std::string port = value.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
      if (port.empty())
        return value.empty() ? std::string("an empty port name (\"\")") : "an empty port in \"" + value + "\"";
      BoardPort board{port, PortName(port)};
      if (!ports.insert(board.port).second) return "the port " + port + " is given twice";
      if (!names.insert(board.name).second) return "two ports go by the name " + board.name;
      out.push_back(std::move(board));
      if (comma == std::string::npos) break;
      from = comma + 1;
    }
  }
  if (out.empty()) return std::string("no port given");
  return std::nullopt;
}

std::string ExpandFileName(const std::string& pattern, const std::string& name, int64_t run) {
  std::string out;
  for (size_t i = 0; i < pattern.size();) {
    if (pattern.compare(i, 6, "{port}") == 0) {
      out += name;
      i += 6;
    } else if (pattern.compare(i, 3, "{n}") == 0) {
      out += std::to_string(run);
      i += 3;
    } else {
      out += pattern[i++];
    }
  }
  return out;
}

int64_t FirstFreeRun(const std::string& pattern, const std::string& name, int64_t from) {
  if (pattern.find("{n}") == std::string::npos) return from;
  std::error_code ec;
  // symlink_status: a link, even a dangling one, counts as a file that is there.
  while (std::filesystem::symlink_status(ExpandFileName(pattern, name, from), ec).type() !=
         std::filesystem::file_type::not_found)
    ++from;
  return from;
}

std::optional<std::string> CheckDumpPattern(const std::string& pattern, size_t ports, bool station) {
  if (ports > 1 && pattern.find("{port}") == std::string::npos)
    return "with several ports, FILE must hold {port} (one file per board): \"" + pattern + "\"";
  if (station && pattern.find("{n}") == std::string::npos)
    return "with --loop, FILE must hold {n} (one file per board of a port): \"" + pattern + "\"";
  return std::nullopt;
}

RunExit BoardsExitStatus(const std::vector<RunExit>& inPortOrder, bool interrupted) {
  if (interrupted) return EXIT_INTERRUPTED;
  for (RunExit status : inPortOrder)
    if (status != EXIT_DONE) return status;
  return EXIT_DONE;
}
