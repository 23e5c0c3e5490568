// One board's run: plan, then drive the window logic, the worker and the
// update to their end. Every way the run can end is recorded as a typed
// fact; ExitStatus turns those into the exit status.
#include "prod/BoardSession.h"
#include "prod/DumpCheck.h"
#include "prod/DumpFile.h"
#include "prod/BoardFiles.h"
#include "prod/BoardPlan.h"
#include "app/PortText.h"
#include "app/HeadlessWindow.h"
#include "comm/FileAccess.h"
#include "comm/UIThread.h"
#include "core/Config.h"
#include "core/Messages.h"
#include "core/platform/HostFiles.h"
#include "comm/platform/SerialPlatform.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// The window's view for a board's run: output goes to the run's sink;
// the controls' state is kept for the window logic. Progress is taken here,
// on the worker thread, so that it reaches the sink in order with the log
// lines around it.
class CBoardView : public CHeadlessView {
public:
  CBoardView(uint32_t windowId, IBoardSink& out, const int64_t& progressTotal)
      : CHeadlessView(windowId), m_out(out), m_progressTotal(progressTotal) {}
  void AppendLogLine(const std::string& text) override { m_out.LogLine(text); }
  void AppendConsoleChar(char ch) override { m_out.ConsoleChar(ch); }
  // The worker and the engine show a message box only for a refused open
  // (or reopen), and report its typed result right after; the session says
  // that once, naming the device and the reason (PortOpenFailureText).
  void ShowMessageBox(const std::string&, const std::string&) override {}
  void PostWindowMessage(uint32_t msg, uint32_t wParam, int32_t lParam) override {
    if (msg == WM_UPDATE_PROGRESS) {
      m_out.Progress(lParam, m_progressTotal);
      m_progressSteps.fetch_add(1);
    }
    CHeadlessView::PostWindowMessage(msg, wParam, lParam);
  }
  // How many progress values the update has posted: each one ends a block.
  uint64_t ProgressSteps() const { return m_progressSteps.load(); }

private:
  IBoardSink& m_out;
  const int64_t& m_progressTotal;  // set before the worker starts
  std::atomic<uint64_t> m_progressSteps{0};
};

// What the worker reports, kept for the main loop, which every report wakes.
class CBoardObserver : public IUpdateObserver {
public:
  CBoardObserver(CHeadlessWindow& window, IBoardSink& out) : m_window(window), m_out(out) { Touch(); }
  void OnUpdateOutcome(UpdateOutcome outcome) override { Set(m_outcome, static_cast<int>(outcome)); }
  void OnPortOpenResult(PortOpenResult result) override { Set(m_portOpen, static_cast<int>(result)); }
  void OnPortLost() override { Set(m_portLost, 1); }
  // The chip's first bytes: its request, so the update is under way.
  void OnBytesReceived(size_t) override {
    if (!m_heard.exchange(true)) m_out.State(BoardState::Running);
  }
  // Only progress holds off --timeout: a line that keeps sending bytes that
  // advance nothing (a chip in its boot ROM, the tail of an old dump) does not.
  void OnProgressMade() override { Touch(); }

  void Touch() { m_lastActivityNs.store(Clock::now().time_since_epoch().count()); }
  Clock::time_point LastActivity() const { return Clock::time_point(Clock::duration(m_lastActivityNs.load())); }
  std::optional<UpdateOutcome> Outcome() const { return Get<UpdateOutcome>(m_outcome); }
  // The worker's last answer to an open (a failed reopen at 115200 included).
  std::optional<PortOpenResult> PortOpen() const { return Get<PortOpenResult>(m_portOpen); }
  bool PortLost() const { return m_portLost.load() > 0; }
  bool ChipHeard() const { return m_heard.load(); }

private:
  void Set(std::atomic<int>& slot, int value) {
    slot.store(value);
    m_window.Wake();
  }
  template <typename T>
  static std::optional<T> Get(const std::atomic<int>& slot) {
    const int v = slot.load();
    if (v < 0) return std::nullopt;
    return static_cast<T>(v);
  }

