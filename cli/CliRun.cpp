// A command-line run on one port: the log file and the configuration are
// checked, then the production library's board session runs with the
// terminal as its sink; its typed facts give the exit status.
#include "cli/CliOutput.h"
#include "cli/CliSession.h"
#include "cli/CliSignals.h"
#include "prod/BoardPlan.h"
#include "prod/BoardSession.h"
#include "prod/StopSource.h"
#include "app/DumpApp.h"
#include "core/Config.h"
#include "core/ConfigLocation.h"
#include "core/platform/HostFiles.h"

namespace {

// The log file and the configuration file, before anything else.
std::optional<PlanRefusal> CheckSetUp(const CliOptions& o, const CConfigFile& config, CCliOutput& out) {
  if (!o.logFile.empty()) {
    std::string why;
    if (!out.OpenLogFile(o.logFile, why))
      return PlanRefusal{RunRefusal::LogFileUnusable, "cannot open the log file " + o.logFile + ": " + why};
  }
  if (!host::IsRegularFile(config.Path()))
    return PlanRefusal{RunRefusal::NoConfiguration, "no configuration file " + config.Path()};
  return std::nullopt;
}

}  // namespace

int RunCliSession(const CliOptions& o) {
  // Before any other thread starts, so that every thread leaves the signals to it.
  CSignalWatch signals;
  CStopSource stops(1);
  CSignalListener stopOnSignal(signals, [&stops] { stops.StopAll(); });
  const ConfigLocation where = LocateConfigForProcess(o.configDir);
  CDumpApp app;
  app.SetConfigDir(where.dir);
  const CConfigFile config = CConfigFile::InFolder(app.m_strConfigDir);
  const bool terminal = StderrIsTerminal();
  CCliOutput out(o.quiet, terminal, terminal);
  if (!where.problem.empty()) out.Message("configuration: " + where.problem + "; using " + where.dir);
  if (auto refusal = CheckSetUp(o, config, out)) {
    out.Message(refusal->text);
    return ExitStatus(RefusedRun(refusal->reason));
  }
  if (signals.Interrupted()) stops.StopAll();  // came before the listener
  return ExitStatus(RunBoardSession(BoardSetUp{o, app.m_strConfigDir, out, CBoardStop(stops, 0)}).facts);
}
