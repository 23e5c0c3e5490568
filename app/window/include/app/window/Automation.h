// A hook for scripts that show the window at work (scripts/window-shot.sh):
// with TQ_WINDOW_AUTORUN=dump:LENGTH:FILE set, the window chooses act
// "Dump", the length, FILE as the dump file, opens the port and presses
// Link, as an operator would. Message boxes are printed to stderr instead.
#pragma once

#include "app/window/WindowTimers.h"

#include <QString>

#include <memory>

class CDumpDlg;

class CWindowAutomation : private IWindowPrompts {
public:
  // Nothing when the variable is not set or cannot be read.
  static std::unique_ptr<CWindowAutomation> FromEnvironment();

  IWindowPrompts& Prompts() { return *this; }
  void Drive(CDumpDlg& dlg);

private:
  CWindowAutomation(uint32_t length, QString file) : m_length(length), m_file(std::move(file)) {}
  void Message(QWidget* owner, const QString& text, const QString& caption) override;
  QString OpenFile(QWidget* owner, const QString& filter) override;
  QString SaveFile(QWidget* owner, const QString& filter) override;
  bool ConfirmStop(QWidget* owner) override;

  uint32_t m_length;
  QString m_file;
};
