#include "cli/CliSession.h"

#include "cli/CliOutput.h"
#include "cli/InterruptWatch.h"
#include "core/Config.h"
#include "app/DlgLogic.h"
#include "app/DumpApp.h"
#include "app/HeadlessWindow.h"
#include "core/Messages.h"
#include "core/Profile.h"
#include "core/SettingsModel.h"
#include "comm/UIThread.h"
#include "comm/FileAccess.h"

#include <atomic>
#include <cstdint>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// The dump path under which a verifying run keeps the read-back in memory.
constexpr const char* kVerifyPath = "\x01verify-read-back";

std::string JoinChoices(const std::vector<std::string>& entries) {
  std::string out;
  for (size_t i = 0; i < entries.size(); ++i) out += (i ? ", " : "") + std::to_string(i) + " \"" + entries[i] + "\"";
  return out.empty() ? "(none configured)" : out;
}

// Batch entries kept in memory (the read-back of --verify).
class CMemoryBatch : public IBatchSource {
public:
  explicit CMemoryBatch(std::vector<BatchEntry> entries) : m_entries(std::move(entries)) {}
  int32_t TotalNum() override { return static_cast<int32_t>(m_entries.size()); }
  BatchEntry Entry(int32_t index) override {
    if (index < 0 || static_cast<size_t>(index) >= m_entries.size()) return BatchEntry{};
    return m_entries[static_cast<size_t>(index)];
  }

private:
  std::vector<BatchEntry> m_entries;
};

class CMemorySink : public IDumpSink {
public:
  explicit CMemorySink(std::vector<uint8_t>& out) : m_out(out) { m_out.clear(); }
  bool Write(const uint8_t* data, size_t length, std::string&) override {
    m_out.insert(m_out.end(), data, data + length);
    return true;
  }
  bool Flush(std::string&) override { return true; }
  bool Close(std::string&) override { return true; }

private:
  std::vector<uint8_t>& m_out;
};

// Real files, except that the verify path reads back into memory.
class CCliFileAccess : public CPosixFileAccess {
public:
  std::unique_ptr<IDumpSink> CreateDump(const std::string& path, std::string& error) override {
    if (path == kVerifyPath) return std::make_unique<CMemorySink>(readBack);
    return CPosixFileAccess::CreateDump(path, error);
  }
  std::vector<uint8_t> readBack;  // worker thread only, read after it has ended
};

// The window's view for the command line: output goes to the terminal, the
// controls' state is kept for the window logic, and every change that the
// main loop waits for wakes it.
class CCliView : public CHeadlessView {
public:
  CCliView(CHeadlessWindow& window, CCliOutput& out) : CHeadlessView(window.Id()), m_window(window), m_out(out) {}
  void AppendLogLine(const std::string& text) override { m_out.LogLine(text); }
  void AppendConsoleChar(char ch) override { m_out.ConsoleChar(ch); }
  void SetControlText(int id, const std::string& text) override {
    CHeadlessView::SetControlText(id, text);
    m_window.Wake();
  }
  void ShowMessageBox(const std::string& text, const std::string& caption) override {
    m_out.Message(caption + ": " + text);
    if (text == "Can't open port!") portFailed = true;
    m_window.Wake();
  }
  std::atomic<bool> portFailed{false};

private:
  CHeadlessWindow& m_window;
  CCliOutput& m_out;
};

class CCliObserver : public IUpdateObserver {
public:
  explicit CCliObserver(CHeadlessWindow& window) : m_window(window) { Touch(); }
  void OnUpdateOutcome(UpdateOutcome outcome) override {
    m_outcome.store(static_cast<int>(outcome));
    m_window.Wake();
  }
  void OnBytesReceived(size_t) override { Touch(); }
  void Touch() { m_lastActivityNs.store(Clock::now().time_since_epoch().count()); }
  Clock::time_point LastActivity() const { return Clock::time_point(Clock::duration(m_lastActivityNs.load())); }
  std::optional<UpdateOutcome> Outcome() const {
    int v = m_outcome.load();
    if (v < 0) return std::nullopt;
    return static_cast<UpdateOutcome>(v);
  }

private:
  CHeadlessWindow& m_window;
  std::atomic<int> m_outcome{-1};
  std::atomic<Clock::rep> m_lastActivityNs{0};
};

// Everything about the update that the command line decides before the port is opened.
struct Plan {
  UpdateSettings settings;
  std::string devicePath;
  std::vector<BatchEntry> memoryBatch;  // --verify
  bool useMemoryBatch = false;
  int64_t progressTotal = 0;
};

