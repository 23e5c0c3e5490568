// CPU cost of the window with its port open and nothing to do: the window's
// event loop, the worker and the port's monitor must all sleep. Opens the
// window on Qt's offscreen platform with COM1 mapped to a pseudo-terminal,
// presses Open, then prints the CPU time the whole process used while idle.
//
//   window_idle [idle seconds, default 10]
#include "app/DumpApp.h"
#include "core/Messages.h"
#include "app/window/DumpDlg.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <unistd.h>

namespace {

double CpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

class NoPrompts : public IWindowPrompts {
public:
  void Message(QWidget*, const QString& text, const QString&) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
  QString OpenFile(QWidget*, const QString&) override { return {}; }
  QString SaveFile(QWidget*, const QString&) override { return {}; }
  bool ConfirmStop(QWidget*) override { return true; }
};

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication qapp(argc, argv);
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("posix_openpt");
    return 1;
  }
  char folder[] = "/tmp/window_idle.XXXXXX";
  if (!mkdtemp(folder)) return 1;
  std::ofstream(std::string(folder) + "/cfg.ini") << "[COM]\nCOM1\n[BaudRate]\n115200\n[PortMap]\nCOM1=" << ptsname(master)
                                                  << "\n";
  CDumpApp app;
  app.SetConfigDir(folder);
  NoPrompts prompts;
  double before = 0;
  {
    CDumpDlg dlg(app, prompts);
    dlg.show();
    QTimer::singleShot(200, [&] { dlg.Button(ctl::OPEN_BUTTON)->click(); });
    QTimer::singleShot(1000, [&] {
      if (dlg.Button(ctl::OPEN_BUTTON)->text() != QLatin1String("Close")) {
        std::fprintf(stderr, "the port did not open\n");
        QApplication::exit(1);
      }
      before = CpuSeconds();
      QTimer::singleShot(seconds * 1000, [] { QApplication::exit(0); });
    });
    if (QApplication::exec() != 0) return 1;
    const double used = CpuSeconds() - before;
    std::printf("window with open idle port, %d s: %.6f CPU seconds (%.3f%% of a core)\n", seconds, used,
                used * 100.0 / seconds);
  }
  std::filesystem::remove_all(folder);
  close(master);
  return 0;
}