  CHeadlessWindow& m_window;
  IBoardSink& m_out;
  std::atomic<int> m_outcome{-1};
  std::atomic<int> m_portOpen{-1};
  std::atomic<int> m_portLost{0};
  std::atomic<bool> m_heard{false};
  std::atomic<Clock::rep> m_lastActivityNs{0};
};

// Seconds as the user wrote them: 0.5 stays 0.5, 60 stays 60.
std::string SecondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", seconds);
  return text;
}

// Passes a batch through and says when it reaches the entries that read
// back for a check: from `firstCheck` on (-1: none).
class CVerifyingBatch final : public IBatchSource {
public:
  CVerifyingBatch(IBatchSource& batch, int32_t firstCheck, IBoardSink& out)
      : m_batch(batch), m_firstCheck(firstCheck), m_out(out) {}
  int32_t TotalNum() override { return m_batch.TotalNum(); }
  BatchEntry Entry(int32_t index) override {
    if (m_firstCheck >= 0 && index >= m_firstCheck && !m_told.exchange(true)) m_out.State(BoardState::Verifying);
    return m_batch.Entry(index);
  }
  bool HasEntry(int32_t index) override { return m_batch.HasEntry(index); }

private:
  IBatchSource& m_batch;
  const int32_t m_firstCheck;
  IBoardSink& m_out;
  std::atomic<bool> m_told{false};
};

class CBoardSession {
public:
  CBoardSession(const BoardSetUp& setUp, CDumpApp& app, const CConfigFile& config)
      : m_o(setUp.options), m_setUp(setUp), m_app(app), m_out(setUp.out), m_model(config) {}

  RunFacts Run();
  bool ChipHeard() const { return m_observer.ChipHeard(); }
  const std::optional<VerifyReport>& VerifyDone() const { return m_verify; }
  // The offset a resumed dump asked the chip from; nothing when it was not resumed.
  std::optional<uint64_t> ResumedFrom() const {
    if (m_plan.dumpFiles.empty() || m_plan.dumpFiles.front().file.continueAt < 0) return std::nullopt;
    return static_cast<uint64_t>(m_plan.dumpFiles.front().file.continueAt);
  }

private:
  void RunWorker(IBatchSource& batch, RunFacts& facts);
  // Asks the worker to open the port and waits for its answer.
  bool OpenPort(RunFacts& facts);
  // Looks at everything that ends the wait for the update, in order; true
  // when one of them ended the run.
  bool TakeEnding(RunFacts& facts);
  // After a stop request a talking chip gets to finish the block in flight (until
  // the next progress step, at most kInterruptGrace); true when it is time to stop.
  bool InterruptDue();
  // Runs the window's stop sequence (stop the update, close the port).
  bool StopWith(RunStop stop, const std::string& why, RunFacts& facts);
  // Lets the window answer WM_UPDATE_END: its stop sequence closes the port.
  void AwaitEndAnswer();
  Clock::duration Timeout() const;
  // The port as the failure text names it.
  PortPlace Place() const;
  Clock::time_point NextWake() const;
  VerifyResult Verify();

  static constexpr auto kInterruptGrace = std::chrono::seconds(2);

  const JobOptions& m_o;
  const BoardSetUp& m_setUp;
  CDumpApp& m_app;
  IBoardSink& m_out;
  CHeadlessWindow m_window;
  BoardPlan m_plan;
  CBoardView m_view{m_window.Id(), m_out, m_plan.progressTotal};
  CSettingsModel m_model;
  CDlgLogic m_logic{m_app, m_model, m_view, m_window};
  CPosixFileAccess m_systemFiles;
  CBoardFileAccess m_files{m_systemFiles};
  CBoardObserver m_observer{m_window, m_out};
  std::optional<Clock::time_point> m_interruptedAt;
  uint64_t m_stepsAtInterrupt = 0;
  std::optional<VerifyReport> m_verify;
  bool m_endHandled = false;  // the window's answer to WM_UPDATE_END has run
};

