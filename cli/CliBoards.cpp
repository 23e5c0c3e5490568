// A run over several ports, or a station: checks made once for all boards,
// one thread per port, the display ticking on the main thread, then the
// summary table and the exit status.
#include "cli/CliBoards.h"

#include "cli/CliBoardRun.h"
#include "cli/CliOutput.h"
#include "cli/CliPlan.h"
#include "app/HeadlessWindow.h"
#include "core/Config.h"
#include "core/ConfigLocation.h"
#include "core/platform/HostFiles.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <set>
#include <thread>

namespace {

const char* CommandName(CliCommand c) {
  switch (c) {
    case CliCommand::Program: return "program";
    case CliCommand::Erase: return "erase";
    case CliCommand::Dump: return "dump";
    case CliCommand::Batch: return "batch";
    case CliCommand::Ports: break;
  }
  return "ports";
}

// The view of the plan made once before the boards start: it shows nothing.
class CPlanView final : public CHeadlessView {
public:
  using CHeadlessView::CHeadlessView;
  void AppendLogLine(const std::string&) override {}
  void AppendConsoleChar(char) override {}
  void ShowMessageBox(const std::string&, const std::string&) override {}
};

struct Refused {
  CliRefusal reason;
  std::string text;
};

// The checks that hold for every board, made once: ports, file names,
// configuration, log and report files, and the plan of the first board.
std::optional<Refused> CheckRun(const CliOptions& o, const std::vector<BoardPort>& ports, const std::string& configDir) {
  if (o.command == CliCommand::Dump)
    if (auto why = CheckDumpPattern(o.dumpFile, ports.size(), o.loop)) return Refused{CliRefusal::BadOption, *why};
  const CConfigFile config = CConfigFile::InFolder(configDir);
  if (!host::IsRegularFile(config.Path()))
    return Refused{CliRefusal::NoConfiguration, "no configuration file " + config.Path()};
  CliOptions first = o;
  first.port = ports.front().port;
  if (o.command == CliCommand::Dump) first.dumpFile = ExpandFileName(o.dumpFile, ports.front().name, 1);
  CDumpApp app;
  app.SetConfigDir(configDir);
  CSettingsModel model(config);
  model.Load();
  CHeadlessWindow window;
  CPlanView view(window.Id());
  CDlgLogic logic(app, model, view, window);
  CliPlan plan;
  if (auto refusal = MakePlan(first, model, logic, app, plan)) return Refused{refusal->reason, refusal->text};
  return std::nullopt;
}

void ImageFacts(const CliOptions& o, BoardsContext& ctx) {
  if (o.command != CliCommand::Program) return;
  std::string why;
  if (auto sha = Sha256OfFile(o.image, why)) ctx.imageSha256 = *sha;
  if (uint64_t size = 0; host::RecordedSize(o.image, size)) ctx.imageSize = size;
}

// Runs `body(i)` for every port on a thread of its own; the display ticks
// on this thread meanwhile.
template <typename Body>
void OnEveryPort(size_t count, CBoardConsole& console, Body body) {
  std::atomic<size_t> running{count};
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<std::thread> threads;
  for (size_t i = 0; i < count; ++i)
    threads.emplace_back([&, i] {
      body(i);
      std::lock_guard lock(mutex);
      --running;
      cv.notify_all();
    });
  std::unique_lock lock(mutex);
  while (running.load() > 0) {
    cv.wait_for(lock, std::chrono::milliseconds(200));
    lock.unlock();
    console.Tick();
    lock.lock();
  }
  lock.unlock();
  for (auto& t : threads) t.join();
}

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

int RunAllOnce(const BoardsContext& ctx, const std::vector<BoardPort>& ports) {
  std::vector<BoardRunSummary> results(ports.size());
  OnEveryPort(ports.size(), ctx.console, [&](size_t i) {
    ctx.console.SetStatus(i, "running", "");
    results[i] = RunOneBoard(ctx, ports[i], i, 1, false);
    ctx.console.SetStatus(i, results[i].result, "");
  });
  ctx.console.Close();
  const size_t w = NameWidth(ports);
  ctx.console.PrintLine(Row("port", "result", "bytes", "seconds", "verify", w));
  std::vector<CliExit> statuses;
  for (size_t i = 0; i < ports.size(); ++i) {
    char secs[32];
    std::snprintf(secs, sizeof secs, "%.2f", results[i].seconds);
    ctx.console.PrintLine(
        Row(ports[i].name, results[i].result, std::to_string(results[i].bytes), secs, results[i].verify, w));
    statuses.push_back(results[i].status);
  }
  return BoardsExitStatus(statuses, ctx.signals.Interrupted());
}

int RunAllStations(const BoardsContext& ctx, const std::vector<BoardPort>& ports) {
  std::vector<StationCounts> counts(ports.size());
  OnEveryPort(ports.size(), ctx.console, [&](size_t i) { counts[i] = RunStation(ctx, ports[i], i); });
  ctx.console.Close();
  const size_t w = NameWidth(ports);
  ctx.console.PrintLine(Row("port", "last", "passed", "failed", "", w));
  std::vector<CliExit> statuses;
  for (size_t i = 0; i < ports.size(); ++i) {
    const auto& c = counts[i];
    ctx.console.PrintLine(Row(ports[i].name, c.last.result.empty() ? "-" : c.last.result, std::to_string(c.passed),
                              std::to_string(c.failed), "", w));
    statuses.push_back(c.last.refused || c.last.recordLost ? c.last.status : EXIT_DONE);
  }
  return BoardsExitStatus(statuses, ctx.signals.Interrupted());
}

}  // namespace

