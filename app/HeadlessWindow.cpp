#include "app/HeadlessWindow.h"

#include "core/Messages.h"
#include "core/View.h"

#include <algorithm>

CHeadlessWindow::CHeadlessWindow() : m_queue(std::make_shared<CMessageQueue>()) {
  m_id = RegisterMessageQueue(m_queue);
}

CHeadlessWindow::~CHeadlessWindow() {
  m_queue->Close();
  UnregisterMessageQueue(m_id);
}

void CHeadlessWindow::SetTimer(uint32_t id, uint32_t periodMs) {
  const auto period = std::chrono::milliseconds(periodMs == 0 ? 1 : periodMs);
  m_timers[id] = Timer{period, Clock::now() + period};
}

void CHeadlessWindow::KillTimer(uint32_t id) { m_timers.erase(id); }


bool CHeadlessWindow::PumpOne(Clock::time_point deadline) {
  // The earliest timer due, if it comes before the deadline.
  auto next = m_timers.end();
  for (auto it = m_timers.begin(); it != m_timers.end(); ++it)
    if (next == m_timers.end() || it->second.due < next->second.due) next = it;
  const auto wakeAt = next != m_timers.end() && next->second.due < deadline ? next->second.due : deadline;

  ThreadMessage msg;
  if (m_queue->TryGet(msg) || m_queue->GetUntil(msg, wakeAt)) {
    if (msg.message != 0 && onMessage) onMessage(msg);
    return true;
  }
  if (next != m_timers.end() && Clock::now() >= next->second.due) {
    const uint32_t id = next->first;
    // The next tick counts from this one; ticks missed while busy are not made up.
    next->second.due = std::max(next->second.due + next->second.period, Clock::now());
    if (onTimer) onTimer(id);
    return true;
  }
  return false;
}

void CHeadlessWindow::Wake() { m_queue->Post(ThreadMessage{}); }

void CHeadlessView::SetControlText(int id, const std::string& text) {
  std::lock_guard lock(m_mutex);
  m_texts[id] = text;
}

std::string CHeadlessView::GetControlText(int id) {
  std::lock_guard lock(m_mutex);
  auto it = m_texts.find(id);
  if (it != m_texts.end()) return it->second;
  return id == ctl::OPEN_BUTTON ? kCaptionOpen : std::string();
}

void CHeadlessView::EnableControl(int id, bool enable) {
  std::lock_guard lock(m_mutex);
  m_enabled[id] = enable;
}

bool CHeadlessView::IsEnabled(int id) {
  std::lock_guard lock(m_mutex);
  auto it = m_enabled.find(id);
  if (it != m_enabled.end()) return it->second;
  return id != ctl::LINK_BUTTON && id != ctl::CANCEL_BUTTON;  // the dialog's initial state
}

void CHeadlessView::PostWindowMessage(uint32_t msg, uint32_t wParam, int32_t lParam) {
  PostThreadMessage(m_windowId, msg, wParam, lParam);
}
