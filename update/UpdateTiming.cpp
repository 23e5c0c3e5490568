// The engine and time: waits that give way to a stop, the stop that lets
// the block in flight finish but begins nothing new, the boot loader's
// request told from an 'X' inside a stream of other bytes, and the line's
// measured rate behind the acknowledge time-out, and that time-out.
#include <algorithm>

#include "core/Messages.h"
#include "update/Protocol.h"
#include "update/UpdateEngine.h"
#include "UpdateText.h"

namespace {
// A request is an 'X' followed by nothing but further 'X' (a boot loader
// repeats itself while it waits) for this long. Longer than the gaps a USB
// adapter leaves in a stream (up to 16 ms), so that an 'X' at the end of
// one of its bursts is not taken for a request.
constexpr uint64_t kRequestQuietMs = 30;
// For this long after an 'X' was seen inside other bytes (a chip still
// streaming a dump), a lone 'X' may be that stream's last byte before the
// chip waits: only a repeat of it makes a request.
constexpr uint64_t kStreamMemoryMs = 1000;

// Blocks smaller than this are dominated by the chip's answer time, not the
// line's: they tell nothing of its rate.
constexpr int64_t kMinTimedBytes = 1024;
// The acknowledge period: twice the chunk's time at the slowest rate seen,
// plus a margin; never below the prescribed period, never above the cap.
constexpr uint64_t kAckMarginMs = 1000;
constexpr uint64_t kAckCapMs = 120000;
constexpr int32_t kAckTimeoutLimit = 10;

// A tick of the acknowledge timer that reaches us sooner than this after the
// timer was last (re)started was already queued before the restart: the
// window's timer cannot expire earlier than its period.
constexpr uint64_t kAckStaleMarginMs = 200;
}  // namespace

// ---------------------------------------------------------------- stops

bool CUpdateEngine::Pause(uint32_t milliseconds) {
  const auto stopWaiting = [this] { return m_deps.stop != nullptr && m_deps.stop->StopWaiting(); };
  if (m_deps.clock.WaitOrStop(milliseconds, stopWaiting)) return true;
  // The stop that waits would find the step half done: it ends here, as
  // the stop itself ends an update.
  OnUpdateStop();
  return false;
}

bool CUpdateEngine::StopsBefore(const char* next) {
  if (m_deps.stop == nullptr || !m_deps.stop->WindingDown()) return false;
  Log(FormatText("\nstopped before %s.", next));
  EndUpdate(UpdateOutcome::Stopped);
  return true;
}

// ---------------------------------------------------------------- quiet line

void CUpdateEngine::OnRequestByte(uint8_t byte) {
  const uint64_t now = m_deps.clock.NowMs();
  if (byte == BYTE_ACK) {
    // An 'X' long after the last is a request of its own, not a repeat.
    if (!m_bRequestPending || now - m_nRequestLastMs >= kStreamMemoryMs) {
      m_bRequestPending = true;
      m_nRequestAtMs = now;
      m_nRequestXs = 0;
    }
    ++m_nRequestXs;
    m_nRequestLastMs = now;
    return;
  }
  if (m_bRequestPending) {
    m_bRequestPending = false;
    // Other bytes right behind it: the 'X' was part of a stream. (Text
    // long after it, a banner of a chip reset since, says nothing of it.)
    if (now - m_nRequestLastMs < kRequestQuietMs) {
      m_bStreamSeen = true;
      m_nStreamAtMs = now;
    }
  }
  HandleByte(byte);
}

void CUpdateEngine::SettleAfterQuiet() {
  if (m_bDumpClosing && m_nStage == STAGE_DUMP) SettleDumpEnd();
  else if (m_bRequestPending && m_nStage == STAGE_WAIT_REQUEST) SettleRequest();
}

void CUpdateEngine::SettleRequest() {
  const uint64_t since = m_deps.clock.NowMs() - m_nRequestAtMs;
  const bool afterStream = m_bStreamSeen && m_nRequestAtMs - m_nStreamAtMs < kStreamMemoryMs;
  // It stays a candidate: a repeat makes it a request, other bytes end it.
  if (afterStream && m_nRequestXs < 2) return;
  // Bytes (or a stop) came within the window: judged when they are read.
  if (since < kRequestQuietMs && m_deps.port.InputWithin(static_cast<uint32_t>(kRequestQuietMs - since))) return;
  m_bRequestPending = false;
  HandleByte(BYTE_ACK);
}

// ---------------------------------------------------------------- timers

