// A command-line run on one board or several at once, or a station: the
// production library runs the boards; the display ticks on the main thread
// meanwhile and Ctrl-C stops every board in order. A run over several ports,
// a station or a run with a report ends with the summary table.
#include "cli/CliBoardConsole.h"
#include "cli/CliBoards.h"
#include "cli/CliOutput.h"
#include "cli/CliSession.h"
#include "cli/CliSignals.h"
#include "prod/Production.h"
#include "core/ConfigLocation.h"

namespace {

// The boards the options name: those of -p, else the one port of the
// options (empty: the one cfg.ini remembers).
std::optional<std::string> BoardsOf(const CliOptions& o, std::vector<BoardPort>& boards) {
  if (!o.ports.empty()) return SplitPorts(o.ports, boards);
  boards = {BoardPort{o.port, o.port.empty() ? std::string("port") : PortName(o.port)}};
  return std::nullopt;
}

ProductionSetUp SetUpOf(const CliOptions& o, std::vector<BoardPort> boards, std::string configDir) {
  ProductionSetUp s;
  s.job = o;
  s.configDir = std::move(configDir);
  s.boards = std::move(boards);
  s.station = o.loop;
  s.reportFile = o.reportFile;
  return s;
}

}  // namespace

int RunCliSession(const CliOptions& o) {
  // Before any other thread starts, so that every thread leaves the signals to it.
  CSignalWatch signals;
  const bool table = WantsBoardRunner(o);
  CBoardConsole early({}, CBoardConsole::Mode{o.quiet, false, false});
  auto refuse = [&](RunRefusal reason, const std::string& text) {
    early.Message(IBoardsDisplay::kNoBoard, text);
    return static_cast<int>(ExitStatus(RefusedRun(reason)));
  };
  if (table && o.ports.empty())
    return refuse(RunRefusal::BadOption, "--loop and --report need the ports given with -p");
  std::vector<BoardPort> boards;
  if (auto why = BoardsOf(o, boards)) return refuse(RunRefusal::BadOption, *why);
  const ConfigLocation where = LocateConfigForProcess(o.configDir);
  if (!where.problem.empty())
    early.Message(IBoardsDisplay::kNoBoard, "configuration: " + where.problem + "; using " + where.dir);

  std::vector<std::string> names;
  for (const auto& b : boards) names.push_back(b.name);
  CBoardConsole console(names, CBoardConsole::Mode{o.quiet, StderrIsTerminal(), o.ports.size() > 1 || o.loop});
  std::string why;
  if (!o.logFile.empty() && !console.OpenLogFile(o.logFile, why))
    return refuse(RunRefusal::LogFileUnusable, "cannot open the log file " + o.logFile + ": " + why);
  CProduction production(SetUpOf(o, boards, where.dir), console);
  CSignalListener stopOnSignal(signals, [&production] { production.StopAll(); });
  if (signals.Interrupted()) production.StopAll();  // came before the listener
  if (!production.Start()) return ExitStatus(RefusedRun(production.Refusal()->reason));
  while (!production.WaitFor(std::chrono::milliseconds(200))) console.Tick();
  console.Close();
  if (!table) return production.Results().front().status;  // the board's own status
  PrintSummary(console, boards, o.loop, production);
  return production.ExitStatus();
}
