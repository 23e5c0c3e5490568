#include "cli/CliProgressMeter.h"

#include <algorithm>

void CProgressMeter::Note(Clock::time_point when) {
  if (!m_lastEvent || when > *m_lastEvent) m_lastEvent = when;
}

void CProgressMeter::Begin(int64_t totalBytes, Clock::time_point now) {
  m_active = true;
  m_total = std::max<int64_t>(totalBytes, 0);
  m_percent = 0;
  m_start = m_lastEvent && *m_lastEvent <= now ? *m_lastEvent : now;
}

void CProgressMeter::Set(int32_t percent) { m_percent = std::clamp(percent, 0, 100); }

PhaseFigures CProgressMeter::Figures(Clock::time_point now) const {
  PhaseFigures f;
  f.percent = m_percent;
  f.totalBytes = m_total;
  f.doneBytes = m_total * m_percent / 100;
  f.seconds = std::max(0.0, std::chrono::duration<double>(now - m_start).count());
  // Below a tenth of a second the figure says more about the clock than the line.
  if (f.seconds >= 0.1 && f.doneBytes > 0) {
    f.bytesPerSecond = static_cast<double>(f.doneBytes) / f.seconds;
    f.secondsLeft = static_cast<double>(f.totalBytes - f.doneBytes) / f.bytesPerSecond;
  }
  return f;
}

PhaseFigures CProgressMeter::End(Clock::time_point now) {
  const PhaseFigures f = Figures(now);
  m_active = false;
  // The next phase begins no earlier than this one ended.
  Note(now);
  return f;
}
