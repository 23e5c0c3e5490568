// A command-line run: plan, then drive the window logic, the worker and the
// update to their end, then report. Every way the run can end is recorded
// as a typed fact; ExitStatus turns those into the exit status.
#include "cli/CliFiles.h"
#include "cli/CliOutput.h"
#include "cli/CliPlan.h"
#include "cli/CliReport.h"
#include "cli/CliSession.h"
#include "app/HeadlessWindow.h"
#include "comm/FileAccess.h"
#include "comm/UIThread.h"
#include "core/Config.h"
#include "core/Messages.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <optional>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// The window's view for the command line: output goes to the terminal; the
// controls' state is kept for the window logic.
class CCliView : public CHeadlessView {
public:
  CCliView(uint32_t windowId, CCliOutput& out) : CHeadlessView(windowId), m_out(out) {}
  void AppendLogLine(const std::string& text) override { m_out.LogLine(text); }
  void AppendConsoleChar(char ch) override { m_out.ConsoleChar(ch); }
  void ShowMessageBox(const std::string& text, const std::string& caption) override {
    m_out.Message(caption + ": " + text);
  }

private:
  CCliOutput& m_out;
};

// What the worker reports, kept for the main loop, which every report wakes.
class CCliObserver : public IUpdateObserver {
public:
  explicit CCliObserver(CHeadlessWindow& window) : m_window(window) { Touch(); }
  void OnUpdateOutcome(UpdateOutcome outcome) override { Set(m_outcome, static_cast<int>(outcome)); }
  void OnPortOpenResult(PortOpenResult result) override { Set(m_portOpen, static_cast<int>(result)); }
  void OnPortLost() override { Set(m_portLost, 1); }
  // Only progress holds off --timeout: a line that keeps sending bytes that
  // advance nothing (a chip in its boot ROM, the tail of an old dump) does not.
  void OnProgressMade() override { Touch(); }

  void Touch() { m_lastActivityNs.store(Clock::now().time_since_epoch().count()); }
  Clock::time_point LastActivity() const { return Clock::time_point(Clock::duration(m_lastActivityNs.load())); }
  std::optional<UpdateOutcome> Outcome() const { return Get<UpdateOutcome>(m_outcome); }
  // The worker's last answer to an open (a failed reopen at 115200 included).
  std::optional<PortOpenResult> PortOpen() const { return Get<PortOpenResult>(m_portOpen); }
  bool PortLost() const { return m_portLost.load() > 0; }

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
  std::atomic<int> m_outcome{-1};
  std::atomic<int> m_portOpen{-1};
  std::atomic<int> m_portLost{0};
  std::atomic<Clock::rep> m_lastActivityNs{0};
};

// Ctrl-C and SIGTERM are taken by a thread of their own (blocked everywhere
// else), which wakes the main loop instead of interrupting it somewhere.
class CSignalWatch {
public:
  explicit CSignalWatch(CHeadlessWindow& window) : m_window(window) {
    sigemptyset(&m_set);
    sigaddset(&m_set, SIGINT);
    sigaddset(&m_set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &m_set, &m_old);
    m_thread = std::thread([this] {
      int sig = 0;
      while (sigwait(&m_set, &sig) == 0) {
        if (m_closing.load()) return;
        interrupted = true;
        m_window.Wake();
      }
    });
  }
  ~CSignalWatch() {
    m_closing = true;
    pthread_kill(m_thread.native_handle(), SIGTERM);
    m_thread.join();
    pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
  }
  std::atomic<bool> interrupted{false};

private:
  CHeadlessWindow& m_window;
  sigset_t m_set{}, m_old{};
  std::atomic<bool> m_closing{false};
  std::thread m_thread;
};

