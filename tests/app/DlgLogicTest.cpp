// The window's logic against a stand-in worker queue: what it posts, when,
// and what it does with the timers.
#include "app/DlgLogic.h"
#include "app/HeadlessWindow.h"
#include "core/Messages.h"
#include "core/Requests.h"
#include "comm/MsgThread.h"
#include "tests/support/RecordingView.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include <sys/stat.h>

namespace {

class RecordingTimers : public IDlgTimers {
public:
  void SetTimer(uint32_t id, uint32_t periodMs) override { calls.push_back("set " + std::to_string(id) + " " + std::to_string(periodMs)); }
  void KillTimer(uint32_t id) override { calls.push_back("kill " + std::to_string(id)); }
  std::vector<std::string> calls;
};

// The command line's control state (captions, enabled flags); the recording
// view in front of it takes the log lines.
class HeadlessControls : public CHeadlessView {
public:
  HeadlessControls() : CHeadlessView(0) {}
  void AppendLogLine(const std::string&) override {}
  void AppendConsoleChar(char) override {}
  void ShowMessageBox(const std::string&, const std::string&) override {}
};

class DlgLogicTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir.Write("cfg.ini", "[COM]\nCOM1\nCOM2\n[BaudRate]\n57600\n[ACT]\nProgram\nErase\nDump\nBatch\n"
                         "[PFLASH]\nM=3\n[Setting]\nPort=1\n");
    model.Load();
  }
  void PublishWorker() { app.m_dwWorkerThreadId = workerId; }
  std::vector<ThreadMessage> Drain() {
    std::vector<ThreadMessage> out;
    ThreadMessage m;
    while (worker->TryGet(m)) out.push_back(std::move(m));
    return out;
  }

  TempDir dir;
  CDumpApp app;
  CSettingsModel model{CConfigFile::InFolder(dir.Path())};
  HeadlessControls controls;
  CRecordingView view{{}, &controls};
  RecordingTimers timers;
  CDlgLogic logic{app, model, view, timers};
  std::shared_ptr<CMessageQueue> worker = std::make_shared<CMessageQueue>();
  uint32_t workerId = RegisterMessageQueue(worker);
};

TEST_F(DlgLogicTest, SelectionsThatCannotBeSavedAreReportedOnceAndTheUpdateStillStarts) {
  PublishWorker();
  view.SetControlText(ctl::OPEN_BUTTON, "Close");
  model.m_sel.m_nActSel = ACT_ERASE;
  model.m_sel.m_nLengthSel = {0, 2, 0};
  std::filesystem::remove_all(dir.Path());  // the folder cfg.ini was read from is gone
  ASSERT_TRUE(logic.OnLink());
  ASSERT_TRUE(logic.OnLink());
  const std::string unsaved = "Can't save the selections in " + dir.File("cfg.ini") + ".\n";
  EXPECT_EQ(std::count(view.logs.begin(), view.logs.end(), unsaved), 1);
  EXPECT_EQ(view.logs.back(), "Begin updating now.\n");
  EXPECT_EQ(Drain().size(), 2u);  // both updates were asked for
}

TEST_F(DlgLogicTest, RequestsBeforeTheWorkerPublishedItsIdAreDropped) {
  logic.OnOpen();
  logic.OnTimerTick(ID_TIMER_WAIT);
  logic.OnStop();
  PublishWorker();
  EXPECT_TRUE(Drain().empty());  // nothing was queued for later
}

TEST_F(DlgLogicTest, OpenCloseFollowsTheCaption) {
  PublishWorker();
  logic.OnOpen();
  auto sent = Drain();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].message, WM_PORT_OPEN);
  EXPECT_EQ(sent[0].lParam, 2);  // position 1 + 1
  auto* request = std::any_cast<PortOpenRequest>(&sent[0].payload);
  ASSERT_NE(request, nullptr);
  EXPECT_EQ(request->settingsText, "57600,N,8,1");
  EXPECT_EQ(sent[0].wParam, request->settingsText.size());
  EXPECT_EQ(request->devicePath, "");  // COM2 is not mapped: the port picks its own device

  // A COM number mapped in cfg.ini travels as the device path with its number.
  dir.Write("cfg.ini", "[COM]\nCOM1\nCOM2\n[BaudRate]\n57600\n[PortMap]\nCOM2=/dev/pts/77\n");
  logic.OnOpen();
  sent = Drain();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].lParam, 2);
  EXPECT_EQ(std::any_cast<PortOpenRequest>(sent[0].payload).devicePath, "/dev/pts/77");

  view.SetControlText(ctl::OPEN_BUTTON, "Close");
  logic.OnOpen();
  sent = Drain();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].message, WM_PORT_CLOSE);
  EXPECT_EQ(sent[0].wParam, 1u);
}

