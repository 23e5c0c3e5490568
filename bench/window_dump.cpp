// CPU cost of the window during a dump: the window on Qt's offscreen
// platform dumps KiB of flash from chipsim paced at 115200 baud, through its
// own controls (Open, SaveAs, the act and range lists, Link), and prints the
// CPU time the whole process (window, worker and port monitor) used from
// Link to the end of the update, with its share of one core, and whether the
// file holds the flash's bytes. chipsim and config/ are taken from beside
// this program.
//
//   window_dump [KiB, default 256]
#include "app/DumpApp.h"
#include "app/window/DumpDlg.h"
#include "core/Messages.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

double CpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class SavePrompts : public IWindowPrompts {
public:
  explicit SavePrompts(std::string path) : m_path(std::move(path)) {}
  void Message(QWidget*, const QString& text, const QString&) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
  QString OpenFile(QWidget*, const QString&) override { return {}; }
  QString SaveFile(QWidget*, const QString&) override { return QString::fromStdString(m_path); }

private:
  std::string m_path;
};

// Starts chipsim on a flash file; returns its pid and device path.
pid_t StartSim(const fs::path& chipsim, const fs::path& folder, std::string& device) {
  const std::string out = (folder / "sim.out").string();
  const std::string flash = (folder / "flash.img").string();
  const std::string exe = chipsim.string();
  std::vector<std::string> args{exe, "--flash-file", flash, "--baud", "115200", "--repeat", "50", "--config",
                                folder.string()};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return 0;
  for (int i = 0; i < 100 && device.empty(); ++i) {
    usleep(50'000);
    std::ifstream in(out);
    std::getline(in, device);
  }
  return pid;
}

}  // namespace

int main(int argc, char** argv) {
  const uint32_t kib = argc > 1 ? static_cast<uint32_t>(std::max(4, std::atoi(argv[1]))) : 256;
  const uint32_t bytes = kib / 4 * 4096;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication qapp(argc, argv);
  const fs::path here = fs::canonical("/proc/self/exe").parent_path();
  char name[] = "/tmp/window_dump.XXXXXX";
  if (!mkdtemp(name)) return 1;
  const fs::path folder = name;
  for (const char* f : {"boot.bin", "flash.bin"}) fs::copy_file(here / "config" / f, folder / f);
  std::string flash(bytes, '\0');
  std::mt19937 rng(7);
  for (auto& c : flash) c = static_cast<char>(rng());
  std::ofstream(folder / "flash.img", std::ios::binary) << flash;

  std::string device;
  const pid_t sim = StartSim(here / "chipsim", folder, device);
  if (sim == 0 || device.empty()) {
    std::fprintf(stderr, "chipsim did not start\n");
    return 1;
  }
  std::string cfg = ReadAll(here / "config" / "cfg.ini");
  const std::string sample = "COM1=/dev/ttyUSB0";
  if (const auto at = cfg.find(sample); at != std::string::npos) cfg.replace(at, sample.size(), "COM1=" + device);
  std::ofstream(folder / "cfg.ini") << cfg;

  CDumpApp app;
  app.SetConfigDir(folder.string());
  const std::string dumpPath = (folder / "back.bin").string();
  SavePrompts prompts(dumpPath);
  double cpuAtLink = 0;
  auto wallAtLink = std::chrono::steady_clock::now();
  int status = 1;
  {
    CDumpDlg dlg(app, prompts);
    dlg.show();
    QTimer::singleShot(300, [&] { dlg.Button(ctl::OPEN_BUTTON)->click(); });
    QTimer::singleShot(1500, [&] {
      if (dlg.Button(ctl::OPEN_BUTTON)->text() != QLatin1String("Close")) {
        std::fprintf(stderr, "the port did not open\n");
        QApplication::exit(1);
        return;
      }
      dlg.Button(ctl::SAVEAS_BUTTON)->click();
      dlg.List(ctl::ACT_LIST)->setCurrentIndex(2);
      const uint32_t pages = bytes / 4096;
      const int base[3] = {ctl::BASE1_LIST, ctl::BASE2_LIST, ctl::BASE3_LIST};
      const int length[3] = {ctl::LENGTH1_LIST, ctl::LENGTH2_LIST, ctl::LENGTH3_LIST};
      for (int i = 0; i < 3; ++i) {
        dlg.List(base[i])->setCurrentIndex(0);
        dlg.List(length[i])->setCurrentIndex(static_cast<int>((pages >> (8 - 4 * i)) & 0xF));
      }
      cpuAtLink = CpuSeconds();
      wallAtLink = std::chrono::steady_clock::now();
      dlg.Button(ctl::LINK_BUTTON)->click();
    });
    QTimer done;
    QObject::connect(&done, &QTimer::timeout, [&] {
      const auto lines = dlg.LogLines();
      const bool ended = std::find(lines.begin(), lines.end(), "\ncompelete.") != lines.end();
      if (ended && dlg.Button(ctl::OPEN_BUTTON)->text() == QLatin1String("Open")) QApplication::exit(0);
      if (std::chrono::steady_clock::now() - wallAtLink > std::chrono::seconds(kib + 60)) {
        std::fprintf(stderr, "the dump did not end\n");
        QApplication::exit(1);
      }
    });
    done.start(100);
    status = QApplication::exec();
  }
  const double cpu = CpuSeconds() - cpuAtLink;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallAtLink).count();
  kill(sim, SIGTERM);
  waitpid(sim, nullptr, 0);
  const bool exact = ReadAll(dumpPath) == flash;
  fs::remove_all(folder);
  if (status != 0) return status;
  std::printf("window, %u KiB dump at 115200 baud: %.3f CPU s in %.2f s wall (%.3f%% of a core), byte-exact: %s\n",
              kib, cpu, wall, cpu * 100.0 / wall, exact ? "yes" : "no");
  return exact ? 0 : 1;
}
