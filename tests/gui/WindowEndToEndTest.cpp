// The real window against chipsim on a pseudo-terminal: program and dump
// through the window's controls, Cancel mid-dump, and closing the window
// mid-update, also while the worker waits inside a view call.
#include "tests/gui/WindowFixture.h"

#include "tests/support/Process.h"

namespace {

using namespace std::chrono_literals;

std::vector<uint8_t> Image(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  uint32_t x = seed;
  for (auto& b : v) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return v;
}

const std::vector<std::string> kBootLines = {
    "Begin updating now.\n",       "\nRecv updating request.",   "\nSend 2KB Bin file.",
    "\nboot file receive ok.",     "\nSend Chip Type/Sdram Size/Xtal", "\nSend flash file lenth.",
    "\nSend flash file code.",     "\nFlash File length = 10000.\n", "\nflash file receive ok.",
    "\nSend Control info."};

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class WindowEndToEndTest : public WindowTest {
protected:
  ~WindowEndToEndTest() override {
    dlg.reset();
    sim.reset();
  }
  // Starts the simulator (paced at the host's line rate when asked), maps
  // COM1 to it and opens the window.
  void StartSimAndWindow(bool paced = false) {
    std::vector<std::string> args{std::string(TQ_BIN_DIR) + "/chipsim", "--flash-file", FlashFile(), "--config",
                                  ConfigDir(), "--repeat", "50", "--end-idle", "200"};
    if (paced) args.insert(args.end(), {"--baud", "line"});
    sim = std::make_unique<CChildProcess>(args, dir.File("sim.out"), dir.File("sim.err"));
    device = sim->FirstLine(5s);
    ASSERT_FALSE(device.empty()) << sim->Err();
    WriteSampleCfg(device);
    Open();
    ASSERT_TRUE(OpenPort()) << Report();
  }
  std::string FlashFile() const { return dir.File("flash.img"); }
  std::string Report() const {
    std::string log;
    if (dlg)
      for (const auto& l : dlg->LogLines()) log += "[" + l + "]\n";
    for (const auto& m : prompts.messages) log += "box: " + m + "\n";
    return "\n--- window log\n" + log + "--- sim\n" + (sim ? sim->Err() : std::string());
  }
  void Setup(int act, uint32_t base, uint32_t length) {
    dlg->List(ctl::ACT_LIST)->setCurrentIndex(act);
    SetDigits(*dlg, kBaseLists, base);
    SetDigits(*dlg, kLengthLists, length);
  }
  bool LogHas(const std::string& line) const {
    const auto lines = dlg->LogLines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  // Link, then the update runs to its end and the stop sequence closes the port.
  bool RunToEnd() {
    dlg->Button(ctl::LINK_BUTTON)->click();
    return WaitFor([&] { return LogHas("\ncompelete.") && PortClosedShown(); }, 60s);
  }

  void CloseMidDump(bool workerInViewCall);

  std::unique_ptr<CChildProcess> sim;
  std::string device;
};

TEST_F(WindowEndToEndTest, ProgramThroughAppFileThenDumpItBackByteExact) {
  StartSimAndWindow();
  const auto image = Image(10000, 7);
  prompts.answers.push_back(QString::fromStdString(dir.WriteBytes("image.bin", image)));
  dlg->Button(ctl::APPFILE_BUTTON)->click();
  Setup(0, 0x30000, 0);
  dlg->Button(ctl::LINK_BUTTON)->click();
  // A new choice mid-update changes the next update, not this one.
  prompts.answers.push_back(QString::fromStdString(dir.WriteBytes("other.bin", Image(300, 9))));
  dlg->Button(ctl::APPFILE_BUTTON)->click();
  ASSERT_TRUE(WaitFor([&] { return LogHas("\ncompelete.") && PortClosedShown(); }, 60s))
      << Report();
  EXPECT_EQ(dlg->LogLines(), Concat(kBootLines, {"\nSend App file lenth.", "\nSend App file.",
                                                 "\nAppFile length = 10000.\n", "\napp file receive ok.",
                                                 "\nerase ok.", "\nprograme ok.", "\ncompelete."}))
      << Report();
  EXPECT_EQ(dlg->ProgressBar()->value(), 100);
  ExpectColumn(*dlg, Column::PortClosed);

  dlg->Button(ctl::CLEAR_BUTTON)->click();
  ASSERT_TRUE(OpenPort());
  const std::string dumpPath = dir.File("back.bin");
  prompts.answers.push_back(QString::fromStdString(dumpPath));
  dlg->Button(ctl::SAVEAS_BUTTON)->click();
  Setup(2, 0x30000, 0x3000);
  ASSERT_TRUE(RunToEnd()) << Report();
  EXPECT_EQ(dlg->LogLines(), Concat(kBootLines, {"\nSend dump Lenth = 0x3000", "\ndump ok.", "\ncompelete."}))
      << Report();
  EXPECT_EQ(dlg->ProgressBar()->value(), 100);
  EXPECT_EQ(dlg->Console()->Text().count('d'), 3);
  ExpectColumn(*dlg, Column::PortClosed);
  const std::string back = TempDir::Read(dumpPath);
  ASSERT_EQ(back.size(), 0x3000u);
  EXPECT_TRUE(back.substr(0, 10000) == std::string(image.begin(), image.end()));
  EXPECT_EQ(back, TempDir::Read(FlashFile()).substr(0x30000, 0x3000));
  EXPECT_FALSE(HasOpenFile(device));
  EXPECT_FALSE(HasOpenFile(dumpPath));
}

TEST_F(WindowEndToEndTest, CancelMidDumpStopsTimersClosesThePortAndKeepsTheLog) {
  StartSimAndWindow(true);
  const std::string dumpPath = dir.File("part.bin");
  prompts.answers.push_back(QString::fromStdString(dumpPath));
  dlg->Button(ctl::SAVEAS_BUTTON)->click();
  Setup(2, 0, 0x100000);
  dlg->Button(ctl::LINK_BUTTON)->click();
  ASSERT_TRUE(WaitFor([&] { return dlg->Console()->Text().contains('d'); }, 30s)) << Report();
  const auto lines = dlg->LogLines();
  dlg->Button(ctl::CANCEL_BUTTON)->click();
  EXPECT_FALSE(dlg->Timers().IsRunning(ID_TIMER_WAIT));
  EXPECT_FALSE(dlg->Timers().IsRunning(ID_TIMER_ACK));
  ASSERT_TRUE(WaitFor([&] { return PortClosedShown(); }, 2s));
  Pump(100ms);
  ExpectColumn(*dlg, Column::PortClosed);
  const auto after = dlg->LogLines();
  ASSERT_GE(after.size(), lines.size());
  EXPECT_EQ(std::vector<std::string>(after.begin(), after.begin() + static_cast<long>(lines.size())), lines);
  EXPECT_TRUE(LogHas("\nSend dump Lenth = 0x100000"));
  EXPECT_FALSE(HasOpenFile(device));
  EXPECT_FALSE(HasOpenFile(dumpPath));
  EXPECT_LT(std::filesystem::file_size(dumpPath), 0x100000u);
}

// Closes the window mid-dump, with the window's events running or with the
// worker held inside a view call, and checks that nothing is left behind.
void WindowEndToEndTest::CloseMidDump(bool workerInViewCall) {
  // Qt starts some threads of its own the first time a window exists; they stay.
  Open();
  Pump(200ms);
  dlg.reset();
  const int threadsBefore = ThreadCount();
  StartSimAndWindow(true);
  const std::string dumpPath = dir.File("cut.bin");
  prompts.answers.push_back(QString::fromStdString(dumpPath));
  dlg->Button(ctl::SAVEAS_BUTTON)->click();
  Setup(2, 0, 0x100000);
  dlg->Button(ctl::LINK_BUTTON)->click();
  ASSERT_TRUE(WaitFor([&] { return dlg->Console()->Text().contains('d'); }, 30s)) << Report();
  if (workerInViewCall) {
    // The window stops running its events; the worker's next view call waits.
    const auto limit = std::chrono::steady_clock::now() + 5s;
    while (dlg->PendingViewCalls() == 0 && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(1ms);
    ASSERT_GT(dlg->PendingViewCalls(), 0u);
  }
  const auto start = std::chrono::steady_clock::now();
  // Esc and Enter, as the dialog's keys end it (the close box ends in the same place).
  if (workerInViewCall) dlg->accept();
  else dlg->reject();
  EXPECT_FALSE(dlg->WorkerRunning());
  EXPECT_TRUE(WaitFor([&] { return ThreadCount() <= threadsBefore; }, 1s)) << ThreadNames();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_EQ(app.m_dwWorkerThreadId.load(), 0u);
  EXPECT_FALSE(HasOpenFile(device));
  EXPECT_FALSE(HasOpenFile(dumpPath));
}

TEST_F(WindowEndToEndTest, ClosingMidUpdateLeavesNoThreadPortOrFileBehind) { CloseMidDump(false); }

TEST_F(WindowEndToEndTest, ClosingWhileTheWorkerWaitsInAViewCallLeavesNothingBehind) { CloseMidDump(true); }

}  // namespace
