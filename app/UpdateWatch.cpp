#include "app/UpdateWatch.h"

void CUpdateWatch::Notify() {
  if (m_notify) m_notify();
}

void CUpdateWatch::OnUpdateOutcome(UpdateOutcome outcome) {
  {
    std::lock_guard lock(m_mutex);
    m_reports.outcome = outcome;
  }
  Notify();
}

void CUpdateWatch::OnPortOpenResult(PortOpenResult result) {
  if (result == PortOpenResult::Opened) return;
  {
    std::lock_guard lock(m_mutex);
    m_reports.failedOpen = result;
  }
  Notify();
}

void CUpdateWatch::OnPortLost() {
  {
    std::lock_guard lock(m_mutex);
    m_reports.portLost = true;
  }
  Notify();
}

CUpdateWatch::Reports CUpdateWatch::Take() {
  std::lock_guard lock(m_mutex);
  Reports taken = m_reports;
  m_reports = Reports{};
  return taken;
}
