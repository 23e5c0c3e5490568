// tqupdater: the operator's window. Runs the main window until it closes.
#include "app/DumpApp.h"
#include "app/window/Automation.h"
#include "app/window/DialogBuilder.h"
#include "app/window/DumpDlg.h"
#include "app/window/WindowTimers.h"
#include "core/ConfigLocation.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv) {
  QApplication qapp(argc, argv);
  QApplication::setApplicationName(QStringLiteral("TqUpdater"));
  QApplication::setOrganizationName(QStringLiteral("MRQT"));
  QApplication::setWindowIcon(TqUpdaterIcon());

  CDumpApp app;
  const ConfigLocation config = LocateConfigForProcess("");
  app.SetConfigDir(config.dir);
  if (!config.problem.empty()) std::fprintf(stderr, "tqupdater: %s; using %s\n", config.problem.c_str(), config.dir.c_str());
  CQtPrompts realPrompts;
  std::unique_ptr<CWindowAutomation> automation = CWindowAutomation::FromEnvironment();
  CDumpDlg dlg(app, automation ? automation->Prompts() : static_cast<IWindowPrompts&>(realPrompts));
  if (automation) automation->Drive(dlg);
  dlg.exec();
  return 0;
}
