// The command line's arguments as random strings: every parse either stops
// with bad usage (2), stops after help or version text (0), or yields one of
// the five commands with its options in range; never anything else.
#include "cli/CliArgs.h"
#include "tests/fuzz/FuzzSupport.h"

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A cluster of short flags reads on after each flag: "-qh" holds -h, and
// "-q-version" holds --version (what follows -q is read as "--version").
bool AsksForHelpOrVersion(const std::vector<std::string>& args) {
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.rfind("--", 0) == 0 ? (a.rfind("--help", 0) == 0 || a.rfind("--version", 0) == 0)
                              : (a.size() > 1 && a[0] == '-' &&
                                 (a.find('h') != std::string::npos || a.find("-version", 1) != std::string::npos)))
      return true;
  }
  return false;
}

std::string Join(const std::vector<std::string>& args) {
  std::string out;
  for (const auto& a : args) out += "[" + a + "] ";
  return out;
}

bool SameOptions(const CliOptions& a, const CliOptions& b) {
  return a.command == b.command && a.configDir == b.configDir && a.port == b.port && a.ports == b.ports &&
         a.loop == b.loop && a.reportFile == b.reportFile && a.baud == b.baud &&
         a.chip == b.chip && a.ramType == b.ramType && a.ramSize == b.ramSize && a.xtal == b.xtal &&
         a.flashType == b.flashType && a.flashModel == b.flashModel && a.timeoutSeconds == b.timeoutSeconds &&
         a.quiet == b.quiet && a.verify == b.verify && a.logFile == b.logFile && a.base == b.base &&
         a.length == b.length && a.image == b.image && a.dumpFile == b.dumpFile;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  std::vector<std::string> args{"tqupdate"};
  while (!in.Empty() && args.size() < 16) args.push_back(in.Text(64));
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(args.size());
  const std::string shown = Join(args);

  CliOptions options;
  std::ostringstream out, err;
  const auto status = ParseCliArguments(argc, argv.data(), options, out, err);
  if (status) {
    FUZZ_CHECK(*status == EXIT_USAGE || (*status == EXIT_DONE && AsksForHelpOrVersion(args)),
               "status " + std::to_string(*status) + " for " + shown);
    FUZZ_CHECK(*status == EXIT_DONE ? !out.str().empty() : !err.str().empty(), "a stop without a word: " + shown);
    return 0;
  }
  const JobCommand c = options.command;
  const std::string name = std::to_string(static_cast<int>(c));
  FUZZ_CHECK(c == JobCommand::Program || c == JobCommand::Erase || c == JobCommand::Dump || c == JobCommand::Batch,
             "command " + name);
  FUZZ_CHECK(std::isfinite(options.timeoutSeconds) && options.timeoutSeconds >= 0 && options.timeoutSeconds <= 1e6,
             "timeout " + std::to_string(options.timeoutSeconds) + " from " + shown);
  // Reading back is the default of every run; only program's --no-verify turns it off.
  FUZZ_CHECK(options.verify || c == JobCommand::Program, "--no-verify outside program: " + shown);
  FUZZ_CHECK(options.length.empty() || c == JobCommand::Erase || c == JobCommand::Dump, "LENGTH for " + name);
  FUZZ_CHECK(options.image.empty() || c == JobCommand::Program, "IMAGE for " + name);
  FUZZ_CHECK(options.dumpFile.empty() || c == JobCommand::Dump, "FILE for " + name);
  // Each port the parse yields is one whole name: never empty, no comma left in it.
  for (const auto& port : options.ports)
    FUZZ_CHECK(!port.empty() && port.find(',') == std::string::npos, "port [" + port + "] from " + shown);

  // The same arguments parse the same way again.
  CliOptions again;
  FUZZ_CHECK(!ParseCliArguments(argc, argv.data(), again, out, err) && SameOptions(options, again), shown);
  return 0;
}
