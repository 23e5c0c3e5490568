// The status line and the read-back, against chipsim: what the window says
// when an update is verified, when the flash holds other bytes, when the chip
// refuses, when the port goes away and when it cannot be opened; and a port
// of the machine chosen from the list.
#include "tests/gui/SimWindowFixture.h"

#include <QAccessible>
#include <QCheckBox>
#include <QTest>

namespace {

class WindowVerdictTest : public WindowEndToEndTest {
protected:
  // Programs a 10000-byte image at 0x30000 with Verify as it stands; true
  // once the update has ended and the port is closed.
  bool ProgramImage() {
    image = ChooseImage(10000, 11);
    Setup(0, 0x30000, 0);
    dlg->Button(ctl::LINK_BUTTON)->click();
    return WaitFor([&] { return !dlg->CurrentVerdict().text.starts_with("Waiting") && PortClosedShown() &&
                                Kind() != VerdictKind::Running; },
                   60s);
  }
  std::string Accessible(int id) const {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(dlg->Control(id));
    return a ? a->text(QAccessible::Name).toStdString() : std::string();
  }
  std::vector<uint8_t> image;
};

TEST_F(WindowVerdictTest, ReadBackIsOnByDefaultAndTheVerdictSaysVerified) {
  StartSimAndWindow();
  EXPECT_TRUE(dlg->VerifyBox()->isChecked());
  EXPECT_EQ(VerdictText(), "Ready");
  image = ChooseImage(10000, 11);
  EXPECT_EQ(dlg->Label(wctl::APPFILE_LABEL)->toolTip().toStdString(), dir.File("image.bin"));
  Setup(0, 0x30000, 0);
  dlg->Button(ctl::LINK_BUTTON)->click();
  // Until the chip answers, the operator is told to reset the board.
  EXPECT_EQ(VerdictText(), "Waiting for the board: reset it now");
  EXPECT_EQ(Kind(), VerdictKind::Waiting);
  ASSERT_TRUE(WaitFor([&] { return Kind() == VerdictKind::Done && PortClosedShown(); }, 60s)) << Report();
  const auto lines = dlg->LogLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
            (std::vector<std::string>{"\ndump ok.", "\ncompelete.", "verify ok.\n"}))
      << Report();
  EXPECT_EQ(VerdictText(), "Done, verified");
  EXPECT_EQ(Accessible(wctl::STATUS_LINE), "Done, verified");
  EXPECT_EQ(TempDir::Read(FlashFile()).substr(0x30000, 10000), std::string(image.begin(), image.end()));
  // The read-back went to memory, never into a file.
  EXPECT_FALSE(std::filesystem::exists(kReadBackName));
  EXPECT_FALSE(std::filesystem::exists(dir.File(kReadBackName)));
  // The last phase's figures stay beside the bar; the focus is where no key does harm.
  EXPECT_TRUE(dlg->Label(wctl::METER_LABEL)->text().startsWith("10000 B in")) << dlg->Label(wctl::METER_LABEL)->text().toStdString();
  EXPECT_EQ(dlg->focusWidget(), dlg->Log());
}

TEST_F(WindowVerdictTest, AFlashThatHoldsOtherBytesFailsWithTheFirstDifferingOffset) {
  StartSimAndWindow(false, {"--corrupt-flash", "0x30010"});
  ASSERT_TRUE(ProgramImage()) << Report();
  EXPECT_EQ(Kind(), VerdictKind::Failed) << VerdictText();
  EXPECT_TRUE(VerdictText().starts_with("Failed: verify failed: first difference at offset 0x10 ")) << VerdictText();
  EXPECT_TRUE(LogHas("\ncompelete.")) << Report();
  const auto lines = dlg->LogLines();
  EXPECT_TRUE(lines.back().starts_with("verify failed: first difference at offset 0x10 ")) << Report();
}

TEST_F(WindowVerdictTest, TheVerdictNamesTheChipsRefusal) {
  StartSimAndWindow(false, {"--nak", "data:10"});
  ASSERT_TRUE(ProgramImage()) << Report();
  EXPECT_EQ(VerdictText(), "Failed: the chip refused ten times in a row") << Report();
  EXPECT_EQ(Accessible(wctl::STATUS_LINE), VerdictText());
}

