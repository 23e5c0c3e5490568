#include "app/window/WindowTimers.h"

#include <QFileDialog>
#include <QMessageBox>

void CWindowTimers::SetTimer(uint32_t id, uint32_t periodMs) {
  auto& timer = m_timers[id];
  if (!timer) {
    timer = std::make_unique<QTimer>();
    connect(timer.get(), &QTimer::timeout, this, [this, id] {
      if (onTick) onTick(id);
    });
  }
  // start() on a running timer starts its period again from now.
  timer->start(static_cast<int>(periodMs == 0 ? 1 : periodMs));
}

void CWindowTimers::KillTimer(uint32_t id) {
  auto it = m_timers.find(id);
  if (it != m_timers.end()) it->second->stop();
}

bool CWindowTimers::IsRunning(uint32_t id) const {
  auto it = m_timers.find(id);
  return it != m_timers.end() && it->second->isActive();
}

int CWindowTimers::Interval(uint32_t id) const { return IsRunning(id) ? m_timers.at(id)->interval() : 0; }

void CWindowTimers::KillAll() {
  for (auto& [id, timer] : m_timers) timer->stop();
}

void CQtPrompts::Message(QWidget* owner, const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, owner);
  box.exec();
}

QString CQtPrompts::OpenFile(QWidget* owner, const QString& filter) {
  return QFileDialog::getOpenFileName(owner, QObject::tr("Open"), QString(), filter);
}

QString CQtPrompts::SaveFile(QWidget* owner, const QString& filter) {
  return QFileDialog::getSaveFileName(owner, QObject::tr("Save As"), QString(), filter);
}

bool CQtPrompts::ConfirmStop(QWidget* owner) {
  QMessageBox box(QMessageBox::Question, QObject::tr("Update running"),
                  QObject::tr("An update is running. Stop it and close the window?"),
                  QMessageBox::Yes | QMessageBox::No, owner);
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}