TEST_F(DlgLogicTest, TimerRequestsAlwaysKillThenSetOnlyForAPositivePeriod) {
  logic.OnWindowMessage(WM_UPDATE_TIMER, 2, 2000);
  logic.OnWindowMessage(WM_UPDATE_TIMER, 2, 2000);
  logic.OnWindowMessage(WM_UPDATE_TIMER, 2, 0);
  logic.OnWindowMessage(WM_UPDATE_TIMER, 2, -5);
  EXPECT_EQ(timers.calls, (std::vector<std::string>{"kill 2", "set 2 2000", "kill 2", "set 2 2000", "kill 2", "kill 2"}));
}

TEST_F(DlgLogicTest, TicksOfOtherTimersReachNoThread) {
  PublishWorker();
  logic.OnTimerTick(3);
  EXPECT_TRUE(Drain().empty());
  logic.OnTimerTick(ID_TIMER_ACK);
  auto sent = Drain();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].message, WM_UPDATE_TICK);
  EXPECT_EQ(sent[0].wParam, 2u);
  EXPECT_EQ(sent[0].lParam, 2);
}

TEST_F(DlgLogicTest, LinkStartsWithASnapshotAndStopReopensAClosedPort) {
  PublishWorker();
  view.SetControlText(ctl::OPEN_BUTTON, "Close");
  model.m_sel.m_nActSel = ACT_ERASE;
  model.m_sel.m_nLengthSel = {0, 2, 0};
  ASSERT_TRUE(logic.OnLink());
  auto sent = Drain();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].message, WM_UPDATE_START);
  EXPECT_EQ(sent[0].wParam, 14u);
  auto* snapshot = std::any_cast<UpdateSettings>(&sent[0].payload);
  ASSERT_NE(snapshot, nullptr);
  EXPECT_EQ(snapshot->m_nLength, 0x20000);
  EXPECT_EQ(snapshot->m_nAct, ACT_ERASE);
  EXPECT_EQ(snapshot->m_nFlashModel, 3);
  EXPECT_EQ(timers.calls, (std::vector<std::string>{"set 1 100"}));
  for (int id : CDlgLogic::kSettingsControls) EXPECT_FALSE(controls.IsEnabled(id)) << id;
  EXPECT_TRUE(controls.IsEnabled(ctl::PORT_LIST));  // the worker's business, not Link's
  EXPECT_EQ(view.logs.back(), "Begin updating now.\n");
  EXPECT_EQ(CConfigFile::InFolder(dir.Path()).ReadSetting().port, 1);

  // The worker closed the port after a failed reopen: the stop sequence
  // finds "Open" and asks for the port to be opened again.
  view.SetControlText(ctl::OPEN_BUTTON, "Open");
  timers.calls.clear();
  logic.OnWindowMessage(WM_UPDATE_END, 1, 1);
  sent = Drain();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].message, WM_UPDATE_STOP);
  EXPECT_EQ(sent[1].message, WM_PORT_OPEN);
  EXPECT_EQ(std::any_cast<PortOpenRequest>(sent[1].payload).settingsText, "57600,N,8,1");
  EXPECT_EQ(timers.calls, (std::vector<std::string>{"kill 1", "kill 2"}));
  for (int id : CDlgLogic::kSettingsControls) EXPECT_TRUE(controls.IsEnabled(id)) << id;

  // A front end that ends with the update does not open the port again.
  logic.SetReopenOnStop(false);
  logic.OnStop();
  sent = Drain();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].message, WM_UPDATE_STOP);
}

TEST_F(DlgLogicTest, ProgressShowsExactlyTheValuePosted) {
  std::vector<int32_t> shown;
  logic.SetProgressHandler([&](int32_t p) { shown.push_back(p); });
  logic.OnWindowMessage(WM_UPDATE_PROGRESS, 7, 40);
  logic.OnWindowMessage(WM_UPDATE_PROGRESS, 1, 100);
  EXPECT_EQ(shown, (std::vector<int32_t>{40, 100}));
  EXPECT_EQ(logic.Progress(), 100);
}

TEST_F(DlgLogicTest, RefusedLinkLogsOnlyAndStillCaptures) {
  PublishWorker();
  model.m_sel.m_nActSel = ACT_DUMP;
  model.m_sel.m_nBaseSel = {0, 1, 0};
  EXPECT_FALSE(logic.OnLink());
  EXPECT_EQ(view.logs, (std::vector<std::string>{"Please open com port.\n"}));
  EXPECT_EQ(app.m_settings.m_nBase, 0x10000);
  EXPECT_TRUE(Drain().empty());
  EXPECT_TRUE(timers.calls.empty());
}