bool WantsBoardRunner(const CliOptions& o) { return o.ports.size() > 1 || o.loop || !o.reportFile.empty(); }

int RunBoards(const CliOptions& o) {
  // Before any other thread starts, so that every thread leaves the signals to it.
  CSignalWatch signals;
  std::vector<BoardPort> ports;
  const bool prefixed = o.ports.size() > 1 || o.loop;
  CBoardConsole early({}, CBoardConsole::Mode{o.quiet, false, false});
  auto refuse = [&](CliRefusal reason, const std::string& text) {
    early.Message(CBoardConsole::kNoBoard, text);
    return static_cast<int>(ExitStatus(RefusedRun(reason)));
  };
  if (o.ports.empty()) return refuse(CliRefusal::BadOption, "--loop and --report need the ports given with -p");
  if (auto why = SplitPorts(o.ports, ports)) return refuse(CliRefusal::BadOption, *why);
  const ConfigLocation where = LocateConfigForProcess(o.configDir);
  if (!where.problem.empty()) early.Message(CBoardConsole::kNoBoard, "configuration: " + where.problem);
  if (auto refusal = CheckRun(o, ports, where.dir)) return refuse(refusal->reason, refusal->text);

  std::vector<std::string> names;
  for (const auto& p : ports) names.push_back(p.name);
  CBoardConsole console(names, CBoardConsole::Mode{o.quiet, StderrIsTerminal(), prefixed});
  std::string why;
  if (!o.logFile.empty() && !console.OpenLogFile(o.logFile, why))
    return refuse(CliRefusal::LogFileUnusable, "cannot open the log file " + o.logFile + ": " + why);
  CRecordFile report;
  if (!o.reportFile.empty() && !report.Open(o.reportFile, why))
    return refuse(CliRefusal::BadOption, "cannot append to the report " + o.reportFile + ": " + why);
  BoardsContext ctx{o, where.dir, console, signals, o.reportFile.empty() ? nullptr : &report, CommandName(o.command),
                    std::nullopt, {}};
  ImageFacts(o, ctx);
  return o.loop ? RunAllStations(ctx, ports) : RunAllOnce(ctx, ports);
}
