// Helpers for the window's tests: answers for the message boxes and file
// dialogs, an event pump that waits for a condition, and a fixture with its
// own config folder and application object.
#pragma once

#include "app/DumpApp.h"
#include "core/Messages.h"
#include "app/window/ConsoleBox.h"
#include "app/window/DumpDlg.h"
#include "app/window/WindowTimers.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <dirent.h>
#include <filesystem>
#include <functional>
#include <thread>
#include <unistd.h>

// Message boxes are recorded; file dialogs answer from a queue (empty: cancelled).
class CScriptedPrompts : public IWindowPrompts {
public:
  void Message(QWidget*, const QString& text, const QString& caption) override {
    messages.push_back((caption + ": " + text).toStdString());
  }
  QString OpenFile(QWidget*, const QString& filter) override { return Answer(filter); }
  QString SaveFile(QWidget*, const QString& filter) override { return Answer(filter); }
  bool ConfirmStop(QWidget*) override {
    ++stopQuestions;
    return stopAnswer;
  }

  std::deque<QString> answers;
  std::vector<std::string> messages;
  std::vector<QString> filters;
  bool stopAnswer = false;  // as the default button: keep running
  int stopQuestions = 0;

private:
  QString Answer(const QString& filter) {
    filters.push_back(filter);
    if (answers.empty()) return {};
    QString a = answers.front();
    answers.pop_front();
    return a;
  }
};

// Runs the window's events until the condition holds or the time is up.
inline bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

inline void Pump(std::chrono::milliseconds time) {
  WaitFor([] { return false; }, time);
}

inline int ThreadCount() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

// The names of this process's threads.
inline std::string ThreadNames() {
  std::string names;
  std::error_code ec;
  for (const auto& t : std::filesystem::directory_iterator("/proc/self/task", ec))
    names += TempDir::Read(t.path().string() + "/comm");
  return names;
}

// True while this process has a file descriptor open on the path.
inline bool HasOpenFile(const std::string& path) {
  std::error_code ec;
  const auto want = std::filesystem::weakly_canonical(path, ec);
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    std::error_code ec2;
    const auto target = std::filesystem::read_symlink(fd.path(), ec2);
    if (!ec2 && (target == want || target == path)) return true;
  }
  return false;
}

// The three digit lists' positions for a length or base in 4 KiB steps.
inline void SetDigits(CDumpDlg& dlg, const int (&ids)[3], uint32_t bytes) {
  const uint32_t pages = bytes / 4096;
  dlg.List(ids[0])->setCurrentIndex(static_cast<int>((pages >> 8) & 0xF));
  dlg.List(ids[1])->setCurrentIndex(static_cast<int>((pages >> 4) & 0xF));
  dlg.List(ids[2])->setCurrentIndex(static_cast<int>(pages & 0xF));
}
inline constexpr int kBaseLists[3] = {ctl::BASE1_LIST, ctl::BASE2_LIST, ctl::BASE3_LIST};
inline constexpr int kLengthLists[3] = {ctl::LENGTH1_LIST, ctl::LENGTH2_LIST, ctl::LENGTH3_LIST};

// The settings lists that Link disables and the stop sequence enables.
inline const std::vector<int> kSettingsLists = {
    ctl::CHIPMODEL_LIST, ctl::RAMTYPE_LIST, ctl::RAMSIZE_LIST, ctl::XTAL_LIST,     ctl::ACT_LIST,
    ctl::BASE1_LIST,     ctl::BASE2_LIST,   ctl::BASE3_LIST,   ctl::LENGTH1_LIST, ctl::LENGTH2_LIST,
    ctl::LENGTH3_LIST,   ctl::FLASHTYPE_LIST, ctl::FLASHMODEL_LIST};

enum class Column { PortClosed, PortOpen, UpdateRunning };

// Checks every control of the state table against one of its columns.
inline void ExpectColumn(CDumpDlg& dlg, Column column) {
  const bool closed = column == Column::PortClosed, running = column == Column::UpdateRunning;
  EXPECT_EQ(dlg.Button(ctl::OPEN_BUTTON)->text().toStdString(), closed ? "Open" : "Close");
  EXPECT_EQ(dlg.Button(ctl::OPEN_BUTTON)->isEnabled(), !running);
  EXPECT_EQ(dlg.List(ctl::PORT_LIST)->isEnabled(), closed);
  EXPECT_EQ(dlg.List(ctl::BAUD_LIST)->isEnabled(), closed);
  EXPECT_EQ(dlg.Button(ctl::LINK_BUTTON)->isEnabled(), column == Column::PortOpen);
  EXPECT_EQ(dlg.Button(ctl::CANCEL_BUTTON)->isEnabled(), !closed);
  for (int id : kSettingsLists) EXPECT_EQ(dlg.List(id)->isEnabled(), !running) << "list " << id;
  for (int id : {ctl::CLEAR_BUTTON, ctl::APPFILE_BUTTON, ctl::SAVEAS_BUTTON}) EXPECT_TRUE(dlg.Button(id)->isEnabled());
}

class WindowTest : public ::testing::Test {
protected:
  WindowTest() {
    std::filesystem::create_directory(ConfigDir());
    for (const char* f : {"boot.bin", "flash.bin"})
      std::filesystem::copy_file(std::string(TQ_BIN_DIR) + "/config/" + f, ConfigDir() + "/" + f);
    app.SetConfigDir(ConfigDir());
  }
  ~WindowTest() override {
    dlg.reset();
    QApplication::processEvents();
  }
  std::string ConfigDir() const { return dir.File("config"); }
  std::string CfgPath() const { return ConfigDir() + "/cfg.ini"; }
  void WriteCfg(const std::string& text) { dir.Write("config/cfg.ini", text); }
  // The sample cfg.ini, with COM1 mapped to the device when one is given.
  void WriteSampleCfg(const std::string& com1Device = {}) {
    std::string cfg = TempDir::Read(std::string(TQ_SOURCE_DIR) + "/config/cfg.ini");
    const std::string sample = "COM1=/dev/ttyUSB0";
    if (!com1Device.empty()) cfg.replace(cfg.find(sample), sample.size(), "COM1=" + com1Device);
    WriteCfg(cfg);
  }
  // The window, offering `systemPorts` (none unless a test names some) as
  // the machine's serial ports.
  CDumpDlg& Open() {
    dlg = std::make_unique<CDumpDlg>(app, prompts);
    dlg->SetPortLister([this] { return systemPorts; });
    return *dlg;
  }
  // Presses Open and waits for the worker's answer.
  bool OpenPort() {
    if (!WaitFor([&] { return app.m_dwWorkerThreadId.load() != 0; })) return false;
    dlg->Button(ctl::OPEN_BUTTON)->click();
    return WaitFor([&] { return PortOpenShown(); }, std::chrono::seconds(5));
  }
  // The worker's answer to an open or close request has been carried out in full.
  bool PortOpenShown() const {
    return dlg->Button(ctl::OPEN_BUTTON)->text() == "Close" && dlg->Button(ctl::CANCEL_BUTTON)->isEnabled() &&
           !dlg->List(ctl::STOPBITS_LIST)->isEnabled();
  }
  bool PortClosedShown() const {
    return dlg->Button(ctl::OPEN_BUTTON)->text() == "Open" && !dlg->Button(ctl::CANCEL_BUTTON)->isEnabled() &&
           dlg->List(ctl::STOPBITS_LIST)->isEnabled();
  }

  TempDir dir;
  CDumpApp app;
  CScriptedPrompts prompts;
  std::vector<SerialPortInfo> systemPorts;
  std::unique_ptr<CDumpDlg> dlg;
};
