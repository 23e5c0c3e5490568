#include "app/ProgressMeter.h"

#include <algorithm>
#include <cstdio>

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

std::string MeterText(const PhaseFigures& f, bool ended) {
  char line[160];
  if (ended) {
    const double rate = f.seconds > 0 ? static_cast<double>(f.doneBytes) / f.seconds : 0.0;
    std::snprintf(line, sizeof line, "%lld B in %.2f s, %.2f KiB/s", static_cast<long long>(f.doneBytes), f.seconds,
                  rate / 1024.0);
    return line;
  }
  char left[32] = "--:--";
  if (f.secondsLeft) {
    const auto remain = static_cast<long>(*f.secondsLeft + 0.5);
    std::snprintf(left, sizeof left, "%ld:%02ld", remain / 60, remain % 60);
  }
  std::snprintf(line, sizeof line, "%lld/%lld B  %.1f KiB/s  %s left", static_cast<long long>(f.doneBytes),
                static_cast<long long>(f.totalBytes), f.bytesPerSecond / 1024.0, left);
  return line;
}