RunFacts CBoardSession::Run() {
  m_model.Load();
  if (auto refusal = MakePlan(m_o, m_model, m_logic, m_app, m_plan)) {
    m_out.Message(refusal->text);
    return RefusedRun(refusal->reason);
  }
  m_logic.SetDevicePath(m_plan.devicePath);
  // The run ends with the update: its stop sequence must not open the port again.
  m_logic.SetReopenOnStop(false);
  if (m_plan.RunsAsBatch()) m_files.KeepDumpsInMemory();
  for (const DumpFileJob& job : m_plan.dumpFiles) m_files.AddWorkingFile(job.part, job.file);
  if (!m_plan.note.empty()) m_out.LogLine(m_plan.note);
  CMemoryBatch verifyBatch(m_plan.verifyBatch);
  // A batch runs the list as it was checked, not as cfg.ini may read by now.
  CMemoryBatch batchList(m_plan.batchList);
  std::optional<CDumpReadCheck> readCheck;
  if (m_plan.checksDump) {
    const DumpFileJob& job = m_plan.dumpFiles.front();
    readCheck.emplace(m_files, job.part, kReadBackName, static_cast<int32_t>(job.file.record.base),
                      static_cast<int32_t>(job.file.record.length), std::max<int64_t>(job.file.continueAt, 0));
  }
  IBatchSource& plain = readCheck ? static_cast<IBatchSource&>(*readCheck)
                                  : m_plan.Verifies() ? static_cast<IBatchSource&>(verifyBatch) : batchList;
  CVerifyingBatch batch(plain, m_plan.RunsAsBatch() ? 1 : -1, m_out);
  CStopListener wakeOnStop(m_setUp.stop, [this] { m_window.Wake(); });

  RunFacts facts;
  RunWorker(batch, facts);
  if (facts.stop == RunStop::NoWorker) return facts;
  m_out.Finish();
  const bool completed = facts.outcome == UpdateOutcome::Completed;
  if (completed && m_plan.Verifies()) facts.verify = Verify();
  if (completed && readCheck) facts.verify = SettleDumpCheck(*readCheck, m_out);
  if (completed && m_o.command == JobCommand::Program && !m_o.verify)
    m_out.LogLine("not verified: --no-verify skipped the read-back.");
  FinishDumpFiles(m_plan.dumpFiles, m_files, m_o.command == JobCommand::Batch, m_out, facts);
  return facts;
}

void CBoardSession::RunWorker(IBatchSource& batch, RunFacts& facts) {
  // After a stop request the chip finishes the block in flight, and nothing new
  // (no erase, no program) is begun.
  CUIThread worker(UIThreadDeps{m_view, m_files, batch, &m_observer, m_app.m_strConfigDir,
                                &m_app.m_dwWorkerThreadId, nullptr,
                                [this] { return m_setUp.stop.Requested(); }});
  if (!worker.CreateThread()) {
    m_out.Message("cannot start the worker thread");
    facts.stop = RunStop::NoWorker;
    return;
  }
  m_window.onMessage = [this](const ThreadMessage& m) {
    m_logic.OnWindowMessage(m.message, m.wParam, m.lParam);
    if (m.message == WM_UPDATE_END) m_endHandled = true;
  };
  m_window.onTimer = [this](uint32_t id) { m_logic.OnTimerTick(id); };

  if (OpenPort(facts)) {
    m_app.m_settings = m_plan.settings;
    m_observer.Touch();
    m_logic.StartUpdate();
    do {
      m_window.PumpOne(NextWake());
    } while (!TakeEnding(facts));
  }
  // The worker handles the stop and close requests, then ends; its port is closed.
  worker.StopThread();
}

bool CBoardSession::OpenPort(RunFacts& facts) {
  m_logic.OnOpen();
  while (!m_observer.PortOpen() && !m_setUp.stop.Requested())
    m_window.PumpOne(Clock::now() + std::chrono::seconds(1));
  if (m_setUp.stop.Requested()) {
    facts.stop = RunStop::Interrupted;
    return false;
  }
  const PortOpenResult result = *m_observer.PortOpen();
  if (result == PortOpenResult::Opened) {
    m_out.State(BoardState::WaitingForBoard);
    return true;
  }
  m_out.Message(PortOpenFailureText(result, Place()));
  facts.failedOpen = result;
  return false;
}