void CUpdateEngine::OnUpdateTick(uint32_t timerId) {
  if (timerId == ID_TIMER_WAIT) {
    Console('>');
    return;
  }
  if (timerId != ID_TIMER_ACK) return;

  // The acknowledge timer guards an image chunk in flight, or the quiet
  // after a lone 'Y' at the start of a dump. A tick that was queued before
  // the chunk was acknowledged (timer stopped, or restarted for the next
  // chunk) belongs to a period that is over.
  const bool dumpNak = m_nStage == STAGE_DUMP && m_bDumpNakPending;
  if ((m_nStage != STAGE_APP_IMAGE && !dumpNak) || !m_bAckTimerArmed) return;
  const uint64_t now = m_deps.clock.NowMs();
  const uint64_t elapsed = now >= m_nAckArmedAtMs ? now - m_nAckArmedAtMs : 0;
  if (elapsed + kAckStaleMarginMs < static_cast<uint64_t>(m_nAckPeriodMs)) return;

  if (dumpNak) {
    // Nothing followed the 'Y': the chip refused the dump command.
    m_bDumpNakPending = false;
    PostTimer(ID_TIMER_ACK, 0);
    HandleByte(BYTE_NAK);
    return;
  }
  if (m_bAckWaitsForOutput) {
    // The chunk was still leaving the host: its time starts once it is out.
    if (m_deps.port.OutputQueued() == 0) PostTimer(ID_TIMER_ACK, AckPeriodFor(m_nAppChunk + FRAME_OVERHEAD));
    return;
  }
  OnAckTimeout();
}

void CUpdateEngine::OnAckTimeout() {
  ++m_nAckTimeouts;
  if (m_nAckTimeouts < kAckTimeoutLimit) {
    SendStageBlock();
    // A resend that failed (the image can no longer be read) has ended the
    // update: there is no retry to report.
    if (m_nStage != STAGE_IDLE) Log(FormatText("Ack TimerOut %d Times", m_nAckTimeouts));
    return;
  }
  m_nAckTimeouts = 0;
  EndUpdate(UpdateOutcome::AckTimeout);
  Log("Ack TimerOut Retry Failed");
}

void CUpdateEngine::OnOutputDrained() {
  if (m_nStage != STAGE_APP_IMAGE || !m_bAckTimerArmed || !m_bAckWaitsForOutput) return;
  if (m_deps.port.OutputQueued() > 0) return;  // the driver still sends it
  PostTimer(ID_TIMER_ACK, AckPeriodFor(m_nAppChunk + FRAME_OVERHEAD));
}

void CUpdateEngine::ArmAckTimer() {
  // Never less than the prescribed period; longer on a line measured slower
  // than its setting, so that only a chunk really lost is sent again.
  PostTimer(ID_TIMER_ACK, AckPeriodFor(m_nAppChunk + FRAME_OVERHEAD));
  // On a line slower than its setting a 4 KiB chunk can take longer than
  // the timer's period to leave: a time-out then would send it twice.
  m_bAckWaitsForOutput = m_deps.port.OutputQueued() > 0;
}

// ---------------------------------------------------------------- line rate

void CUpdateEngine::StartLineTiming(int64_t bytes) {
  m_nTimedAtMs = m_deps.clock.NowMs();
  m_nTimedBytes = bytes;
}

void CUpdateEngine::NoteLineRate() {
  const int64_t bytes = m_nTimedBytes;
  m_nTimedBytes = 0;
  if (bytes < kMinTimedBytes) return;
  const uint64_t ms = std::max<uint64_t>(1, m_deps.clock.NowMs() - m_nTimedAtMs);
  // Keeps the slowest: bytes / ms below m_nRateBytes / m_nRateMs.
  if (m_nRateBytes == 0 ||
      static_cast<uint64_t>(bytes) * m_nRateMs < static_cast<uint64_t>(m_nRateBytes) * ms) {
    m_nRateBytes = bytes;
    m_nRateMs = ms;
  }
}

uint64_t CUpdateEngine::LineMsFor(int64_t bytes) const {
  const auto n = static_cast<uint64_t>(std::max<int64_t>(bytes, 0));
  const uint64_t nominal = n * 10 * 1000 / LOADER_BAUD;  // ten bits a byte
  if (m_nRateBytes <= 0) return nominal;
  return std::max(nominal, n * m_nRateMs / static_cast<uint64_t>(m_nRateBytes));
}

int32_t CUpdateEngine::AckPeriodFor(int64_t bytes) const {
  const auto prescribed = static_cast<uint64_t>(TIMER_ACK_PERIOD_MS);
  if (m_nRateBytes <= 0) return TIMER_ACK_PERIOD_MS;
  return static_cast<int32_t>(std::clamp(2 * LineMsFor(bytes) + kAckMarginMs, prescribed, kAckCapMs));
}
