// The progress of one board, phase by phase (image upload, erase, program,
// dump or read-back), with figures that never claim more than happened.
//
// The update reports whole percents of the phase's byte total, posted when
// the chip has acknowledged (or, for a dump, sent) the bytes. The bytes
// counted are the lower bound of the percent shown, and a phase is timed
// from the board's last event before its first value (the log line or the
// end of the phase before), which is no later than its first byte. The rate
// is therefore never above what the line carried.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

struct PhaseFigures {
  int32_t percent = 0;
  int64_t doneBytes = 0;
  int64_t totalBytes = 0;
  double seconds = 0;
  double bytesPerSecond = 0;             // 0 until time has passed
  std::optional<double> secondsLeft;     // once there is a rate
};

class CProgressMeter {
public:
  using Clock = std::chrono::steady_clock;

  // Something happened on the board (a log line, a message).
  void Note(Clock::time_point when);
  bool Active() const { return m_active; }
  // Starts a phase of `totalBytes` with its first value.
  void Begin(int64_t totalBytes, Clock::time_point now);
  // A later value of the running phase.
  void Set(int32_t percent);
  // True when the value belongs to a phase after the running one (it went back).
  bool StartsNewPhase(int32_t percent) const { return m_active && percent < m_percent; }
  PhaseFigures Figures(Clock::time_point now) const;
  // Ends the running phase; its figures as they stand.
  PhaseFigures End(Clock::time_point now);

private:
  bool m_active = false;
  int32_t m_percent = 0;
  int64_t m_total = 0;
  Clock::time_point m_start{};
  std::optional<Clock::time_point> m_lastEvent;
};

// The figures beside a running bar: "104856/262144 B  11.1 KiB/s  0:14 left";
// once the phase has ended: "262144 B in 23.42 s, 10.93 KiB/s".
std::string MeterText(const PhaseFigures& f, bool ended);