PortPlace CBoardSession::Place() const {
  const int32_t n = m_model.PortNumber();
  const std::string own = n >= 1 && n <= 1024 ? serial::DeviceNameForNumber(n) : std::string();
  return PlaceOfPort(m_plan.devicePath, n, m_model.Config(), own);
}

bool CBoardSession::TakeEnding(RunFacts& facts) {
  if (auto outcome = m_observer.Outcome()) {
    facts.outcome = outcome;
    // A wind-down that the update finished on its own (the block in flight
    // ended before the grace did) is said as the stop it came from.
    if (*outcome == UpdateOutcome::Stopped && m_setUp.stop.Requested()) m_out.Message("interrupted");
    AwaitEndAnswer();
    return true;
  }
  if (InterruptDue()) return StopWith(RunStop::Interrupted, "interrupted", facts);
  // The reopen at 115200 failed.
  if (auto port = m_observer.PortOpen(); port && *port != PortOpenResult::Opened) {
    m_out.Message(PortOpenFailureText(*port, Place()));
    facts.failedOpen = port;
    m_logic.OnStop();
    return true;
  }
  // The worker closed the port on its own: the device went away before the
  // update had begun to talk to it.
  if (m_observer.PortLost()) return StopWith(RunStop::PortLost, "the port went away", facts);
  const bool timing = m_o.timeoutSeconds > 0 && (!m_setUp.waitForBoard || m_observer.ChipHeard());
  if (timing && Clock::now() >= m_observer.LastActivity() + Timeout())
    return StopWith(RunStop::ChipSilent, "no progress from the chip for " + SecondsText(m_o.timeoutSeconds) +
                                             " s; giving up",
                    facts);
  return false;
}

bool CBoardSession::InterruptDue() {
  if (!m_setUp.stop.Requested()) return false;
  const auto now = Clock::now();
  if (!m_interruptedAt) {
    m_interruptedAt = now;
    m_stepsAtInterrupt = m_view.ProgressSteps();
  }
  return !m_observer.ChipHeard() || m_view.ProgressSteps() != m_stepsAtInterrupt ||
         now >= *m_interruptedAt + kInterruptGrace;
}

bool CBoardSession::StopWith(RunStop stop, const std::string& why, RunFacts& facts) {
  m_out.Message(why);
  m_logic.OnStop();
  facts.stop = stop;
  return true;
}

void CBoardSession::AwaitEndAnswer() {
  const auto limit = Clock::now() + std::chrono::seconds(5);
  while (!m_endHandled && Clock::now() < limit) m_window.PumpOne(limit);
  if (!m_endHandled) m_logic.OnStop();
}

Clock::duration CBoardSession::Timeout() const {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(m_o.timeoutSeconds));
}

Clock::time_point CBoardSession::NextWake() const {
  auto wake = Clock::now() + std::chrono::hours(1);
  if (m_interruptedAt) wake = std::min(wake, *m_interruptedAt + kInterruptGrace);
  if (m_o.timeoutSeconds <= 0 || (m_setUp.waitForBoard && !m_observer.ChipHeard())) return wake;
  return std::min(m_observer.LastActivity() + Timeout(), wake);
}

VerifyResult CBoardSession::Verify() {
  std::vector<uint8_t> image(static_cast<size_t>(m_plan.settings.m_nLength));
  size_t got = 0;
  std::string why;
  if (!m_files.ReadAt(m_o.image, 0, image.data(), image.size(), got, why) || got != image.size()) {
    m_out.Message("verify: cannot read " + m_o.image + " again: " + why);
    return VerifyResult::ImageUnreadable;
  }
  m_verify = CompareReadBack(image, m_files.ReadBack());
  m_out.LogLine(VerifyLine(*m_verify));
  return m_verify->result;
}

}  // namespace

BoardOutcome RunBoardSession(const BoardSetUp& setUp) {
  CDumpApp app;
  app.SetConfigDir(setUp.configDir);
  const CConfigFile config = CConfigFile::InFolder(app.m_strConfigDir);
  CBoardSession session(setUp, app, config);
  BoardOutcome outcome;
  outcome.facts = session.Run();
  outcome.verify = session.VerifyDone();
  outcome.chipHeard = session.ChipHeard();
  outcome.resumedFrom = session.ResumedFrom();
  return outcome;
}
