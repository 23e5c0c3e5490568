// The real window against chipsim on a pseudo-terminal: program and dump
// through the window's controls, Cancel mid-dump, and closing the window
// mid-update, also while the worker waits inside a view call.
#include "tests/gui/SimWindowFixture.h"

namespace {

using namespace std::chrono_literals;

TEST_F(WindowEndToEndTest, ProgramThroughAppFileThenDumpItBackByteExact) {
  StartSimAndWindow();
  const auto image = Image(10000, 7);
  const std::string imagePath = dir.WriteBytes("image.bin", image);
  prompts.answers.push_back(QString::fromStdString(imagePath));
  dlg->Button(ctl::APPFILE_BUTTON)->click();
  // Unchecked, Verify leaves the program as it is: no read-back.
  dlg->VerifyBox()->setChecked(false);
  Setup(0, 0x30000, 0);
  dlg->Button(ctl::LINK_BUTTON)->click();
  // A new choice mid-update changes the next update, not this one.
  prompts.answers.push_back(QString::fromStdString(dir.WriteBytes("other.bin", Image(300, 9))));
  dlg->Button(ctl::APPFILE_BUTTON)->click();
  ASSERT_TRUE(WaitFor([&] { return LogHas("\ncompelete.") && PortClosedShown(); }, 60s))
      << Report();
  EXPECT_EQ(dlg->LogLines(),
            Concat(WithStartLine("Image: " + imagePath + " (10000 bytes), not read back\n"),
                   {"\nSend App file lenth.", "\nSend App file.", "\nAppFile length = 10000.\n",
                    "\napp file receive ok.", "\nerase ok.", "\nprograme ok.", "\ncompelete."}))
      << Report();
  EXPECT_EQ(VerdictText(), "Done, not verified");
  EXPECT_EQ(dlg->ProgressBar()->value(), 100);
  ExpectColumn(*dlg, Column::PortClosed);

  dlg->Button(ctl::CLEAR_BUTTON)->click();
  ASSERT_TRUE(OpenPort());
  const std::string dumpPath = dir.File("back.bin");
  prompts.answers.push_back(QString::fromStdString(dumpPath));
  dlg->Button(ctl::SAVEAS_BUTTON)->click();
  Setup(2, 0x30000, 0x3000);
  ASSERT_TRUE(RunToEnd()) << Report();
  EXPECT_EQ(dlg->LogLines(), Concat(WithStartLine("Dump file: " + dumpPath + "\n"),
                                    {"\nSend dump Lenth = 0x3000", "\ndump ok.", "\ncompelete."}))
      << Report();
  EXPECT_EQ(VerdictText(), "Done");
  EXPECT_EQ(Kind(), VerdictKind::Done);
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

}  // namespace

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

namespace {

TEST_F(WindowEndToEndTest, ClosingMidUpdateLeavesNoThreadPortOrFileBehind) { CloseMidDump(false); }

TEST_F(WindowEndToEndTest, ClosingWhileTheWorkerWaitsInAViewCallLeavesNothingBehind) { CloseMidDump(true); }

}  // namespace
