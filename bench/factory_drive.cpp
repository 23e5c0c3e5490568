// Drives the factory view as an operator would, for the factory benchmark
// and the screenshot script: programs IMAGE at 0x30000 into every PORT from the view
// of config folder CONFIG, then prints the run's wall time and this
// process's CPU time (the window's own, user+sys), how many boards passed and
// the longest the window's event loop went without turning (20 ms poll).
//
//   factory_drive CONFIG IMAGE [--report FILE] [--hold-ms N] PORT...
//
// --hold-ms keeps the view open that long after the run (for a picture).
#include "app/window/FactoryDlg.h"
#include "app/window/FactoryOpen.h"
#include "core/UpdateSettings.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

class CPrintedPrompts : public IWindowPrompts {
public:
  void Message(QWidget*, const QString& text, const QString& caption) override {
    std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
  }
  QString OpenFile(QWidget*, const QString&) override { return {}; }
  QString SaveFile(QWidget*, const QString&) override { return {}; }
  bool ConfirmStop(QWidget*) override { return true; }
};

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication qapp(argc, argv);
  if (argc < 4) {
    std::fprintf(stderr, "usage: factory_drive CONFIG IMAGE [--report FILE] [--hold-ms N] PORT...\n");
    return 2;
  }
  const std::string config = argv[1], image = argv[2];
  std::string report;
  int holdMs = 0;
  std::vector<std::string> ports;
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--report") == 0 && i + 1 < argc) report = argv[++i];
    else if (std::strcmp(argv[i], "--hold-ms") == 0 && i + 1 < argc) holdMs = std::atoi(argv[++i]);
    else ports.push_back(argv[i]);
  }
  CPrintedPrompts prompts;
  FactoryStart start = RememberedFactoryStart(config);
  start.model.m_sel.m_nActSel = ACT_PROGRAM;
  start.model.m_sel.m_nBaseSel = {0, 3, 0};  // 0x30000
  start.choices.image = image;
  CFactoryDlg view(prompts, std::move(start.model), start.choices, config);
  view.SetPortLister([] { return std::vector<SerialPortInfo>{}; });
  // A board left out would make a shorter run that still reads as one of all the boards.
  for (const auto& p : ports)
    if (!view.AddPort(p)) {
      std::fprintf(stderr, "factory_drive: the view refused the port \"%s\"\n", p.c_str());
      return 2;
    }
  view.ReportField()->setText(QString::fromStdString(report));
  view.show();
  view.TableView()->selectRow(0);  // its log in the pane below

  const double cpu0 = CpuSeconds();
  const auto t0 = std::chrono::steady_clock::now();
  double wall = 0, cpu = 0;
  if (!view.OnStartAll()) return 1;
  // The poll also measures how long the window's event loop went without turning: its longest gap.
  QTimer poll;
  auto lastTurn = std::chrono::steady_clock::now();
  double longestGapMs = 0;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    const auto turn = std::chrono::steady_clock::now();
    if (wall == 0) longestGapMs = std::max(longestGapMs, std::chrono::duration<double, std::milli>(turn - lastTurn).count());
    lastTurn = turn;
    if (view.Running() || wall > 0) return;
    wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    cpu = CpuSeconds() - cpu0;
    QTimer::singleShot(holdMs, &qapp, &QApplication::quit);
  });
  poll.start(20);
  qapp.exec();

  int passed = 0;
  for (size_t i = 0; i < view.Boards().Size(); ++i) passed += view.Boards().Row(i).state == BoardState::Passed;
  std::printf("boards %zu passed %d wall_s %.3f window_cpu_s %.3f exit %d longest_loop_gap_ms %.1f\n", ports.size(),
              passed, wall, cpu, view.LastExitStatus(), longestGapMs);
  return view.LastExitStatus() == 0 ? 0 : 1;
}