// Fills the plan from the options and the configuration; a message and
// false for anything the user must fix. `status` says how to exit then: bad
// usage or configuration, or a file that cannot be read or written.
bool MakePlan(const CliOptions& o, CSettingsModel& model, CDlgLogic& logic, CDumpApp& app, Plan& plan,
              std::string& error, int& status) {
  status = EXIT_USAGE;
  auto choose = [&](const std::vector<std::string>& entries, const std::string& text, const char* what,
                    int32_t& sel) {
    if (text.empty()) return true;
    auto pos = ParseListChoice(entries, text);
    if (!pos) {
      error = std::string("unknown ") + what + " \"" + text + "\"; choices: " + JoinChoices(entries);
      return false;
    }
    sel = *pos;
    return true;
  };
  auto& sel = model.m_sel;
  if (!choose(model.m_chipModels, o.chip, "chip", sel.m_nChipModelSel) ||
      !choose(model.m_ramTypes, o.ramType, "RAM type", sel.m_nRamTypeSel) ||
      !choose(model.m_ramSizes, o.ramSize, "RAM size", sel.m_nRamSizeSel) ||
      !choose(model.m_xtals, o.xtal, "crystal", sel.m_nXtalSel))
    return false;
  if (!o.flashType.empty()) {
    if (EqualNoCase(o.flashType, "flash")) sel.m_nFlashTypeSel = 0;
    else if (EqualNoCase(o.flashType, "spi-flash")) sel.m_nFlashTypeSel = FLASH_TYPE_SPI;
    else {
      error = "unknown flash type \"" + o.flashType + "\"; choices: flash, spi-flash";
      return false;
    }
    model.OnFlashTypeChanged();
  }
  if (!choose(model.m_flashModels, o.flashModel, "flash model", sel.m_nFlashModelSel)) return false;

  // The line speed of the boot stages: an entry of the list, or any rate.
  if (!o.baud.empty()) {
    auto rate = ParseCliNumber(o.baud);
    if (!rate || *rate == 0) {
      error = "bad baud rate \"" + o.baud + "\"";
      return false;
    }
    const std::string text = std::to_string(*rate);
    auto pos = ParseListChoice(model.m_bauds, text);
    if (!pos || model.m_bauds[static_cast<size_t>(*pos)] != text) {
      model.m_bauds.push_back(text);  // in memory only: the command line never writes cfg.ini
      pos = static_cast<int32_t>(model.m_bauds.size() - 1);
    }
    sel.m_nBaudSel = *pos;
  }
  if (model.PortSettingsText().rfind(",", 0) == 0) {
    error = "no baud rate: cfg.ini has no BaudRate entry at the remembered position; use --baud";
    return false;
  }

  // The port: a device path, or a COM number mapped as the window maps it.
  if (!o.port.empty()) {
    if (o.port.find_first_of("/\\") != std::string::npos) {
      plan.devicePath = o.port;
      sel.m_nPortSel = 0;
    } else {
      std::string digits = o.port;
      if (digits.size() > 3 && EqualNoCase(digits.substr(0, 3), "COM")) digits = digits.substr(3);
      auto n = ParseCliNumber(digits);
      if (!n || *n < 1 || *n > 1024) {
        error = "bad port \"" + o.port + "\": give a device path, COMn or n (1 to 1024)";
        return false;
      }
      sel.m_nPortSel = static_cast<int32_t>(*n) - 1;
    }
  }

  UpdateSettings s = model.Capture(app.m_settings);
  if (o.command == "program") {
    auto base = ParseCliNumber(o.base);
    if (!base) {
      error = "bad BASE \"" + o.base + "\": decimal or 0x-hexadecimal, 32 bits";
      return false;
    }
    if (auto refusal = logic.ChooseAppFile(o.image)) {
      error = *refusal;
      if (app.m_settings.m_strAppFile.empty() && refusal->rfind("File cannot large", 0) != 0) status = EXIT_FAILED;
      return false;
    }
    s = model.Capture(app.m_settings);
    s.m_nBase = static_cast<int32_t>(*base);
    s.m_nLength = static_cast<int32_t>(app.m_settings.m_nAppFileSize);
    s.m_nAct = ACT_PROGRAM;
    plan.progressTotal = app.m_settings.m_nAppFileSize;
    if (o.verify) {
      plan.useMemoryBatch = true;
      plan.memoryBatch = {BatchEntry{ACT_PROGRAM, s.m_nBase, 0, o.image},
                          BatchEntry{ACT_DUMP, s.m_nBase, s.m_nLength, kVerifyPath}};
      // The act position stays "program" for the checks; the run itself is a batch.
    }
  } else if (o.command == "erase" || o.command == "dump") {
    auto base = ParseCliNumber(o.base);
    auto length = ParseCliNumber(o.length);
    if (!base || !length) {
      error = "bad " + std::string(!base ? "BASE \"" + o.base : "LENGTH \"" + o.length) +
              "\": decimal or 0x-hexadecimal, 32 bits";
      return false;
    }
    if (*length > static_cast<uint32_t>(INT32_MAX)) {
      error = "LENGTH \"" + o.length + "\" is too large: at most 0x7FFFFFFF";
      return false;
    }
    s.m_nBase = static_cast<int32_t>(*base);
    s.m_nLength = static_cast<int32_t>(*length);
    s.m_nAct = o.command == "erase" ? ACT_ERASE : ACT_DUMP;
    plan.progressTotal = *length;
    if (s.m_nAct == ACT_DUMP) {
      s.m_strDumpFile = o.dumpFile;
      // Check now that the file can be written, without emptying an existing one.
      std::filesystem::path p(o.dumpFile);
      std::error_code ec;
      const auto folder = p.has_parent_path() ? p.parent_path() : std::filesystem::path(".");
      if (o.dumpFile.empty() || std::filesystem::is_directory(p, ec) || !std::filesystem::is_directory(folder, ec) ||
          ::access(folder.string().c_str(), W_OK) != 0 || (std::filesystem::exists(p, ec) && ::access(p.string().c_str(), W_OK) != 0)) {
        error = "cannot write the dump file \"" + o.dumpFile + "\"";
        status = o.dumpFile.empty() ? EXIT_USAGE : EXIT_FAILED;
        return false;
      }
    }
  } else {  // batch
    s.m_nAct = ACT_BATCH;
  }
  if (auto failure = CheckLink("Close", s.m_nAct, s)) {
    std::string text = *failure;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    error = text;
    return false;
  }
  s.m_nFlashModel = model.FlashModelCode();
  if (plan.useMemoryBatch) s.m_nAct = ACT_BATCH;
  plan.settings = s;
  return true;
}

}  // namespace

