// The window's two timers (ID_TIMER_WAIT, ID_TIMER_ACK) as Qt timers on the
// window's thread.
#pragma once

#include "app/DlgLogic.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

class CWindowTimers : public QObject, public IDlgTimers {
  Q_OBJECT
public:
  explicit CWindowTimers(QObject* parent = nullptr) : QObject(parent) {}

  void SetTimer(uint32_t id, uint32_t periodMs) override;
  void KillTimer(uint32_t id) override;
  bool IsRunning(uint32_t id) const;
  // Period of a running timer in ms, 0 when it does not run.
  int Interval(uint32_t id) const;
  void KillAll();

  std::function<void(uint32_t)> onTick;

private:
  std::map<uint32_t, std::unique_ptr<QTimer>> m_timers;
};

// The message boxes and file dialogs the window shows. Tests and automation
// put their own answers in place of the real dialogs.
class QWidget;
class QString;
class IWindowPrompts {
public:
  virtual ~IWindowPrompts() = default;
  // A warning box with an OK button.
  virtual void Message(QWidget* owner, const QString& text, const QString& caption) = 0;
  // The chosen path, empty when the user cancelled.
  virtual QString OpenFile(QWidget* owner, const QString& filter) = 0;
  // The chosen path, empty when the user cancelled; asks before overwriting.
  virtual QString SaveFile(QWidget* owner, const QString& filter) = 0;
  // Asks whether to stop the running update and close; true to stop. The
  // answer that is given by default keeps the update running.
  virtual bool ConfirmStop(QWidget* owner) = 0;
};

class CQtPrompts : public IWindowPrompts {
public:
  void Message(QWidget* owner, const QString& text, const QString& caption) override;
  QString OpenFile(QWidget* owner, const QString& filter) override;
  QString SaveFile(QWidget* owner, const QString& filter) override;
  bool ConfirmStop(QWidget* owner) override;
};
