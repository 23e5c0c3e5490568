#include "app/window/Automation.h"

#include "core/Messages.h"
#include "app/window/DumpDlg.h"

#include <QComboBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <string>

std::unique_ptr<CWindowAutomation> CWindowAutomation::FromEnvironment() {
  const char* value = std::getenv("TQ_WINDOW_AUTORUN");
  if (!value) return nullptr;
  const QStringList parts = QString::fromLocal8Bit(value).split(QLatin1Char(':'));
  bool ok = false;
  const uint32_t length = parts.size() >= 3 ? parts[1].toUInt(&ok, 0) : 0;
  if (parts.size() < 3 || parts[0] != QLatin1String("dump") || !ok) {
    std::fprintf(stderr, "TQ_WINDOW_AUTORUN: expected dump:LENGTH:FILE\n");
    return nullptr;
  }
  return std::unique_ptr<CWindowAutomation>(new CWindowAutomation(length, parts.mid(2).join(QLatin1Char(':'))));
}

void CWindowAutomation::Drive(CDumpDlg& dlg) {
  QComboBox* act = dlg.List(ctl::ACT_LIST);
  const int dump = act->findText(QStringLiteral("Dump"));
  act->setCurrentIndex(dump >= 0 ? dump : 2);
  // The length in 4 KiB steps, as the three digit lists show it.
  const uint32_t pages = m_length / 4096;
  dlg.List(ctl::LENGTH1_LIST)->setCurrentIndex(static_cast<int>((pages >> 8) & 0xF));
  dlg.List(ctl::LENGTH2_LIST)->setCurrentIndex(static_cast<int>((pages >> 4) & 0xF));
  dlg.List(ctl::LENGTH3_LIST)->setCurrentIndex(static_cast<int>(pages & 0xF));
  dlg.Button(ctl::SAVEAS_BUTTON)->click();
  dlg.Button(ctl::OPEN_BUTTON)->click();
  // Link once the worker reports the port open.
  auto* poll = new QTimer(&dlg);
  QObject::connect(poll, &QTimer::timeout, &dlg, [&dlg, poll] {
    if (dlg.Button(ctl::OPEN_BUTTON)->text() != QLatin1String("Close")) return;
    poll->stop();
    dlg.Button(ctl::LINK_BUTTON)->click();
  });
  poll->start(100);
}

void CWindowAutomation::Message(QWidget*, const QString& text, const QString& caption) {
  std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
}

QString CWindowAutomation::OpenFile(QWidget*, const QString&) { return {}; }

QString CWindowAutomation::SaveFile(QWidget*, const QString&) { return m_file; }

bool CWindowAutomation::ConfirmStop(QWidget*) { return true; }