// The log file and the configuration file, before anything else.
std::optional<PlanRefusal> CheckSetUp(const CliOptions& o, const CConfigFile& config, CCliOutput& out) {
  if (!o.logFile.empty()) {
    std::string why;
    if (!out.OpenLogFile(o.logFile, why))
      return PlanRefusal{CliRefusal::LogFileUnusable, "cannot open the log file " + o.logFile + ": " + why};
  }
  struct stat st {};
  if (::stat(config.Path().c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return PlanRefusal{CliRefusal::NoConfiguration, "no configuration file " + config.Path()};
  return std::nullopt;
}

class CCliSession {
public:
  CCliSession(const CliOptions& o, CDumpApp& app, const CConfigFile& config, CCliOutput& out)
      : m_o(o), m_app(app), m_out(out), m_model(config), m_configBatch(config) {}

  CliFacts Run();

private:
  void RunWorker(IBatchSource& batch, CliFacts& facts);
  // Asks the worker to open the port and waits for its answer.
  bool OpenPort(CliFacts& facts);
  // Looks at everything that ends the wait for the update, in order; true
  // when one of them ended the run.
  bool TakeEnding(CliFacts& facts);
  // Runs the window's stop sequence (stop the update, close the port).
  bool StopWith(CliStop stop, const std::string& why, CliFacts& facts);
  // Lets the window answer WM_UPDATE_END: its stop sequence closes the port.
  void AwaitEndAnswer();
  Clock::duration Timeout() const;
  Clock::time_point NextWake() const;
  VerifyResult Verify();

  const CliOptions& m_o;
  CDumpApp& m_app;
  CCliOutput& m_out;
  CHeadlessWindow m_window;
  CCliView m_view{m_window.Id(), m_out};
  CSettingsModel m_model;
  CDlgLogic m_logic{m_app, m_model, m_view, m_window};
  CliPlan m_plan;
  CPosixFileAccess m_systemFiles;
  CCliFileAccess m_files{m_systemFiles};
  CConfigBatchSource m_configBatch;
  CCliObserver m_observer{m_window};
  std::optional<CSignalWatch> m_signals;
  bool m_endHandled = false;  // the window's answer to WM_UPDATE_END has run
};

CliFacts CCliSession::Run() {
  m_model.Load();
  if (auto refusal = MakePlan(m_o, m_model, m_logic, m_app, m_plan)) {
    m_out.Message(refusal->text);
    return RefusedRun(refusal->reason);
  }
  m_logic.SetDevicePath(m_plan.devicePath);
  // The run ends with the update: its stop sequence must not open the port again.
  m_logic.SetReopenOnStop(false);
  m_logic.SetProgressHandler([this](int32_t percent) { m_out.Progress(percent, m_plan.progressTotal); });
  if (m_plan.Verifies()) m_files.KeepDumpsInMemory();
  CMemoryBatch verifyBatch(m_plan.verifyBatch);
  m_signals.emplace(m_window);

  CliFacts facts;
  RunWorker(m_plan.Verifies() ? static_cast<IBatchSource&>(verifyBatch) : m_configBatch, facts);
  if (facts.stop == CliStop::NoWorker) return facts;
  m_out.Finish();
  if (facts.outcome == UpdateOutcome::Completed && m_plan.Verifies()) facts.verify = Verify();
  if (facts.outcome == UpdateOutcome::Completed && m_o.command == CliCommand::Program && !m_o.verify)
    m_out.LogLine("not verified: --no-verify skipped the read-back.");
  return facts;
}

void CCliSession::RunWorker(IBatchSource& batch, CliFacts& facts) {
  CUIThread worker(UIThreadDeps{m_view, m_files, batch, &m_observer, m_app.m_strConfigDir,
                                &m_app.m_dwWorkerThreadId, nullptr});
  if (!worker.CreateThread()) {
    m_out.Message("cannot start the worker thread");
    facts.stop = CliStop::NoWorker;
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

bool CCliSession::OpenPort(CliFacts& facts) {
  m_logic.OnOpen();
  while (!m_observer.PortOpen() && !m_signals->interrupted) m_window.PumpOne(Clock::now() + std::chrono::seconds(1));
  if (m_signals->interrupted) {
    facts.stop = CliStop::Interrupted;
    return false;
  }
  const PortOpenResult result = *m_observer.PortOpen();
  if (result == PortOpenResult::Opened) return true;
  m_out.Message("cannot open the port " +
                (m_plan.devicePath.empty() ? "COM" + std::to_string(m_model.PortNumber()) : m_plan.devicePath));
  facts.failedOpen = result;
  return false;
}

bool CCliSession::TakeEnding(CliFacts& facts) {
  if (auto outcome = m_observer.Outcome()) {
    facts.outcome = outcome;
    AwaitEndAnswer();
    return true;
  }
  if (m_signals->interrupted) return StopWith(CliStop::Interrupted, "interrupted", facts);
  // The reopen at 115200 failed; the worker has shown why.
  if (auto port = m_observer.PortOpen(); port && *port != PortOpenResult::Opened) {
    facts.failedOpen = port;
    m_logic.OnStop();
    return true;
  }
  // The worker closed the port on its own: the device went away before the
  // update had begun to talk to it.
  if (m_observer.PortLost()) return StopWith(CliStop::PortLost, "the port went away", facts);
  if (m_o.timeoutSeconds > 0 && Clock::now() >= m_observer.LastActivity() + Timeout())
    return StopWith(CliStop::ChipSilent, "no progress from the chip for " +
                                             std::to_string(static_cast<long>(m_o.timeoutSeconds)) + " s; giving up",
                    facts);
  return false;
}

bool CCliSession::StopWith(CliStop stop, const std::string& why, CliFacts& facts) {
  m_out.Message(why);
  m_logic.OnStop();
  facts.stop = stop;
  return true;
}

void CCliSession::AwaitEndAnswer() {
  const auto limit = Clock::now() + std::chrono::seconds(5);
  while (!m_endHandled && Clock::now() < limit) m_window.PumpOne(limit);
  if (!m_endHandled) m_logic.OnStop();
}

Clock::duration CCliSession::Timeout() const {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(m_o.timeoutSeconds));
}

Clock::time_point CCliSession::NextWake() const {
  const auto hourAhead = Clock::now() + std::chrono::hours(1);
  if (m_o.timeoutSeconds <= 0) return hourAhead;
  return std::min(m_observer.LastActivity() + Timeout(), hourAhead);
}

VerifyResult CCliSession::Verify() {
  std::vector<uint8_t> image(static_cast<size_t>(m_plan.settings.m_nLength));
  size_t got = 0;
  std::string why;
  if (!m_files.ReadAt(m_o.image, 0, image.data(), image.size(), got, why) || got != image.size()) {
    m_out.Message("verify: cannot read " + m_o.image + " again: " + why);
    return VerifyResult::ImageUnreadable;
  }
  const VerifyReport report = CompareReadBack(image, m_files.ReadBack());
  m_out.LogLine(VerifyLine(report));
  return report.result;
}

}  // namespace

int RunCliSession(const CliOptions& o) {
  CDumpApp app;
  app.SetConfigDir(o.configDir.empty() ? app.m_strAppDir + "config" : o.configDir);
  const CConfigFile config = CConfigFile::InFolder(app.m_strConfigDir);
  CCliOutput out(o.quiet, ::isatty(STDERR_FILENO) == 1);
  if (auto refusal = CheckSetUp(o, config, out)) {
    out.Message(refusal->text);
    return ExitStatus(RefusedRun(refusal->reason));
  }
  return ExitStatus(CCliSession(o, app, config, out).Run());
}
