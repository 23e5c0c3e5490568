// The window's commands against a real worker on a pseudo-terminal: Link's
// refusals and its start, the file choices, the worker's window messages.
#include "tests/gui/WindowFixture.h"

#include "core/Config.h"
#include "tests/comm/PtyPair.h"

namespace {

class WindowCommandTest : public WindowTest {
protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Valid());
    WriteSampleCfg(pty.SlavePath());
    Open();
  }
  void Link() { dlg->Button(ctl::LINK_BUTTON)->click(); }
  std::string LastLog() { return dlg->LogLines().empty() ? std::string() : dlg->LogLines().back(); }

  CPtyPair pty;
};

TEST_F(WindowCommandTest, LinkRefusesWithItsLogLineAndChangesNothing) {
  CDumpDlg& w = *dlg;
  const std::string cfg = TempDir::Read(CfgPath());
  w.Button(ctl::LINK_BUTTON)->setEnabled(true);  // as if the port were open: the caption decides
  Link();
  EXPECT_EQ(LastLog(), "Please open com port.\n");
  ASSERT_TRUE(OpenPort());
  ExpectColumn(w, Column::PortOpen);

  const std::string empty = dir.Write("empty.bin", "");
  struct Case {
    int act;
    uint32_t length;
    QString appFile, dumpFile;
    const char* line;
  } cases[] = {
      {0, 0, {}, {}, "Please open application file.\n"},
      {0, 0, QString::fromStdString(empty), {}, "error!!application file size = 0!\n"},
      {1, 0, {}, {}, "error!!ActLenth = 0!\n"},
      {2, 0, {}, {}, "error!!ActLenth = 0!\n"},  // the length is checked before the file
      {2, 4096, {}, {}, "Please open dump file.\n"},
  };
  for (const Case& c : cases) {
    w.List(ctl::ACT_LIST)->setCurrentIndex(c.act);
    SetDigits(w, kLengthLists, c.length);
    if (!c.appFile.isEmpty()) {
      prompts.answers.push_back(c.appFile);
      w.Button(ctl::APPFILE_BUTTON)->click();
    }
    Link();
    EXPECT_EQ(LastLog(), c.line) << "act " << c.act;
    ExpectColumn(w, Column::PortOpen);
    EXPECT_FALSE(w.Timers().IsRunning(ID_TIMER_WAIT));
  }
  EXPECT_EQ(TempDir::Read(CfgPath()), cfg);  // refusals write nothing
}

TEST_F(WindowCommandTest, LinkWritesSettingStartsTheUpdateAndCancelEndsIt) {
  CDumpDlg& w = *dlg;
  ASSERT_TRUE(OpenPort());
  w.List(ctl::BAUD_LIST)->setCurrentIndex(2);
  w.List(ctl::CHIPMODEL_LIST)->setCurrentIndex(2);
  w.List(ctl::RAMTYPE_LIST)->setCurrentIndex(1);
  w.List(ctl::RAMSIZE_LIST)->setCurrentIndex(3);
  w.List(ctl::XTAL_LIST)->setCurrentIndex(1);
  w.List(ctl::FLASHTYPE_LIST)->setCurrentIndex(0);
  w.List(ctl::FLASHMODEL_LIST)->setCurrentIndex(3);
  w.List(ctl::ACT_LIST)->setCurrentIndex(1);  // erase
  SetDigits(w, kLengthLists, 0x2000);
  Link();
  EXPECT_EQ(LastLog(), "Begin updating now.\n");
  // The worker disables Link as it starts the update.
  EXPECT_TRUE(WaitFor([&] { return !w.Button(ctl::LINK_BUTTON)->isEnabled(); }));
  EXPECT_EQ(CConfigFile(CfgPath()).ReadSetting(), (SavedSelections{0, 2, 2, 1, 3, 1, 0, 3}));
  ExpectColumn(w, Column::UpdateRunning);
  EXPECT_EQ(w.Timers().Interval(ID_TIMER_WAIT), 100);
  // The waiting timer's ticks reach the worker, which marks each with '>'.
  EXPECT_TRUE(WaitFor([&] { return w.Console()->Text().count('>') >= 2; }));

  const auto lines = w.LogLines();
  w.Button(ctl::CANCEL_BUTTON)->click();
  EXPECT_FALSE(w.Timers().IsRunning(ID_TIMER_WAIT));
  EXPECT_TRUE(WaitFor([&] { return PortClosedShown(); }));
  ExpectColumn(w, Column::PortClosed);
  EXPECT_EQ(w.LogLines(), lines);  // the log keeps its lines
  EXPECT_FALSE(HasOpenFile(pty.SlavePath()));
}

