// The window's status line: one verdict in words, made from the values the
// update and the worker report (never from the log's texts), and the
// figures of the running phase.
#pragma once

#include "app/ProgressMeter.h"
#include "app/ReadBack.h"
#include "core/View.h"

#include <cstdint>
#include <optional>
#include <string>

enum class VerdictKind { Ready, Waiting, Running, Done, Failed };

struct Verdict {
  VerdictKind kind = VerdictKind::Ready;
  std::string text = "Ready";
};

class CVerdict {
public:
  using Clock = CProgressMeter::Clock;

  const Verdict& Current() const { return m_verdict; }
  // Between Start and the end: the board is awaited or being worked on.
  bool UpdateRunning() const;

  // An update started: the act as sent, whether a read-back follows the
  // program, and the byte totals of its phases (image size, or the length).
  void Start(int32_t act, bool readBack, int64_t totalBytes, Clock::time_point now);
  // The chip asked for the update: the board answered its reset.
  void BoardHeard(Clock::time_point now);
  // A progress value of the update.
  void Progress(int32_t percent, Clock::time_point now);
  // The update ended on its own. `verify` is the read-back's comparison
  // when one ran.
  void Ended(UpdateOutcome outcome, const std::optional<VerifyReport>& verify);
  // The operator stopped it.
  void Cancelled();
  // The update failed or could not start: the port could not be opened,
  // went away, or the update ended without an outcome.
  void Fail(const std::string& why);

  // The figures beside the bar, empty before the first progress value.
  std::string MeterText(Clock::time_point now) const;

  // The status words of an update's end.
  static std::string OutcomeReason(UpdateOutcome outcome);

private:
  std::string PhaseName() const;
  void Set(VerdictKind kind, std::string text);

  Verdict m_verdict;
  int32_t m_act = 0;
  bool m_readBack = false;
  int64_t m_total = 0;
  int m_phase = -1;  // -1 until the first progress value
  bool m_phaseEnded = false;
  PhaseFigures m_lastFigures;
  CProgressMeter m_meter;
};
