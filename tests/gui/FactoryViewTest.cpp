// The factory view against simulated boards: a run over several chipsims
// with its report, a failing board that ends alone, refusals, closing while
// boards run, the station file, the main window's way in and the keyboard.
#include "app/window/FactoryDlg.h"
#include "app/window/FactoryTable.h"
#include "tests/gui/WindowFixture.h"
#include "tests/support/Bytes.h"
#include "tests/support/Json.h"
#include "tests/support/Process.h"

#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <set>
#include <sstream>

namespace {

using namespace std::chrono_literals;

class FactoryViewTest : public WindowTest {
protected:
  FactoryViewTest() { WriteSampleCfg(); }
  ~FactoryViewTest() override {
    view.reset();
    sims.clear();
  }
  std::string Flash(size_t i) const { return dir.File("flash" + std::to_string(i) + ".img"); }
  std::string StartBoard(std::vector<std::string> extra = {}) {
    const std::string n = std::to_string(sims.size());
    std::vector<std::string> args{std::string(TQ_BIN_DIR) + "/chipsim", "--flash-file", Flash(sims.size()), "--config",
                                  ConfigDir(), "--repeat", "50", "--end-idle", "1000"};
    args.insert(args.end(), extra.begin(), extra.end());
    sims.push_back(std::make_unique<CChildProcess>(args, dir.File("sim" + n + ".out"), dir.File("sim" + n + ".err")));
    const std::string device = sims.back()->FirstLine(5s);
    EXPECT_FALSE(device.empty()) << sims.back()->Err();
    return device;
  }
  // The view with the act, base 0x30000, length 0x10000 and the file chosen.
  CFactoryDlg& OpenView(int32_t act, const std::string& file, bool verify = true) {
    CSettingsModel model(CConfigFile::InFolder(ConfigDir()));
    model.Load();
    model.m_sel.m_nActSel = act;
    model.m_sel.m_nBaseSel = {0, 3, 0};
    model.m_sel.m_nLengthSel = {0, 1, 0};
    FactoryChoices choices;
    (act == ACT_DUMP ? choices.dumpPattern : choices.image) = file;
    choices.verify = verify;
    view = std::make_unique<CFactoryDlg>(prompts, std::move(model), choices, ConfigDir());
    view->SetPortLister([] { return std::vector<SerialPortInfo>{}; });
    return *view;
  }
  bool RunToEnd(std::chrono::seconds limit = 90s) { return WaitFor([&] { return !view->Running(); }, limit); }
  std::string Cell(int row, int column) const {
    return view->Table().data(view->Table().index(row, column), Qt::DisplayRole).toString().toStdString();
  }
  std::string Report() const {
    std::string r = "\n--- message: " + view->MessageLine()->text().toStdString() + "\n";
    for (const auto& m : prompts.messages) r += "box: " + m + "\n";
    for (size_t i = 0; i < view->Ports().size(); ++i) {
      r += "--- board " + std::to_string(i) + ": " + Cell(static_cast<int>(i), CFactoryTable::StateColumn) + "\n";
      for (const auto& l : view->Boards().Log(i)) r += "  " + l + "\n";
    }
    for (const auto& s : sims) r += "--- sim\n" + s->Err();
    return r;
  }

