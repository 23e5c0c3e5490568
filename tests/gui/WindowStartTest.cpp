// The main window as it starts: its controls, the lists from cfg.ini, the
// remembered selections, the two selection handlers, the About box and the
// ways of closing it.
#include "tests/gui/WindowFixture.h"

#include <QStyle>
#include <QStyleOptionComboBox>

#include "app/window/AboutDlg.h"

#include <QAccessible>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QTest>
#include <QTimer>

namespace {

std::vector<std::string> Entries(QComboBox* box) {
  std::vector<std::string> out;
  for (int i = 0; i < box->count(); ++i) out.push_back(box->itemText(i).toStdString());
  return out;
}

// The name an assistive tool announces: the widget's own name, else the label
// that the accessibility tree says labels it, else the interface's name.
std::string AccessibleName(QWidget* w) {
  if (!w->accessibleName().isEmpty()) return w->accessibleName().toStdString();
  QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
  if (!iface) return {};
  for (const auto& [other, relation] : iface->relations(QAccessible::Label))
    return other->text(QAccessible::Name).toStdString();
  return iface->text(QAccessible::Name).toStdString();
}

// A user's choice in a list: keyboard to the entry, as activated() reports it.
void Choose(QComboBox* box, int pos) {
  box->setFocus();
  box->setCurrentIndex(pos == 0 ? 1 : 0);
  QTest::keyClick(box, pos == 0 ? Qt::Key_Up : Qt::Key_Down);
  for (int i = box->currentIndex(); i < pos; ++i) QTest::keyClick(box, Qt::Key_Down);
}

TEST_F(WindowTest, EveryControlHasItsIdTextAndInitialState) {
  WriteSampleCfg();
  CDumpDlg& w = Open();
  EXPECT_EQ(w.windowTitle().toStdString(), "TqUpdater V1.22 Build 20080828");
  EXPECT_FALSE(w.windowIcon().isNull());
  EXPECT_EQ(w.minimumSize(), w.maximumSize());  // fixed size
  const std::pair<int, const char*> captions[] = {
      {1036, "Com Setting"}, {1035, "Chip Setting"}, {1034, "Act Setting"}, {1033, "Flash Setting"},
      {1012, "Open"},        {1017, "Link"},         {1029, "Cancel"},      {1032, "Clear"},
      {1030, "AppFile"},     {1009, "SaveAs"}};
  for (auto [id, text] : captions) {
    QWidget* c = w.Control(id);
    ASSERT_NE(c, nullptr) << id;
    EXPECT_EQ(c->objectName().toStdString(), "ctl" + std::to_string(id));
    EXPECT_EQ(c->property("ctlId").toInt(), id);
    const QString shown = qobject_cast<QGroupBox*>(c) ? qobject_cast<QGroupBox*>(c)->title() : w.Button(id)->text();
    EXPECT_EQ(shown.toStdString(), text);
  }
  for (int id : {1000, 1037, 1011, 1002, 1003, 1004, 1005, 1006, 1019, 1020, 1021, 1022, 1023, 1024, 1025, 1026, 1027,
                 1028, 1031, 1038, 1040})
    EXPECT_NE(w.Control(id), nullptr) << id;
  EXPECT_EQ(Entries(w.List(1004)), (std::vector<std::string>{"None", "Even", "Odd"}));
  EXPECT_EQ(Entries(w.List(1005)), (std::vector<std::string>{"8", "7", "6"}));
  EXPECT_EQ(Entries(w.List(1006)), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(Entries(w.List(1027)), (std::vector<std::string>{"Flash", "SPI-Flash"}));
  for (int id : {1021, 1022}) EXPECT_EQ(Entries(w.List(id)).front() + Entries(w.List(id)).back(), "0x00xF");
  for (int id : {1023, 1025}) EXPECT_EQ(Entries(w.List(id))[10], "A");
  for (int id : {1024, 1026}) EXPECT_EQ(Entries(w.List(id))[15], "F000");
  for (int id : {1004, 1005, 1006}) {
    EXPECT_TRUE(w.List(id)->isHidden());
    EXPECT_EQ(w.List(id)->currentIndex(), 0);
  }
  for (QLabel* label : w.findChildren<QLabel*>()) {
    if (label->buddy() == w.List(1004) || label->buddy() == w.List(1005) || label->buddy() == w.List(1006)) {
      EXPECT_TRUE(label->isHidden()) << label->text().toStdString();
    }
  }
  EXPECT_EQ(w.ProgressBar()->minimum(), 0);
  EXPECT_EQ(w.ProgressBar()->maximum(), 100);
  ExpectColumn(w, Column::PortClosed);
}

TEST_F(WindowTest, ControlsAreNamedForAssistiveTools) {
  WriteSampleCfg();
  CDumpDlg& w = Open();
  const std::pair<int, const char*> names[] = {
      {1002, "Port"},    {1003, "Baud"},    {1040, "Chip Model"}, {1038, "RAM Type"}, {1019, "RAM Size"},
      {1031, "XTAL Freq"}, {1020, "Act"},   {1021, "Base 1"},     {1023, "Base 2"},   {1024, "Base 3"},
      {1022, "Lenth 1"}, {1026, "Lenth 3"}, {1027, "Type"},       {1028, "Model"},    {1000, "Log"},
      {1037, "Console"}, {1011, "Progress"}, {1012, "Open"},      {1017, "Link"}};
  for (auto [id, name] : names) EXPECT_EQ(AccessibleName(w.Control(id)), name) << id;
  // The lists are named through their labels.
  EXPECT_TRUE(w.List(1002)->accessibleName().isEmpty());
  int buddies = 0;
  for (QLabel* label : w.findChildren<QLabel*>()) buddies += label->buddy() != nullptr;
  EXPECT_EQ(buddies, 14);
}

TEST_F(WindowTest, StartsFromCfgIniWithTheRememberedPositions) {
  WriteCfg("[COM]\nCOM1\nCOM2\nCOM3\n[BaudRate]\n115200\n57600\n38400\n[ChipModel]\nA=1\nB=2\n[RAMType]\nSDRAM\nDDR\n"
           "[RAMSize]\n8MB\n16MB\n[XTAL]\n27MHz\n24MHz\n[ACT]\nProgram\nErase\nDump\n[PFLASH]\nP1=1\nP2=2\n"
           "[SFLASH]\nS1=1\nS2=2\nS3=3\n[Setting]\nPort=2\nBaudRate=1\nChipModel=1\nRamType=5\nSdramSize=1\n"
           "Xtal=0\nFlashType=1\nFlashModel=2\n");
  CDumpDlg& w = Open();
  EXPECT_EQ(Entries(w.List(ctl::PORT_LIST)), (std::vector<std::string>{"COM1", "COM2", "COM3"}));
  EXPECT_EQ(Entries(w.List(ctl::CHIPMODEL_LIST)), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(w.List(ctl::PORT_LIST)->currentIndex(), 2);
  // The baud position is the stored one, not the crystal's.
  EXPECT_EQ(w.List(ctl::BAUD_LIST)->currentIndex(), 1);
  EXPECT_EQ(w.List(ctl::XTAL_LIST)->currentIndex(), 0);
  EXPECT_EQ(w.List(ctl::CHIPMODEL_LIST)->currentIndex(), 1);
  EXPECT_EQ(w.List(ctl::RAMTYPE_LIST)->currentIndex(), -1);  // beyond its list: no selection
  EXPECT_EQ(w.List(ctl::RAMSIZE_LIST)->currentIndex(), 1);
  EXPECT_EQ(w.List(ctl::ACT_LIST)->currentIndex(), 0);
  // Flash type "SPI-Flash": the models of SFLASH, at the stored position.
  EXPECT_EQ(w.List(ctl::FLASHTYPE_LIST)->currentText().toStdString(), "SPI-Flash");
  EXPECT_EQ(Entries(w.List(ctl::FLASHMODEL_LIST)), (std::vector<std::string>{"S1", "S2", "S3"}));
  EXPECT_EQ(w.List(ctl::FLASHMODEL_LIST)->currentIndex(), 2);

  // Switching the type reselects the stored position, not the one shown before.
  Choose(w.List(ctl::FLASHMODEL_LIST), 0);
  Choose(w.List(ctl::FLASHTYPE_LIST), 0);
  EXPECT_EQ(Entries(w.List(ctl::FLASHMODEL_LIST)), (std::vector<std::string>{"P1", "P2"}));
  EXPECT_EQ(w.List(ctl::FLASHMODEL_LIST)->currentIndex(), -1);  // position 2 is past P2
  Choose(w.List(ctl::FLASHTYPE_LIST), 1);
  EXPECT_EQ(w.List(ctl::FLASHMODEL_LIST)->currentIndex(), 2);
}

TEST_F(WindowTest, CrystalChosenByTheUserMovesTheBaudSelection) {
  WriteCfg("[BaudRate]\n115200\n57600\n[XTAL]\n27MHz\n24MHz\n13.5MHz\n[Setting]\nBaudRate=0\n");
  CDumpDlg& w = Open();
  // Selected by program: no handler runs.
  w.List(ctl::XTAL_LIST)->setCurrentIndex(1);
  EXPECT_EQ(w.List(ctl::BAUD_LIST)->currentIndex(), 0);
  Choose(w.List(ctl::XTAL_LIST), 1);
  EXPECT_EQ(w.List(ctl::BAUD_LIST)->currentIndex(), 1);
  Choose(w.List(ctl::XTAL_LIST), 2);  // the baud list has no entry 2
  EXPECT_EQ(w.List(ctl::BAUD_LIST)->currentIndex(), -1);
}

TEST_F(WindowTest, EmptyOrMissingCfgIniGivesEmptyListsAndAUsableWindow) {
  for (bool missing : {true, false}) {
    if (!missing) WriteCfg("");
    CDumpDlg& w = Open();
    for (int id : {ctl::PORT_LIST, ctl::BAUD_LIST, ctl::CHIPMODEL_LIST, ctl::RAMTYPE_LIST, ctl::RAMSIZE_LIST,
                   ctl::XTAL_LIST, ctl::ACT_LIST, ctl::FLASHMODEL_LIST}) {
      EXPECT_EQ(w.List(id)->count(), 0) << id;
      EXPECT_EQ(w.List(id)->currentIndex(), -1) << id;
    }
    EXPECT_EQ(w.List(ctl::FLASHTYPE_LIST)->currentIndex(), 0);
    w.Button(ctl::LINK_BUTTON)->setEnabled(true);
    w.Button(ctl::LINK_BUTTON)->click();
    EXPECT_EQ(w.LogLines(), std::vector<std::string>{"Please open com port.\n"});
    w.Button(ctl::CLEAR_BUTTON)->click();
    EXPECT_EQ(w.Log()->count(), 0);
    EXPECT_TRUE(WaitFor([&] { return w.WorkerRunning() && app.m_dwWorkerThreadId.load() != 0; }));
    dlg.reset();
  }
}

TEST_F(WindowTest, AboutIsReachedByF1AndTheWindowsContextMenu) {
  WriteSampleCfg();
  CDumpDlg& w = Open();
  ASSERT_NE(w.AboutAction(), nullptr);
  EXPECT_EQ(w.AboutAction()->text().toStdString(), "About TqDump(&A)...");
  EXPECT_TRUE(w.actions().contains(w.AboutAction()));  // the window's context menu
  EXPECT_EQ(w.contextMenuPolicy(), Qt::ActionsContextMenu);
  // F1 anywhere in the window; the shortcut map triggers the action. (Pressing
  // the key needs a shown, active window, whose painting starts Qt's image
  // threads, which ThreadSanitizer cannot follow; the binding is checked here.)
  EXPECT_EQ(w.AboutAction()->shortcut(), QKeySequence(Qt::Key_F1));
  EXPECT_EQ(w.AboutAction()->shortcutContext(), Qt::WindowShortcut);
  std::string title, line, ok, empty = "x";
  // Reads and closes the About box once its modal loop runs.
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
    if (!about) return;
    probe.stop();
    title = about->windowTitle().toStdString();
    empty = qobject_cast<QLabel*>(about->Control(1012))->text().toStdString();
    for (QLabel* l : about->findChildren<QLabel*>())
      if (l->text().startsWith("For ")) line = l->text().toStdString();
    ok = qobject_cast<QPushButton*>(about->Control(1))->text().toStdString();
    qobject_cast<QPushButton*>(about->Control(1))->click();
  });
  probe.start(10);
  w.AboutAction()->trigger();
  EXPECT_EQ(title, "About TqDump");
  EXPECT_EQ(empty, "");
  EXPECT_EQ(line, "For Windows 2000,NT and XP.");
  EXPECT_EQ(ok, "确定");
}

TEST_F(WindowTest, TheCloseBoxStopsAnIdleWorkerAndWritesNoSetting) {
  WriteSampleCfg();
  const std::string before = TempDir::Read(CfgPath());
  CDumpDlg& w = Open();
  w.show();
  ASSERT_TRUE(WaitFor([&] { return app.m_dwWorkerThreadId.load() != 0; }));
  w.List(ctl::PORT_LIST)->setCurrentIndex(3);
  w.close();
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(w.result(), QDialog::Rejected);
  EXPECT_EQ(prompts.stopQuestions, 0);  // no update ran: nothing to ask
  EXPECT_FALSE(w.WorkerRunning());
  EXPECT_EQ(app.m_dwWorkerThreadId.load(), 0u);
  EXPECT_EQ(w.Model().m_sel.m_nPortSel, 3);  // the lists were read as the dialog ended
  dlg.reset();
  EXPECT_EQ(TempDir::Read(CfgPath()), before);
}

TEST_F(WindowTest, EnterOffAButtonAndEscNeverEndTheWindow) {
  WriteSampleCfg();
  CDumpDlg& w = Open();
  w.show();
  ASSERT_TRUE(WaitFor([&] { return app.m_dwWorkerThreadId.load() != 0; }));
  QTest::keyClick(w.List(ctl::ACT_LIST), Qt::Key_Return);
  QTest::keyClick(w.List(ctl::ACT_LIST), Qt::Key_Enter, Qt::KeypadModifier);
  QTest::keyClick(w.Log(), Qt::Key_Return);
  QTest::keyClick(&w, Qt::Key_Escape);
  QTest::keyClick(w.List(ctl::PORT_LIST), Qt::Key_Escape);
  EXPECT_TRUE(w.isVisible());
  EXPECT_TRUE(w.WorkerRunning());
  EXPECT_NE(app.m_dwWorkerThreadId.load(), 0u);
}

TEST_F(WindowTest, EnterOnAFocusedButtonPressesIt) {
  WriteSampleCfg();
  CDumpDlg& w = Open();
  w.show();
  w.Button(ctl::LINK_BUTTON)->setEnabled(true);
  w.Button(ctl::LINK_BUTTON)->setFocus();
  QTest::keyClick(w.Button(ctl::LINK_BUTTON), Qt::Key_Return);
  EXPECT_TRUE(w.isVisible());
  EXPECT_EQ(w.LogLines(), std::vector<std::string>{"Please open com port.\n"});
}

}  // namespace

