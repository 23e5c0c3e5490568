// A run over several ports, or a station, on the command line: the
// production library runs the boards, the display ticks on the main thread
// meanwhile, Ctrl-C stops every board; then the summary table and the exit status.
#include "cli/CliBoards.h"

#include "cli/CliBoardConsole.h"
#include "cli/CliOutput.h"
#include "cli/CliSignals.h"
#include "prod/Production.h"
#include "core/ConfigLocation.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string Row(const std::string& a, const std::string& b, const std::string& c, const std::string& d,
                const std::string& e, size_t nameWidth) {
  char line[256];
  std::snprintf(line, sizeof line, "%-*s  %-11s  %10s  %8s  %s", static_cast<int>(nameWidth), a.c_str(), b.c_str(),
                c.c_str(), d.c_str(), e.c_str());
  return line;
}

size_t NameWidth(const std::vector<BoardPort>& ports) {
  size_t w = 4;
  for (const auto& p : ports) w = std::max(w, p.name.size());
  return w;
}

void PrintResults(CBoardConsole& console, const std::vector<BoardPort>& ports,
                  const std::vector<BoardRunSummary>& results) {
  const size_t w = NameWidth(ports);
  console.PrintLine(Row("port", "result", "bytes", "seconds", "verify", w));
  for (size_t i = 0; i < ports.size(); ++i) {
    char secs[32];
    std::snprintf(secs, sizeof secs, "%.2f", results[i].seconds);
    console.PrintLine(
        Row(ports[i].name, results[i].result, std::to_string(results[i].bytes), secs, results[i].verify, w));
  }
}

void PrintCounts(CBoardConsole& console, const std::vector<BoardPort>& ports, const std::vector<StationCounts>& counts) {
  const size_t w = NameWidth(ports);
  console.PrintLine(Row("port", "last", "passed", "failed", "", w));
  for (size_t i = 0; i < ports.size(); ++i) {
    const auto& c = counts[i];
    console.PrintLine(Row(ports[i].name, c.last.result.empty() ? "-" : c.last.result, std::to_string(c.passed),
                          std::to_string(c.failed), "", w));
  }
}

ProductionSetUp SetUpOf(const CliOptions& o, std::vector<BoardPort> ports, std::string configDir) {
  ProductionSetUp s;
  s.job = o;
  s.configDir = std::move(configDir);
  s.boards = std::move(ports);
  s.station = o.loop;
  s.reportFile = o.reportFile;
  return s;
}

}  // namespace

bool WantsBoardRunner(const CliOptions& o) { return o.ports.size() > 1 || o.loop || !o.reportFile.empty(); }

int RunBoards(const CliOptions& o) {
  // Before any other thread starts, so that every thread leaves the signals to it.
  CSignalWatch signals;
  std::vector<BoardPort> ports;
  const bool prefixed = o.ports.size() > 1 || o.loop;
  CBoardConsole early({}, CBoardConsole::Mode{o.quiet, false, false});
  auto refuse = [&](RunRefusal reason, const std::string& text) {
    early.Message(IBoardsDisplay::kNoBoard, text);
    return static_cast<int>(ExitStatus(RefusedRun(reason)));
  };
  if (o.ports.empty()) return refuse(RunRefusal::BadOption, "--loop and --report need the ports given with -p");
  if (auto why = SplitPorts(o.ports, ports)) return refuse(RunRefusal::BadOption, *why);
  const ConfigLocation where = LocateConfigForProcess(o.configDir);
  if (!where.problem.empty()) early.Message(IBoardsDisplay::kNoBoard, "configuration: " + where.problem);

  std::vector<std::string> names;
  for (const auto& p : ports) names.push_back(p.name);
  CBoardConsole console(names, CBoardConsole::Mode{o.quiet, StderrIsTerminal(), prefixed});
  CProduction production(SetUpOf(o, ports, where.dir), console);
  if (auto refusal = production.Check()) return refuse(refusal->reason, refusal->text);
  std::string why;
  if (!o.logFile.empty() && !console.OpenLogFile(o.logFile, why))
    return refuse(RunRefusal::LogFileUnusable, "cannot open the log file " + o.logFile + ": " + why);
  CSignalListener stopOnSignal(signals, [&production] { production.StopAll(); });
  if (signals.Interrupted()) production.StopAll();  // came before the listener
  if (!production.Start()) return ExitStatus(RefusedRun(production.Refusal()->reason));
  while (!production.WaitFor(std::chrono::milliseconds(200))) console.Tick();
  console.Close();
  if (o.loop)
    PrintCounts(console, ports, production.Counts());
  else
    PrintResults(console, ports, production.Results());
  return production.ExitStatus();
}