  std::vector<std::unique_ptr<CChildProcess>> sims;
  std::unique_ptr<CFactoryDlg> view;
};

TEST_F(FactoryViewTest, FourBoardsProgramWithReadBackAndTheRefusingOneFailsAlone) {
  const auto image = Image(10000, 11);
  const std::string imageFile = dir.WriteBytes("image.bin", image);
  std::vector<std::string> devices;
  for (size_t i = 0; i < 4; ++i) devices.push_back(StartBoard(i == 2 ? std::vector<std::string>{"--nak", "data:10"}
                                                                       : std::vector<std::string>{}));
  OpenView(ACT_PROGRAM, imageFile);
  for (const auto& d : devices) ASSERT_TRUE(view->AddPort(d));
  view->ReportField()->setText(QString::fromStdString(dir.File("report.jsonl")));
  view->Button("start")->click();
  ASSERT_TRUE(view->Running()) << Report();
  ASSERT_TRUE(RunToEnd()) << Report();

  for (int row : {0, 1, 3}) {
    EXPECT_EQ(Cell(row, CFactoryTable::StateColumn), "done") << row << Report();
    EXPECT_EQ(Cell(row, CFactoryTable::PassedColumn), "1");
    EXPECT_EQ(Cell(row, CFactoryTable::FailedColumn), "0");
    const std::string flash = TempDir::Read(Flash(static_cast<size_t>(row)));
    ASSERT_GE(flash.size(), 0x30000u + image.size());
    EXPECT_TRUE(flash.substr(0x30000, image.size()) == std::string(image.begin(), image.end())) << "board " << row;
  }
  EXPECT_EQ(Cell(2, CFactoryTable::StateColumn), "failed: retry-failed") << Report();
  EXPECT_EQ(Cell(2, CFactoryTable::FailedColumn), "1");
  EXPECT_FALSE(Cell(2, CFactoryTable::LastColumn).empty());
  EXPECT_EQ(view->LastExitStatus(), 1);

  const std::string text = TempDir::Read(dir.File("report.jsonl"));
  EXPECT_TRUE(text.empty() || text.back() == '\n') << "the report ends inside a record";
  std::istringstream report(text);
  std::set<std::string> results;
  size_t records = 0;
  for (std::string line; std::getline(report, line); ++records) {
    auto record = CJsonLine::Parse(line);
    ASSERT_TRUE(record) << line;
    results.insert(record->at("name").text + " " + record->at("result").text);
  }
  EXPECT_EQ(records, 4u);
  EXPECT_EQ(results.size(), 4u);
  for (size_t i = 0; i < 4; ++i)
    EXPECT_TRUE(results.count(PortName(devices[i]) + (i == 2 ? " failed" : " done"))) << PortName(devices[i]) << text;

  // The counts are in the file that the next view reads.
  CCountsStore counts((std::filesystem::path(ConfigDir()) / CCountsStore::kFileName).string());
  ASSERT_EQ(counts.Load(), std::nullopt);
  EXPECT_EQ(counts.Get(devices[0]), (PortCounts{1, 0}));
  EXPECT_EQ(counts.Get(devices[2]), (PortCounts{0, 1}));
  view.reset();
  OpenView(ACT_PROGRAM, imageFile);
  view->AddPort(devices[2]);
  EXPECT_EQ(Cell(0, CFactoryTable::FailedColumn), "1");
}

TEST_F(FactoryViewTest, ARunTheLibraryRefusesIsNotStartedAndSaysWhy) {
  const std::string a = StartBoard(), b = StartBoard();
  OpenView(ACT_DUMP, dir.File("dump.bin"));  // one file for two boards
  view->AddPort(a);
  view->AddPort(b);
  EXPECT_FALSE(view->OnStartAll());
  EXPECT_FALSE(view->Running());
  const std::string shown = view->MessageLine()->text().toStdString();
  EXPECT_TRUE(shown.starts_with("Not started: ")) << shown;
  EXPECT_NE(shown.find("{port}"), std::string::npos) << shown;
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_TRUE(view->Button("start")->isEnabled());

  // No board at all: nothing to start either.
  OpenView(ACT_PROGRAM, dir.File("none.bin"));
  EXPECT_FALSE(view->OnStartAll());
  EXPECT_FALSE(view->Button("start")->isEnabled());
}

TEST_F(FactoryViewTest, ClosingWhileBoardsRunAsksThenStopsThemWithoutBlocking) {
  const std::string a = StartBoard({"--baud", "line"}), b = StartBoard({"--baud", "line"});
  OpenView(ACT_DUMP, dir.File("d-{port}.bin"));
  view->AddPort(a);
  view->AddPort(b);
  view->show();
  ASSERT_TRUE(view->OnStartAll()) << Report();
  ASSERT_TRUE(WaitFor([&] { return view->Boards().Row(0).percent > 0 && view->Boards().Row(1).percent > 0; }, 30s))
      << Report();
  prompts.stopAnswer = false;
  view->close();
  EXPECT_EQ(prompts.stopQuestions, 1);
  EXPECT_TRUE(view->isVisible());
  EXPECT_TRUE(view->Running());

  prompts.stopAnswer = true;
  const auto before = std::chrono::steady_clock::now();
  view->close();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 100ms);  // the window's thread does not wait for the boards
  ASSERT_TRUE(WaitFor([&] { return !view->isVisible(); }, 20s)) << Report();
  EXPECT_FALSE(view->Running());
  EXPECT_EQ(view->LastExitStatus(), 130);
  EXPECT_EQ(Cell(0, CFactoryTable::StateColumn), "stopped") << Report();
}

