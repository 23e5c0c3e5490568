// One run of the command line: the settings it was given, and the session
// that drives the worker, the port and the update through the window logic.
#pragma once

#include "cli/CliStatus.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class CliCommand { Program, Erase, Dump, Batch, Ports };

struct CliOptions {
  CliCommand command = CliCommand::Batch;
  std::string configDir;
  std::string port;     // device path, COMn or n; empty: the remembered port
  std::vector<std::string> ports;  // every port -p gave, comma lists split
  bool loop = false;               // station mode: board after board until Ctrl-C
  std::string reportFile;          // --report: a JSON record per board run
  std::string baud;
  std::string chip, ramType, ramSize, xtal, flashType, flashModel;
  double timeoutSeconds = 60;
  bool quiet = false;
  bool verify = true;  // program: read the range back and compare (--no-verify: false)
  bool verifyDump = false;  // dump --verify: read the range twice and settle every block
  bool resume = false;      // dump --resume: go on with FILE.part of the same dump
  std::string logFile;
  // Operands.
  std::string base, length, image, dumpFile;
};

// A BASE or LENGTH operand: decimal or 0x-hexadecimal, 32 bits.
std::optional<uint32_t> ParseCliNumber(const std::string& text);

// A list choice given as a position or as the entry's text (case ignored).
std::optional<int32_t> ParseListChoice(const std::vector<std::string>& entries, const std::string& text);

// Runs the command (any but Ports): plan, run, report. Returns the exit status.
int RunCliSession(const CliOptions& options);

// Why this user could not open the device, in the words of a refused open;
// empty when nothing stands in the way. The device is not opened: opening a
// port can toggle its modem lines and reset the board behind it.
std::string PortAccessProblem(const std::string& device);

// Lists the machine's serial ports on stdout, marking those this user cannot open.
int RunPortsCommand();
