// A run over one or more boards: checks made once for all boards, then one
// thread per port, each running its board (or, in a station, board after
// board) and telling the display how it went.
#include "prod/Production.h"

#include "prod/BoardPlan.h"
#include "prod/BoardRun.h"
#include "prod/Report.h"
#include "prod/StopSource.h"
#include "app/HeadlessWindow.h"
#include "core/Config.h"
#include "core/platform/HostFiles.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

const char* CommandName(JobCommand c) {
  switch (c) {
    case JobCommand::Program: return "program";
    case JobCommand::Erase: return "erase";
    case JobCommand::Dump: return "dump";
    case JobCommand::Batch: break;
  }
  return "batch";
}

// The view of the plan made once before the boards start: it shows nothing.
class CPlanView final : public CHeadlessView {
public:
  using CHeadlessView::CHeadlessView;
  void AppendLogLine(const std::string&) override {}
  void AppendConsoleChar(char) override {}
  void ShowMessageBox(const std::string&, const std::string&) override {}
};

// The checks that hold for every board: ports, file names, configuration
// and the plan of the first board.
std::optional<ProductionRefusal> CheckBoards(const ProductionSetUp& s) {
  const JobOptions& o = s.job;
  if (s.boards.empty()) return ProductionRefusal{RunRefusal::BadOption, "no port given"};
  if (o.command == JobCommand::Dump)
    if (auto why = CheckDumpPattern(o.dumpFile, s.boards.size(), s.station))
      return ProductionRefusal{RunRefusal::BadOption, *why};
  const CConfigFile config = CConfigFile::InFolder(s.configDir);
  if (!host::IsRegularFile(config.Path()))
    return ProductionRefusal{RunRefusal::NoConfiguration, "no configuration file " + config.Path()};
  JobOptions first = o;
  first.port = s.boards.front().port;
  if (o.command == JobCommand::Dump) first.dumpFile = ExpandFileName(o.dumpFile, s.boards.front().name, 1);
  CDumpApp app;
  app.SetConfigDir(s.configDir);
  CSettingsModel model(config);
  model.Load();
  CHeadlessWindow window;
  CPlanView view(window.Id());
  CDlgLogic logic(app, model, view, window);
  BoardPlan plan;
  if (auto refusal = MakePlan(first, model, logic, app, plan)) return ProductionRefusal{refusal->reason, refusal->text};
  return std::nullopt;
}

}  // namespace

struct CProduction::Impl {
  Impl(ProductionSetUp s, IBoardsDisplay& d) : setUp(std::move(s)), display(d), stops(setUp.boards.size()) {}

  void RunBoard(size_t i, const BoardsContext& ctx);

  ProductionSetUp setUp;
  IBoardsDisplay& display;
  CStopSource stops;
  CRecordFile report;
  std::optional<ProductionRefusal> refusal;
  std::optional<BoardsContext> ctx;
  std::vector<std::thread> threads;
  mutable std::mutex mutex;
  std::condition_variable ended;
  size_t running = 0;
  std::vector<BoardRunSummary> results;
  std::vector<StationCounts> counts;
};

// One port's thread: its board, or in a station its boards one by one.
void CProduction::Impl::RunBoard(size_t i, const BoardsContext& context) {
  StationCounts c;
  if (setUp.station) {
    c = RunStation(context, setUp.boards[i], i);
  } else {
    display.SetStatus(i, "running", "");
    c.last = RunOneBoard(context, setUp.boards[i], i, 1, false);
    (c.last.status == EXIT_DONE ? c.passed : c.failed) = 1;
    display.SetStatus(i, c.last.result, "");
    ShowBoardEnded(context, i, c.last, c);
  }
  std::lock_guard lock(mutex);
  counts[i] = c;
  results[i] = c.last;
  --running;
  ended.notify_all();
}

CProduction::CProduction(ProductionSetUp setUp, IBoardsDisplay& display)
    : m_impl(std::make_unique<Impl>(std::move(setUp), display)) {}

CProduction::~CProduction() {
  StopAll();
  for (auto& t : m_impl->threads) t.join();
}

std::optional<ProductionRefusal> CProduction::Check() {
  if (auto refusal = CheckBoards(m_impl->setUp)) return refusal;
  const std::string& reportFile = m_impl->setUp.reportFile;
  std::string why;
  if (!reportFile.empty() && !m_impl->report.IsOpen() && !m_impl->report.Open(reportFile, why))
    return ProductionRefusal{RunRefusal::BadOption, "cannot append to the report " + reportFile + ": " + why};
  return std::nullopt;
}

bool CProduction::Start() {
  Impl& m = *m_impl;
  if (!m.threads.empty()) return true;
  m.refusal = Check();
  if (m.refusal) {
    m.display.Message(IBoardsDisplay::kNoBoard, m.refusal->text);
    return false;
  }
  const JobOptions& o = m.setUp.job;
  m.ctx.emplace(BoardsContext{o, m.setUp.configDir, m.display, m.stops,
                              m.setUp.reportFile.empty() ? nullptr : &m.report, m.setUp.reportFile,
                              CommandName(o.command), std::nullopt, {}});
  if (o.command == JobCommand::Program) {
    std::string why;
    if (auto sha = Sha256OfFile(o.image, why)) m.ctx->imageSha256 = *sha;
    if (uint64_t size = 0; host::RecordedSize(o.image, size)) m.ctx->imageSize = size;
  }
  const size_t n = m.setUp.boards.size();
  m.results.assign(n, {});
  m.counts.assign(n, {});
  m.running = n;
  for (size_t i = 0; i < n; ++i) m.threads.emplace_back([&m, i] { m.RunBoard(i, *m.ctx); });
  return true;
}

const std::optional<ProductionRefusal>& CProduction::Refusal() const { return m_impl->refusal; }

void CProduction::StopAll() { m_impl->stops.StopAll(); }

void CProduction::Stop(size_t board) { m_impl->stops.Stop(board); }

bool CProduction::Finished() const {
  std::lock_guard lock(m_impl->mutex);
  return m_impl->running == 0;
}

bool CProduction::WaitFor(std::chrono::milliseconds span) {
  std::unique_lock lock(m_impl->mutex);
  return m_impl->ended.wait_for(lock, span, [this] { return m_impl->running == 0; });
}

void CProduction::Wait() {
  std::unique_lock lock(m_impl->mutex);
  m_impl->ended.wait(lock, [this] { return m_impl->running == 0; });
}

size_t CProduction::Count() const { return m_impl->setUp.boards.size(); }

std::vector<BoardRunSummary> CProduction::Results() const {
  std::lock_guard lock(m_impl->mutex);
  return m_impl->results;
}

std::vector<StationCounts> CProduction::Counts() const {
  std::lock_guard lock(m_impl->mutex);
  return m_impl->counts;
}

int CProduction::ExitStatus() const {
  std::vector<RunExit> statuses;
  for (const StationCounts& c : Counts()) {
    if (!m_impl->setUp.station)
      statuses.push_back(c.last.status);
    else  // a station's failed boards are counted; only a refusal or a lost record ends it as failed
      statuses.push_back(c.last.refused || c.last.recordLost ? c.last.status : EXIT_DONE);
  }
  return BoardsExitStatus(statuses, m_impl->stops.AllStopped());
}
