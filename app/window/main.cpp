// tqupdater: the operator's window. Runs the main window until it closes;
// `tqupdater --factory` opens the factory view on its own instead.
#include "app/DumpApp.h"
#include "app/window/Automation.h"
#include "app/window/DialogBuilder.h"
#include "app/window/DumpDlg.h"
#include "app/window/FactoryDlg.h"
#include "app/window/FactoryOpen.h"
#include "app/window/WindowTimers.h"
#include "core/ConfigLocation.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kUsage = "usage: tqupdater [--factory]\n";

int RunFactory(const std::string& configDir) {
  CQtPrompts prompts;
  FactoryStart start = RememberedFactoryStart(configDir);
  CFactoryDlg factory(prompts, std::move(start.model), start.choices, configDir);
  factory.exec();
  // Scripts that open the view learn how its last run ended, in the command
  // line's statuses: 0 only when every board's bytes were right.
  const int status = factory.LastExitStatus();
  return status < 0 ? 0 : status;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication qapp(argc, argv);  // takes Qt's own options out of argv
  bool factory = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--factory") == 0) {
      factory = true;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else {
      std::fprintf(stderr, "tqupdater: unknown argument \"%s\"\n%s", argv[i], kUsage);
      return 2;
    }
  }
  QApplication::setApplicationName(QStringLiteral("TqUpdater"));
  QApplication::setOrganizationName(QStringLiteral("MRQT"));
  QApplication::setWindowIcon(TqUpdaterIcon());

  CDumpApp app;
  const ConfigLocation config = LocateConfigForProcess("");
  app.SetConfigDir(config.dir);
  if (!config.problem.empty()) std::fprintf(stderr, "tqupdater: %s; using %s\n", config.problem.c_str(), config.dir.c_str());
  if (factory) return RunFactory(app.m_strConfigDir);
  CQtPrompts realPrompts;
  std::unique_ptr<CWindowAutomation> automation = CWindowAutomation::FromEnvironment();
  CDumpDlg dlg(app, automation ? automation->Prompts() : static_cast<IWindowPrompts&>(realPrompts));
  if (automation) automation->Drive(dlg);
  dlg.exec();
  return 0;
}