namespace {

// Every entry of every shown list fits its closed box, and every button's
// caption its button, with the sample cfg.ini.
TEST_F(WindowTest, NoEntryOrCaptionIsClipped) {
  WriteSampleCfg();
  CDumpDlg& w = Open();
  w.show();
  std::vector<std::string> clipped;
  for (QComboBox* box : w.findChildren<QComboBox*>()) {
    if (box->isHidden() || box == w.List(ctl::PORT_LIST)) continue;  // ports: device paths, shown in full when open
    QStyleOptionComboBox opt;
    opt.initFrom(box);
    const QRect field = box->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, box);
    for (int i = 0; i < box->count(); ++i)
      if (box->fontMetrics().horizontalAdvance(box->itemText(i)) > field.width())
        clipped.push_back(box->objectName().toStdString() + ": " + box->itemText(i).toStdString());
  }
  for (QPushButton* b : w.findChildren<QPushButton*>())
    if (b->fontMetrics().horizontalAdvance(b->text()) + 8 > b->width()) clipped.push_back(b->text().toStdString());
  // The flash model list holds the models of one flash type at a time.
  w.List(ctl::FLASHTYPE_LIST)->setCurrentIndex(1 - w.List(ctl::FLASHTYPE_LIST)->currentIndex());
  w.OnFlashTypeChanged();
  QComboBox* models = w.List(ctl::FLASHMODEL_LIST);
  QStyleOptionComboBox opt;
  opt.initFrom(models);
  const QRect field = models->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, models);
  for (int i = 0; i < models->count(); ++i)
    if (models->fontMetrics().horizontalAdvance(models->itemText(i)) > field.width())
      clipped.push_back("model: " + models->itemText(i).toStdString());
  EXPECT_TRUE(clipped.empty()) << ::testing::PrintToString(clipped);
}

}  // namespace