TEST_F(FactoryViewTest, AStationTakesBoardAfterBoardUntilStoppedAndCountsThem) {
  const std::string device = StartBoard({"--sessions", "2"});  // two boards put on the port in turn
  const auto image = Image(12000, 9);
  OpenView(ACT_PROGRAM, dir.WriteBytes("image.bin", image));
  view->AddPort(device);
  view->StationBox()->setChecked(true);
  view->ReportField()->setText(QString::fromStdString(dir.File("report.jsonl")));
  ASSERT_TRUE(view->OnStartAll()) << Report();
  ASSERT_TRUE(WaitFor([&] { return view->Boards().Row(0).counts.passed == 2; }, 90s)) << Report();
  ASSERT_TRUE(WaitFor([&] { return Cell(0, CFactoryTable::StateColumn).starts_with("waiting for"); }, 10s)) << Report();
  EXPECT_TRUE(view->Running());  // the port waits for a third board
  EXPECT_NE(Cell(0, CFactoryTable::StateColumn).find("(last: done)"), std::string::npos) << Report();
  view->Button("stopAll")->click();
  ASSERT_TRUE(RunToEnd(20s)) << Report();
  EXPECT_EQ(Cell(0, CFactoryTable::PassedColumn), "2");
  CCountsStore counts((std::filesystem::path(ConfigDir()) / CCountsStore::kFileName).string());
  ASSERT_EQ(counts.Load(), std::nullopt);
  EXPECT_EQ(counts.Get(device), (PortCounts{2, 0}));
  const std::string report = TempDir::Read(dir.File("report.jsonl"));
  EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 2) << report;  // the board that never came has no record
}