std::optional<uint32_t> ParseCliNumber(const std::string& text) {
  if (text.empty()) return std::nullopt;
  int base = 10;
  size_t i = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    i = 2;
  }
  uint64_t v = 0;
  for (; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    int d;
    if (std::isdigit(c)) d = c - '0';
    else if (base == 16 && std::isxdigit(c)) d = std::tolower(c) - 'a' + 10;
    else return std::nullopt;
    v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    if (v > 0xFFFFFFFFull) return std::nullopt;
  }
  return static_cast<uint32_t>(v);
}

std::optional<int32_t> ParseListChoice(const std::vector<std::string>& entries, const std::string& text) {
  for (size_t i = 0; i < entries.size(); ++i)
    if (EqualNoCase(entries[i], text)) return static_cast<int32_t>(i);
  auto n = ParseCliNumber(text);
  if (n && *n < entries.size()) return static_cast<int32_t>(*n);
  return std::nullopt;
}

int RunCliSession(const CliOptions& o) {
  CDumpApp app;
  app.SetConfigDir(o.configDir.empty() ? app.m_strAppDir + "config" : o.configDir);
  const CConfigFile config = CConfigFile::InFolder(app.m_strConfigDir);

  CCliOutput out(o.quiet, ::isatty(STDERR_FILENO) == 1);
  if (!o.logFile.empty()) {
    std::string why;
    if (!out.OpenLogFile(o.logFile, why)) {
      out.Message("cannot open the log file " + o.logFile + ": " + why);
      return EXIT_USAGE;
    }
  }
  {
    struct stat st {};
    if (::stat(config.Path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      out.Message("no configuration file " + config.Path());
      return EXIT_USAGE;
    }
  }

  CHeadlessWindow window;
  CCliView view(window, out);
  CSettingsModel model(config);
  model.Load();
  CDlgLogic logic(app, model, view, window);

  Plan plan;
  std::string error;
  int refusal = EXIT_USAGE;
  if (!MakePlan(o, model, logic, app, plan, error, refusal)) {
    out.Message(error);
    return refusal;
  }
  logic.SetDevicePath(plan.devicePath);
  // The run ends with the update: its stop sequence must not open the port again.
  logic.SetReopenOnStop(false);
  logic.SetProgressHandler([&](int32_t percent) { out.Progress(percent, plan.progressTotal); });

  CCliFileAccess files;
  CConfigBatchSource configBatch(config);
  CMemoryBatch memoryBatch(plan.memoryBatch);
  CCliObserver observer(window);
  CInterruptWatch signals([&window] { window.Wake(); });

  int status = EXIT_FAILED;
  {
    CUIThread worker(UIThreadDeps{view, files,
                                  plan.useMemoryBatch ? static_cast<IBatchSource&>(memoryBatch) : configBatch,
                                  &observer, app.m_strConfigDir, &app.m_dwWorkerThreadId, nullptr});
    if (!worker.CreateThread()) {
      out.Message("cannot start the worker thread");
      return EXIT_FAILED;
    }
    bool endHandled = false;  // the window's answer to WM_UPDATE_END has run
    window.onMessage = [&](const ThreadMessage& m) {
      logic.OnWindowMessage(m.message, m.wParam, m.lParam);
      if (m.message == WM_UPDATE_END) endHandled = true;
    };
    window.onTimer = [&](uint32_t id) { logic.OnTimerTick(id); };

    // Open the port and wait for the worker's answer.
    logic.OnOpen();
    while (view.GetControlText(ctl::OPEN_BUTTON) != "Close" && !view.portFailed && !signals.interrupted)
      window.PumpOne(Clock::now() + std::chrono::seconds(1));

    if (signals.interrupted) {
      status = EXIT_INTERRUPTED;
    } else if (view.portFailed) {
      out.Message("cannot open the port " + (plan.devicePath.empty() ? "COM" + std::to_string(model.PortNumber())
                                                                     : plan.devicePath));
      status = EXIT_NO_PORT;
    } else {
      app.m_settings = plan.settings;
      observer.Touch();
      logic.StartUpdate();
      const auto timeout = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.timeoutSeconds));
      bool stopped = false;
      // Runs the window's stop sequence (stop the update, close the port) and ends the loop.
      auto stopWith = [&](int code, const std::string& why) {
        if (!why.empty()) out.Message(why);
        logic.OnStop();
        status = code;
        stopped = true;
      };
      while (!stopped) {
        const auto deadline = o.timeoutSeconds > 0 ? observer.LastActivity() + timeout : Clock::now() + std::chrono::hours(1);
        window.PumpOne(std::min(deadline, Clock::now() + std::chrono::hours(1)));
        if (auto outcome = observer.Outcome()) {
          // Let the window answer WM_UPDATE_END: its stop sequence closes the port.
          status = *outcome == UpdateOutcome::Completed ? EXIT_DONE : EXIT_FAILED;
          const auto limit = Clock::now() + std::chrono::seconds(5);
          while (!endHandled && Clock::now() < limit) window.PumpOne(limit);
          if (!endHandled) logic.OnStop();
          stopped = true;
        } else if (signals.interrupted) {
          stopWith(EXIT_INTERRUPTED, "interrupted");
        } else if (view.portFailed) {
          stopWith(EXIT_NO_PORT, "");
        } else if (view.GetControlText(ctl::OPEN_BUTTON) == "Open") {
          // The worker closed the port on its own: the device went away before
          // the update had begun to talk to it.
          stopWith(EXIT_FAILED, "the port went away");
        } else if (o.timeoutSeconds > 0 && Clock::now() >= observer.LastActivity() + timeout) {
          stopWith(EXIT_SILENT, "the chip sent nothing for " + std::to_string(static_cast<long>(o.timeoutSeconds)) +
                                    " s; giving up");
        }
      }
    }
    // The worker handles the stop and close requests, then ends; its port is closed.
    worker.StopThread();
  }
  out.Finish();

  if (status == EXIT_DONE && plan.useMemoryBatch) {
    std::vector<uint8_t> image(static_cast<size_t>(plan.settings.m_nLength));
    size_t got = 0;
    std::string why;
    if (!files.ReadAt(o.image, 0, image.data(), image.size(), got, why) || got != image.size()) {
      out.Message("verify: cannot read " + o.image + " again: " + why);
      return EXIT_FAILED;
    }
    const auto& back = files.readBack;
    size_t i = 0;
    while (i < image.size() && i < back.size() && image[i] == back[i]) ++i;
    if (i < image.size() || back.size() != image.size()) {
      char detail[160];
      if (i < image.size() && i < back.size())
        std::snprintf(detail, sizeof detail, "verify failed: first difference at offset 0x%zx (image 0x%02x, flash 0x%02x)",
                      i, image[i], back[i]);
      else
        std::snprintf(detail, sizeof detail, "verify failed: read back %zu of %zu bytes", back.size(), image.size());
      out.LogLine(detail);
      return EXIT_FAILED;
    }
    out.LogLine("verify ok.");
  }
  return status;
}
