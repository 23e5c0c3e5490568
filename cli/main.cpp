// tqupdate: the command line of TqUpdater.
#include "cli/CliArgs.h"
#include "cli/CliOutput.h"
#include "cli/CliSession.h"
#include "cli/InterruptWatch.h"

#include <iostream>

int main(int argc, char** argv) {
  OpenStandardDescriptors();
  CliOptions o;
  if (auto status = ParseCliArguments(argc, argv, o, std::cout, std::cerr)) return *status;
  IgnoreBrokenPipe();
  if (o.listPorts) return RunPortsCommand();
  return RunCliSession(o);
}