TEST_F(DlgLogicTest, LinkRefusesAChipLineThatIsNoListOfNumbers) {
  // Sent as it stands, either line would give the chip zeros for its settings.
  for (const std::string line : {"TQ2210=abc,def", "TQ2210"}) {
    dir.Write("cfg.ini", "[COM]\nCOM1\n[BaudRate]\n57600\n[ChipModel]\n" + line + "\n[ACT]\nProgram\nErase\n");
    model.Load();
    PublishWorker();
    view.logs.clear();
    view.SetControlText(ctl::OPEN_BUTTON, "Close");
    model.m_sel.m_nActSel = ACT_ERASE;
    model.m_sel.m_nLengthSel = {0, 1, 0};
    EXPECT_FALSE(logic.OnLink()) << line;
    ASSERT_EQ(view.logs.size(), 1u) << line;
    EXPECT_NE(view.logs[0].find("the ChipModel line \"" + line + "\""), std::string::npos) << view.logs[0];
    EXPECT_TRUE(Drain().empty()) << line;
    EXPECT_TRUE(timers.calls.empty()) << line;
  }
}

TEST_F(DlgLogicTest, AppFileSizeLimitAndDumpFileCreation) {
  auto big = dir.Write("big.bin", std::string(4194305, 'a'));
  auto exact = dir.Write("exact.bin", std::string(4194304, 'a'));
  using Reason = AppFileRefusal::Reason;
  EXPECT_FALSE(logic.ChooseAppFile(exact).has_value());
  EXPECT_EQ(app.m_settings.m_nAppFileSize, 4194304);
  auto refusal = logic.ChooseAppFile(big);
  ASSERT_TRUE(refusal.has_value());
  EXPECT_EQ(refusal->reason, Reason::TooLarge);
  EXPECT_EQ(refusal->text, "File cannot large than 4MB!");
  EXPECT_EQ(app.m_settings.m_strAppFile, "");
  EXPECT_EQ(app.m_settings.m_nAppFileSize, 0);
  refusal = logic.ChooseAppFile(dir.File("missing.bin"));
  ASSERT_TRUE(refusal.has_value());
  EXPECT_EQ(refusal->reason, Reason::Unreadable);
  EXPECT_EQ(refusal->text, "Can't open application file " + dir.File("missing.bin") + ": No such file or directory");
  ASSERT_FALSE(logic.ChooseAppFile(exact).has_value());  // a good pick, which the next refusal clears
  ASSERT_EQ(::mkfifo(dir.File("fifo.bin").c_str(), 0644), 0);
  refusal = logic.ChooseAppFile(dir.File("fifo.bin"));  // refused, without hanging
  ASSERT_TRUE(refusal.has_value());
  EXPECT_EQ(refusal->reason, Reason::Unreadable);
  EXPECT_EQ(app.m_settings.m_strAppFile, "");

  auto dump = dir.Write("dump.bin", "old contents");
  EXPECT_TRUE(logic.ChooseDumpFile(dump));
  EXPECT_EQ(TempDir::Read(dump), "");
  EXPECT_FALSE(logic.ChooseDumpFile(dir.File("no/such/dump.bin")));
  EXPECT_EQ(app.m_settings.m_strDumpFile, dir.File("no/such/dump.bin"));
}

TEST(HeadlessWindow, TimersTickAndRestart) {
  CHeadlessWindow window;
  std::vector<uint32_t> ticks;
  window.onTimer = [&](uint32_t id) { ticks.push_back(id); };
  window.SetTimer(1, 20);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(110);
  while (window.PumpOne(end)) {
  }
  EXPECT_GE(ticks.size(), 3u);
  window.KillTimer(1);
  ticks.clear();
  EXPECT_FALSE(window.PumpOne(std::chrono::steady_clock::now() + std::chrono::milliseconds(40)));
  EXPECT_TRUE(ticks.empty());
  // A window message from another thread is handed over.
  std::vector<uint32_t> messages;
  window.onMessage = [&](const ThreadMessage& m) { messages.push_back(m.message); };
  std::thread([&] { PostThreadMessage(window.Id(), WM_UPDATE_PROGRESS, 1, 50); }).join();
  EXPECT_TRUE(window.PumpOne(std::chrono::steady_clock::now() + std::chrono::seconds(5)));
  EXPECT_EQ(messages, (std::vector<uint32_t>{WM_UPDATE_PROGRESS}));
}

}  // namespace