TEST_F(WindowVerdictTest, TheVerdictSaysThePortWentAwayWhenTheDeviceVanishes) {
  StartSimAndWindow(false, {"--vanish", "dump:8192"});
  prompts.answers.push_back(QString::fromStdString(dir.File("lost.bin")));
  dlg->Button(ctl::SAVEAS_BUTTON)->click();
  EXPECT_EQ(dlg->Label(wctl::DUMPFILE_LABEL)->toolTip().toStdString(), dir.File("lost.bin"));
  Setup(2, 0, 0x10000);
  dlg->Button(ctl::LINK_BUTTON)->click();
  ASSERT_TRUE(WaitFor([&] { return Kind() == VerdictKind::Failed; }, 30s)) << Report();
  EXPECT_EQ(VerdictText(), "Failed: the port went away") << Report();
}

TEST_F(WindowVerdictTest, ARefusedOpenNamesTheDeviceAndWhyInTheBoxLogAndVerdict) {
  const std::string missing = dir.File("no-such-tty");
  WriteSampleCfg(missing);
  Open();
  ASSERT_TRUE(WaitFor([&] { return app.m_dwWorkerThreadId.load() != 0; }));
  dlg->Button(ctl::OPEN_BUTTON)->click();
  ASSERT_TRUE(WaitFor([&] { return !prompts.messages.empty(); }, 5s));
  const std::string why = "cannot open the port COM1 (" + missing + ", from PortMap in cfg.ini): no such device";
  EXPECT_TRUE(prompts.messages[0].starts_with("Error: Can't open port!\n\n" + why)) << prompts.messages[0];
  ASSERT_FALSE(dlg->LogLines().empty());
  EXPECT_TRUE(dlg->LogLines().back().starts_with(why)) << Report();
  EXPECT_TRUE(VerdictText().starts_with("Failed: " + why)) << VerdictText();
  EXPECT_EQ(dlg->Button(ctl::OPEN_BUTTON)->text(), "Open");
}

TEST_F(WindowVerdictTest, TheVerifyChoiceIsRememberedOutsideSetting) {
  WriteSampleCfg();
  Open();
  dlg->VerifyBox()->setChecked(false);
  dlg.reset();
  const std::string cfg = TempDir::Read(CfgPath());
  EXPECT_NE(cfg.find("[TqUpdaterWindow]\nVerify=0"), std::string::npos) << cfg;
  EXPECT_EQ(cfg.find("Verify", cfg.find("[Setting]")), cfg.find("Verify=0"));
  Open();
  EXPECT_FALSE(dlg->VerifyBox()->isChecked());
  dlg->VerifyBox()->setChecked(true);
  dlg.reset();
  Open();
  EXPECT_TRUE(dlg->VerifyBox()->isChecked());
}

TEST_F(WindowVerdictTest, ASystemPortChosenFromTheListIsOpenedWithoutPortMap) {
  StartSim();
  WriteSampleCfg();  // COM1 maps to a device that is not this one
  systemPorts = {SerialPortInfo{"/dev/ttyNONE9", "", "", "", "", ""}};
  Open();
  QComboBox* ports = dlg->List(ctl::PORT_LIST);
  ASSERT_EQ(ports->count(), 5);
  // The list is read again as it opens.
  systemPorts.push_back(SerialPortInfo{device, "/dev/serial/by-id/usb-sim-if00", "", "", "", ""});
  QTest::keyClick(ports, Qt::Key_F4);
  ports->hidePopup();
  ASSERT_EQ(ports->count(), 6);
  EXPECT_EQ(ports->itemText(5).toStdString(), device + "  /dev/serial/by-id/usb-sim-if00");
  ports->setCurrentIndex(5);
  ASSERT_TRUE(OpenPort()) << Report();
  const std::string dumpPath = dir.File("sys.bin");
  prompts.answers.push_back(QString::fromStdString(dumpPath));
  dlg->Button(ctl::SAVEAS_BUTTON)->click();
  Setup(2, 0x10000, 0x2000);
  ASSERT_TRUE(RunToEnd()) << Report();
  EXPECT_EQ(VerdictText(), "Done");
  EXPECT_EQ(TempDir::Read(dumpPath), TempDir::Read(FlashFile()).substr(0x10000, 0x2000));
}

}  // namespace
