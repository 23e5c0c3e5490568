// The simulated chip's timed behaviour: the boot loader's request and its
// repeats, the prompt of --chatter, and what a quiet line does to a block
// in progress or to a whole session.
#include "sim/ChipCore.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "update/Protocol.h"

namespace {
constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
constexpr int64_t kUsPerMs = 1000;

const char* StateName(CChipCore::State state) {
  switch (state) {
    case CChipCore::State::WaitSync: return "waiting for 0x18";
    case CChipCore::State::BootBlock: return "boot block";
    case CChipCore::State::Settings: return "chip settings";
    case CChipCore::State::LoaderLength: return "loader length";
    case CChipCore::State::LoaderBody: return "loader";
    case CChipCore::State::Frames: return "frames";
    case CChipCore::State::Dumping: return "dump";
    case CChipCore::State::Dead: return "dead";
    case CChipCore::State::Hung: return "hung";
    case CChipCore::State::Finished: return "finished";
  }
  return "?";
}
}  // namespace

// ---------------------------------------------------------------- time

void CChipCore::NoteTxDone(int64_t nowUs) { m_nLastTxUs = std::max(m_nLastTxUs, nowUs); }

bool CChipCore::BlockInProgress() const {
  switch (m_state) {
    case State::BootBlock:
    case State::Settings:
    case State::LoaderLength:
      return !m_byBlock.empty();
    case State::LoaderBody:
      return !m_byBlock.empty() || m_bDiscarding;
    case State::Frames:
      return !m_byFrame.empty() || m_bDiscarding;
    default:
      return false;
  }
}

bool CChipCore::Active() const {
  return m_state != State::WaitSync && m_state != State::Hung && m_state != State::Finished;
}

bool CChipCore::Chatters() const {
  return m_opt.m_nChatterMs > 0 &&
         (m_state == State::WaitSync || m_state == State::Hung || m_state == State::Dead);
}

void CChipCore::Chatter() {
  if (!Chatters() || m_nNowUs < m_nNextChatterUs) return;
  m_nNextChatterUs = m_nNowUs + m_opt.m_nChatterMs * kUsPerMs;
  if (m_nBacklog > 0) return;  // the last prompt is still unread
  EmitText("boot> ");
}

int64_t CChipCore::NextDeadline() const {
  const int64_t timed = ProtocolDeadline();
  if (!Chatters()) return timed;
  return timed < 0 ? m_nNextChatterUs : std::min(timed, m_nNextChatterUs);
}

int64_t CChipCore::ProtocolDeadline() const {
  if (m_state == State::WaitSync) return m_nNextRequestUs == kNever ? -1 : m_nNextRequestUs;
  if (!Active()) return -1;
  if (BlockInProgress()) return LastActivity() + m_opt.m_nRxTimeoutMs * kUsPerMs;
  if (m_state == State::Frames && m_expect == Expect::Control) return LastActivity() + m_opt.m_nEndIdleMs * kUsPerMs;
  if (m_opt.m_nHangIdleMs > 0) return LastActivity() + m_opt.m_nHangIdleMs * kUsPerMs;
  return -1;
}

void CChipCore::Advance(int64_t nowUs) {
  m_nNowUs = nowUs;
  Chatter();
  if (m_state == State::WaitSync) {
    if (nowUs >= m_nNextRequestUs) SendRequest();
    return;
  }
  if (!Active()) return;
  const int64_t quiet = nowUs - LastActivity();
  if (BlockInProgress()) {
    if (quiet >= m_opt.m_nRxTimeoutMs * kUsPerMs) OnQuietBlock();
  } else if (m_state == State::Frames && m_expect == Expect::Control) {
    if (quiet >= m_opt.m_nEndIdleMs * kUsPerMs) EndSession("the host sent no further control info");
  } else if (m_opt.m_nHangIdleMs > 0 && quiet >= m_opt.m_nHangIdleMs * kUsPerMs) {
    char reason[96];
    std::snprintf(reason, sizeof reason, "abandoned, the line stayed quiet in state '%s'", StateName(m_state));
    EndSession(reason);
  }
}

void CChipCore::SendRequest() {
  const int64_t next = m_opt.m_nRepeatMs > 0 ? m_nNowUs + m_opt.m_nRepeatMs * kUsPerMs : kNever;
  if (m_nRequestsSent > 0 && m_nBacklog > 0) {
    if (m_log.Verbose()) Log("request not repeated: the last one is still unread");
    m_nNextRequestUs = next;
    return;
  }
  m_nNextRequestUs = next;
  if (Intercept(SimStage::Request)) return;
  Emit(BYTE_ACK);
  ++m_nRequestsSent;
  if (m_nRequestsSent == 1 || m_log.Verbose()) Log("request 'X' sent (%d)", m_nRequestsSent);
}

// A block stopped arriving part way, or a refused block has been swallowed.
void CChipCore::OnQuietBlock() {
  const bool discarded = m_bDiscarding;
  m_bDiscarding = false;
  switch (m_state) {
    case State::BootBlock:
      Reject("short boot block: %zu of %zu bytes", m_byBlock.size(), BOOT_BLOCK_SIZE);
      m_byBlock.clear();
      break;
    case State::Settings:
      Fail("short chip settings: %zu of %zu bytes; the download cannot go on", m_byBlock.size(), CHIP_SETTINGS_SIZE);
      m_state = State::Dead;
      break;
    case State::LoaderLength:
      Fail("short loader length: %zu of %zu bytes; the download cannot go on", m_byBlock.size(), LOADER_LENGTH_SIZE);
      m_state = State::Dead;
      break;
    case State::LoaderBody:
      if (m_bLoaderBad) {
        // The failure was counted when the length came.
        Log("loader refused, its length was wrong -> 'Y'");
        Emit(BYTE_NAK);
      } else {
        Reject("short loader: %zu of %u bytes", m_byBlock.size(), m_nLoaderLength);
      }
      m_byBlock.clear();
      break;
    case State::Frames:
      if (discarded) {
        Log("broken frame swallowed -> 'Y'");
        Emit(BYTE_NAK);
      } else {
        Reject("short frame: %zu bytes, the header promised %zu", m_byFrame.size(),
               m_byFrame.size() >= 4 ? ((size_t{m_byFrame[2]} << 8 | m_byFrame[3]) + FRAME_OVERHEAD) : FRAME_OVERHEAD);
      }
      m_byFrame.clear();
      break;
    default:
      break;
  }
}
