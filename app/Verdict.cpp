#include "app/Verdict.h"

#include "core/UpdateSettings.h"

#include <cstdio>

namespace {

// The phases of each act, in the order the update reports progress for them.
const char* const kProgramPhases[] = {"sending the image", "erasing", "programming", "reading back"};

}  // namespace

bool CVerdict::UpdateRunning() const {
  return m_verdict.kind == VerdictKind::Waiting || m_verdict.kind == VerdictKind::Running;
}

void CVerdict::Set(VerdictKind kind, std::string text) {
  m_verdict.kind = kind;
  m_verdict.text = std::move(text);
}

void CVerdict::Start(int32_t act, bool readBack, int64_t totalBytes, Clock::time_point now) {
  m_act = act;
  m_readBack = readBack;
  m_total = totalBytes;
  m_phase = -1;
  m_phaseEnded = false;
  m_meter = CProgressMeter{};
  m_meter.Note(now);
  Set(VerdictKind::Waiting, "Waiting for the board: reset it now");
}

void CVerdict::BoardHeard(Clock::time_point now) {
  if (!UpdateRunning()) return;
  m_meter.Note(now);
  Set(VerdictKind::Running, "Running: starting the chip");
}

std::string CVerdict::PhaseName() const {
  if (m_act == ACT_PROGRAM || m_readBack) {
    const int last = m_readBack ? 3 : 2;
    return kProgramPhases[m_phase < last ? m_phase : last];
  }
  if (m_act == ACT_ERASE) return "erasing";
  if (m_act == ACT_DUMP) return "reading the flash";
  return "batch entry, part " + std::to_string(m_phase + 1);
}

void CVerdict::Progress(int32_t percent, Clock::time_point now) {
  if (!UpdateRunning()) return;
  // A value below the last one begins the act's next phase.
  if (m_phase < 0 || m_meter.StartsNewPhase(percent) || m_phaseEnded) {
    if (m_meter.Active()) m_meter.End(now);
    ++m_phase;
    m_phaseEnded = false;
    m_meter.Begin(m_total, now);
  }
  m_meter.Set(percent);
  m_lastFigures = m_meter.Figures(now);
  // The update repeats 100 when the act completes: that phase is over.
  if (percent >= 100) {
    m_lastFigures = m_meter.End(now);
    m_phaseEnded = true;
  }
  char text[32];
  std::snprintf(text, sizeof text, " %d%%", m_lastFigures.percent);
  Set(VerdictKind::Running, "Running: " + PhaseName() + text);
}

std::string CVerdict::OutcomeReason(UpdateOutcome outcome) {
  switch (outcome) {
    case UpdateOutcome::Completed: return "completed";
    case UpdateOutcome::RetryFailed: return "the chip refused ten times in a row";
    case UpdateOutcome::AckTimeout: return "the chip did not answer, ten times in a row";
    case UpdateOutcome::FileError: return "a file could not be read or written (see the log)";
    case UpdateOutcome::PortLost: return "the port went away";
    case UpdateOutcome::ActCutShort: return "the chip stopped before the end (was the board reset?)";
    case UpdateOutcome::Stopped: return "stopped before the next step began";
  }
  return "unknown ending";
}

void CVerdict::Ended(UpdateOutcome outcome, const std::optional<VerifyReport>& verify) {
  if (outcome != UpdateOutcome::Completed) {
    Set(VerdictKind::Failed, "Failed: " + OutcomeReason(outcome));
  } else if (verify && verify->result != VerifyResult::Same) {
    Set(VerdictKind::Failed, "Failed: " + VerifyLine(*verify));
  } else if (verify) {
    Set(VerdictKind::Done, "Done, verified");
  } else if (m_act == ACT_PROGRAM) {
    Set(VerdictKind::Done, "Done, not verified");
  } else {
    Set(VerdictKind::Done, "Done");
  }
}

void CVerdict::Cancelled() {
  if (UpdateRunning()) Set(VerdictKind::Failed, "Failed: stopped by the operator");
}

void CVerdict::Fail(const std::string& why) { Set(VerdictKind::Failed, "Failed: " + why); }

std::string CVerdict::MeterText(Clock::time_point now) const {
  if (m_phase < 0) return {};
  if (m_phaseEnded || !UpdateRunning()) return ::MeterText(m_lastFigures, true);
  return ::MeterText(m_meter.Figures(now), false);
}
