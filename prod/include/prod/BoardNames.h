// The pure rules of a run over several boards: board names, the port list,
// the per-board file names and the run's exit status.
#pragma once

#include "prod/BoardStatus.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct BoardPort {
  std::string port;  // as given: a device path, COMn or n
  std::string name;  // in the output, the report and the {port} of file names
};

// The board's name: a device path without "/dev/" and with '/' as '-'
// (/dev/ttyUSB0 -> ttyUSB0, /dev/pts/3 -> pts-3), a COM number as COMn.
std::string PortName(const std::string& port);
// Splits the port values at commas. Returns why the list is refused (empty
// entries, a port or a name given twice), or nothing.
std::optional<std::string> SplitPorts(const std::vector<std::string>& given, std::vector<BoardPort>& out);
// FILE with {port} replaced by the board's name and {n} by its run number.
std::string ExpandFileName(const std::string& pattern, const std::string& name, int64_t run);
// The first run number from `from` on whose file is not there yet, so that a
// station started again does not write over the dumps of an earlier one.
int64_t FirstFreeRun(const std::string& pattern, const std::string& name, int64_t from);
// Why a dump's FILE cannot serve these boards (one file each), or nothing.
std::optional<std::string> CheckDumpPattern(const std::string& pattern, size_t ports, bool station);
// The run's exit status: 130 after a stop of all boards, else that of the
// first board in the order the ports were given whose run failed, else 0.
RunExit BoardsExitStatus(const std::vector<RunExit>& inPortOrder, bool interrupted);