TEST_F(WindowCommandTest, AppFileTakesUpToFourMegabytesAndReportsUnreadableFiles) {
  CDumpDlg& w = *dlg;
  const std::string limit = dir.File("limit.bin"), over = dir.File("over.bin");
  std::filesystem::resize_file(dir.Write("limit.bin", ""), 4194304);
  std::filesystem::resize_file(dir.Write("over.bin", ""), 4194305);

  prompts.answers.push_back(QString::fromStdString(limit));
  w.Button(ctl::APPFILE_BUTTON)->click();
  EXPECT_EQ(prompts.filters.back().toStdString(), "*.bin;*.dat (*.bin *.dat);; *.* (*)");
  EXPECT_EQ(app.m_settings.m_strAppFile, limit);
  EXPECT_EQ(app.m_settings.m_nAppFileSize, 4194304);
  EXPECT_TRUE(prompts.messages.empty());

  w.Button(ctl::APPFILE_BUTTON)->click();  // cancelled: nothing changes
  EXPECT_EQ(app.m_settings.m_strAppFile, limit);

  prompts.answers.push_back(QString::fromStdString(over));
  w.Button(ctl::APPFILE_BUTTON)->click();
  EXPECT_EQ(prompts.messages, std::vector<std::string>{"TqUpdater: File cannot large than 4MB!"});
  EXPECT_EQ(app.m_settings.m_strAppFile, "");
  EXPECT_EQ(app.m_settings.m_nAppFileSize, 0);

  prompts.answers.push_back(QString::fromStdString(limit));
  w.Button(ctl::APPFILE_BUTTON)->click();
  prompts.answers.push_back(QString::fromStdString(dir.File("missing.bin")));
  w.Button(ctl::APPFILE_BUTTON)->click();
  ASSERT_EQ(prompts.messages.size(), 2u);
  EXPECT_NE(prompts.messages[1].find("missing.bin"), std::string::npos);
  EXPECT_EQ(app.m_settings.m_strAppFile, "");  // the earlier choice is cleared
}

TEST_F(WindowCommandTest, SaveAsCreatesOrEmptiesTheFileAtOnce) {
  CDumpDlg& w = *dlg;
  const std::string old = dir.Write("old.bin", "older contents");
  prompts.answers.push_back(QString::fromStdString(old));
  w.Button(ctl::SAVEAS_BUTTON)->click();
  EXPECT_EQ(prompts.filters.back().toStdString(), "*.* (*)");
  EXPECT_EQ(std::filesystem::file_size(old), 0u);
  EXPECT_EQ(app.m_settings.m_strDumpFile, old);
  prompts.answers.push_back(QString::fromStdString(dir.File("new.bin")));
  w.Button(ctl::SAVEAS_BUTTON)->click();
  EXPECT_TRUE(std::filesystem::exists(dir.File("new.bin")));
  w.Button(ctl::SAVEAS_BUTTON)->click();  // cancelled
  EXPECT_EQ(app.m_settings.m_strDumpFile, dir.File("new.bin"));
  EXPECT_FALSE(HasOpenFile(dir.File("new.bin")));
}

TEST_F(WindowCommandTest, WorkerMessagesDriveTheTimersAndTheProgressBar) {
  CDumpDlg& w = *dlg;
  w.OnWindowMessage(WM_UPDATE_TIMER, ID_TIMER_ACK, 2000);
  EXPECT_EQ(w.Timers().Interval(ID_TIMER_ACK), 2000);
  w.OnWindowMessage(WM_UPDATE_TIMER, ID_TIMER_ACK, 0);
  EXPECT_FALSE(w.Timers().IsRunning(ID_TIMER_ACK));
  w.OnWindowMessage(WM_UPDATE_TIMER, ID_TIMER_ACK, -5);
  EXPECT_FALSE(w.Timers().IsRunning(ID_TIMER_ACK));
  w.OnWindowMessage(WM_UPDATE_PROGRESS, 77, 42);
  EXPECT_EQ(w.ProgressBar()->value(), 42);
  w.OnWindowMessage(WM_UPDATE_PROGRESS, 1, 100);
  EXPECT_EQ(w.ProgressBar()->value(), 100);
}

}  // namespace
