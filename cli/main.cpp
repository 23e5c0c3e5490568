// tqupdate: the command line of TqUpdater.
#include "CliSession.h"
#include "cli/CliArgs.h"

#include <csignal>
#include <iostream>

int main(int argc, char** argv) {
  CliOptions o;
  if (auto status = ParseCliArguments(argc, argv, o, std::cout, std::cerr)) return *status;
  // A closed stdout (tqupdate ... | head) must not kill a run mid-dump: the
  // write fails and the update goes on to its orderly end.
  std::signal(SIGPIPE, SIG_IGN);
  if (o.command == "ports") return RunPortsCommand();
  return RunCliSession(o);
}
