// The window against chipsim on a pseudo-terminal: the simulator, a window
// whose COM1 is mapped to it, and helpers that drive and read the window.
#pragma once

#include "tests/gui/WindowFixture.h"
#include "tests/support/Bytes.h"
#include "tests/support/Process.h"

#include <QCheckBox>
#include <QLabel>

using namespace std::chrono_literals;

inline const std::vector<std::string> kBootLines = {
    "Begin updating now.\n",       "\nRecv updating request.",   "\nSend 2KB Bin file.",
    "\nboot file receive ok.",     "\nSend Chip Type/Sdram Size/Xtal", "\nSend flash file lenth.",
    "\nSend flash file code.",     "\nFlash File length = 10000.\n", "\nflash file receive ok.",
    "\nSend Control info."};

// The boot lines with the window's line about the update's file after the first.
inline std::vector<std::string> WithStartLine(const std::string& line);

inline std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline std::vector<std::string> WithStartLine(const std::string& line) {
  std::vector<std::string> lines = kBootLines;
  lines.insert(lines.begin() + 1, line);
  return lines;
}

class WindowEndToEndTest : public WindowTest {
protected:
  ~WindowEndToEndTest() override {
    dlg.reset();
    sim.reset();
  }
  // Starts the simulator (paced at the host's line rate when asked), maps
  // COM1 to it and opens the window.
  void StartSimAndWindow(bool paced = false, const std::vector<std::string>& extra = {}) {
    StartSim(paced, extra);
    WriteSampleCfg(device);
    Open();
    ASSERT_TRUE(OpenPort()) << Report();
  }
  // Starts the simulator with `extra` options; `device` is its pty.
  void StartSim(bool paced = false, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args{std::string(TQ_BIN_DIR) + "/chipsim", "--flash-file", FlashFile(), "--config",
                                  ConfigDir(), "--repeat", "50", "--end-idle", "200"};
    if (paced) args.insert(args.end(), {"--baud", "line"});
    args.insert(args.end(), extra.begin(), extra.end());
    sim = std::make_unique<CChildProcess>(args, dir.File("sim.out"), dir.File("sim.err"));
    device = sim->FirstLine(5s);
    ASSERT_FALSE(device.empty()) << sim->Err();
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
  // The image, chosen through AppFile; returns its bytes.
  std::vector<uint8_t> ChooseImage(size_t size, uint32_t seed) {
    auto image = Image(size, seed);
    prompts.answers.push_back(QString::fromStdString(dir.WriteBytes("image.bin", image)));
    dlg->Button(ctl::APPFILE_BUTTON)->click();
    return image;
  }
  std::string VerdictText() const { return dlg->CurrentVerdict().text; }
  VerdictKind Kind() const { return dlg->CurrentVerdict().kind; }

  std::unique_ptr<CChildProcess> sim;
  std::string device;
};

