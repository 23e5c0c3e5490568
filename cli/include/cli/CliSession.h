// One run of the command line: the job it was given and the command line's
// own settings (ports, station mode, report, log, quiet).
#pragma once

#include "prod/BoardJob.h"
#include "prod/BoardStatus.h"

#include <string>
#include <vector>

struct CliOptions : JobOptions {
  bool listPorts = false;  // the `ports` command rather than a job
  std::string configDir;
  std::vector<std::string> ports;  // every port -p gave, comma lists split
  bool loop = false;               // station mode: board after board until Ctrl-C
  std::string reportFile;          // --report: a JSON record per board run
  bool quiet = false;
  std::string logFile;
};

// Runs the command (any but `ports`): plan, run, report. Returns the exit status.
int RunCliSession(const CliOptions& options);

// Why this user could not open the device, in the words of a refused open;
// empty when nothing stands in the way. The device is not opened: opening a
// port can toggle its modem lines and reset the board behind it.
std::string PortAccessProblem(const std::string& device);

// Lists the machine's serial ports on stdout, marking those this user cannot open.
int RunPortsCommand();