TEST_F(FactoryViewTest, StationFilesLoadSaveAndARefusedOneKeepsTheBoards) {
  OpenView(ACT_PROGRAM, "");
  view->AddPort("/dev/ttyUSB9");
  EXPECT_FALSE(view->AddPort("/dev/ttyUSB9"));
  EXPECT_FALSE(view->AddPort("/dev/tty USB9"));
  EXPECT_EQ(view->MessageLine()->text().toStdString(), "\"/dev/tty USB9\" is not a port: blanks or control characters inside");
  const std::string bad = dir.Write("bad.txt", "/dev/ttyUSB0\n/dev/tty USB1\n");
  prompts.answers.push_back(QString::fromStdString(bad));
  view->Button("load")->click();
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(prompts.messages[0], "Factory view: " + bad + ", line 2: \"/dev/tty USB1\" is not a port: blanks inside");
  EXPECT_EQ(view->Ports(), (std::vector<std::string>{"/dev/ttyUSB9"}));

  const std::string good = dir.Write("good.txt", "# bench\n/dev/ttyUSB0\n/dev/ttyUSB1\n");
  prompts.answers.push_back(QString::fromStdString(good));
  view->Button("load")->click();
  EXPECT_EQ(view->Ports(), (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyUSB1"}));
  view->TableView()->selectRow(1);
  view->Button("remove")->click();
  EXPECT_EQ(view->Ports(), (std::vector<std::string>{"/dev/ttyUSB0"}));
  view->AddPort("/dev/ttyUSB1");
  view->show();
  view->activateWindow();
  view->TableView()->setFocus();
  ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
  view->TableView()->selectRow(0);
  QTest::keyClick(view->TableView(), Qt::Key_Delete);  // the row's own action, from the keyboard
  prompts.answers.push_back(QString::fromStdString(dir.File("saved.txt")));
  view->Button("save")->click();
  StationFile saved;
  ASSERT_EQ(LoadStationFile(dir.File("saved.txt"), saved), std::nullopt);
  EXPECT_EQ(saved.ports, (std::vector<std::string>{"/dev/ttyUSB1"}));
}

TEST_F(FactoryViewTest, TheMachinesPortsAreOfferedByTheirStableNames) {
  OpenView(ACT_PROGRAM, "");
  view->SetPortLister([] {
    return std::vector<SerialPortInfo>{{"/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI_A-if00-port0", "", "", "", ""},
                                       {"/dev/ttyS4", "", "", "", "", ""}};
  });
  ASSERT_EQ(view->PortPicker()->count(), 2);
  EXPECT_EQ(view->PortPicker()->itemText(0).toStdString(), "/dev/serial/by-id/usb-FTDI_A-if00-port0");
  EXPECT_EQ(view->PortPicker()->itemText(1).toStdString(), "/dev/ttyS4");
}

TEST_F(FactoryViewTest, EveryControlHasANameAndTheMainWindowOpensTheView) {
  OpenView(ACT_PROGRAM, "");
  for (QWidget* w : view->findChildren<QWidget*>()) {
    if (w->focusPolicy() == Qt::NoFocus || w->window() != view.get()) continue;  // not a popup's parts
    const QWidget* p = w->parentWidget();
    if (p && (p->inherits("QComboBox") || p->inherits("QAbstractScrollArea"))) continue;  // parts of a control
    EXPECT_FALSE(w->accessibleName().isEmpty()) << w->metaObject()->className() << " " << w->objectName().toStdString();
  }
  view.reset();

  Open();
  prompts.answers.push_back(QString::fromStdString(dir.WriteBytes("image.bin", Image(100, 1))));
  dlg->Button(ctl::APPFILE_BUTTON)->click();
  dlg->List(ctl::ACT_LIST)->setCurrentIndex(ACT_PROGRAM);
  ASSERT_TRUE(dlg->actions().contains(dlg->FactoryAction()));
  EXPECT_EQ(dlg->FactoryAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));
  std::string shownFile, shownJob;
  QTimer::singleShot(0, dlg.get(), [&] {
    shownFile = dlg->Factory()->FileField()->text().toStdString();
    shownJob = dlg->Factory()->findChild<QPlainTextEdit*>()->toPlainText().toStdString();
    dlg->Factory()->close();
  });
  dlg->FactoryAction()->trigger();
  EXPECT_EQ(shownFile, dir.File("image.bin"));
  EXPECT_TRUE(shownJob.starts_with("Program " + dir.File("image.bin") + " at 0x")) << shownJob;
  EXPECT_EQ(dlg->Factory(), nullptr);
}

TEST(FactoryCommandLine, UnknownArgumentsAreRefusedAndHelpIsShown) {
  TempDir dir;
  CChildProcess bad({std::string(TQ_BIN_DIR) + "/tqupdater", "--fatcory"}, dir.File("o"), dir.File("e"));
  EXPECT_EQ(bad.Wait(20s), 2);
  EXPECT_TRUE(bad.Err().ends_with("tqupdater: unknown argument \"--fatcory\"\nusage: tqupdater [--factory]\n")) << bad.Err();
  CChildProcess help({std::string(TQ_BIN_DIR) + "/tqupdater", "--help"}, dir.File("o2"), dir.File("e2"));
  EXPECT_EQ(help.Wait(20s), 0);
  EXPECT_EQ(help.Out(), "usage: tqupdater [--factory]\n");
}

}  // namespace
