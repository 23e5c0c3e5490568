#include "sim/SimRunner.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

constexpr int64_t kNsPerUs = 1000;
// Bytes due this close to now go out in the same write, as a UART hands on
// what its FIFO holds: about 11 bytes a write at 115200 baud. It keeps
// wake-ups down (16 simulated chips share two cores) without letting the
// line run ahead of its rate by more than that.
constexpr int64_t kSlackNs = 1000 * kNsPerUs;
constexpr int64_t kMaxSleepNs = 50'000 * kNsPerUs;
// How long a vanishing chip lets the host take what was already sent.
constexpr int64_t kVanishGraceNs = 1'000'000 * kNsPerUs;

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

int64_t SimNowUs() { return NowNs() / kNsPerUs; }

CSimRunner::CSimRunner(CChipCore& core, CPtyDevice& device, const SimOptions& options, CSimLog& log)
    : m_core(core), m_device(device), m_opt(options), m_log(log) {}

int64_t CSimRunner::ByteTimeNs() const {
  const int baud = m_opt.m_bBaudFromLine ? m_device.LineBaud() : m_opt.m_nBaud;
  return baud > 0 ? 10'000'000'000LL / baud : 0;
}

void CSimRunner::Run(const std::atomic<bool>& stop, std::atomic<bool>* reset) {
  m_core.Start(NowNs() / kNsPerUs);
  while (!stop.load()) {
    const int64_t now = NowNs();
    NoteLineEvents(now, reset);
    TakeHostBytes(now);
    m_core.SetLineBacklog(m_device.UnreadByHost() + m_tx.size());
    m_core.Advance(now / kNsPerUs);
    ScheduleChipOutput(now);
    const size_t sent = SendDue(now);
    if (VanishIfDue(now, stop)) return;
    // A line still sending is not a quiet line.
    if (!m_tx.empty() || sent > 0) m_core.NoteTxDone(now / kNsPerUs);
    if (m_core.Finished() && m_tx.empty()) return;
    SleepUntilDue(now);
  }
}

void CSimRunner::NoteLineEvents(int64_t now, std::atomic<bool>* reset) {
  if (reset != nullptr && reset->exchange(false)) {
    m_log.Line(now / kNsPerUs, "reset button pressed");
    m_core.Reset(now / kNsPerUs);
  }
  if (m_opt.m_bClearExclusive && m_device.ClearExclusive() && !m_bExclusiveNoted) {
    m_bExclusiveNoted = true;
    m_log.Line(now / kNsPerUs, "the host opened the device exclusively; cleared so that it can reopen it");
  }
  if (m_opt.m_bBaudFromLine && m_device.LineBaud() != m_nLineBaud) {
    m_nLineBaud = m_device.LineBaud();
    m_log.Line(now / kNsPerUs, "line rate now %d baud", m_nLineBaud);
  }
}

void CSimRunner::TakeHostBytes(int64_t now) {
  // What the host wrote arrives one byte time after the other.
  for (;;) {
    const size_t n = m_device.ReadFromHost(m_buffer.data(), m_buffer.size());
    if (n == 0) break;
    const int64_t byteNs = ByteTimeNs();
    for (size_t i = 0; i < n; ++i) {
      m_nRxLineFreeNs = std::max(m_nRxLineFreeNs, now) + byteNs;
      m_rx.push_back(TimedByte{byteNs > 0 ? m_nRxLineFreeNs : now, m_buffer[i], false});
    }
  }
  size_t arrived = 0;
  while (arrived < m_rx.size() && arrived < m_buffer.size() && m_rx[arrived].dueNs <= now + kSlackNs) {
    m_buffer[arrived] = m_rx[arrived].byte;
    ++arrived;
  }
  if (arrived > 0) {
    m_core.Feed(m_buffer.data(), arrived, now / kNsPerUs);
    m_rx.erase(m_rx.begin(), m_rx.begin() + static_cast<std::ptrdiff_t>(arrived));
  }
}

void CSimRunner::ScheduleChipOutput(int64_t now) {
  while (m_core.HasOutput()) {
    SimTx out = m_core.TakeOutput();
    const int64_t byteNs = ByteTimeNs();
    m_nTxLineFreeNs = std::max(m_nTxLineFreeNs, now) + out.m_nPauseUs * kNsPerUs;
    for (uint8_t byte : out.m_byData) {
      m_nTxLineFreeNs += byteNs;
      m_tx.push_back(TimedByte{m_nTxLineFreeNs, byte, false});
    }
    if (out.m_bVanish) m_tx.push_back(TimedByte{m_nTxLineFreeNs, 0, true});
  }
}

size_t CSimRunner::SendDue(int64_t now) {
  size_t due = 0;
  while (due < m_tx.size() && due < m_buffer.size() && !m_tx[due].vanish && m_tx[due].dueNs <= now + kSlackNs) {
    m_buffer[due] = m_tx[due].byte;
    ++due;
  }
  m_bTxBlocked = false;
  if (due > 0) {
    const size_t written = m_device.WriteToHost(m_buffer.data(), due);
    m_tx.erase(m_tx.begin(), m_tx.begin() + static_cast<std::ptrdiff_t>(written));
    m_bTxBlocked = written < due;
  }
  return due;
}

bool CSimRunner::VanishIfDue(int64_t now, const std::atomic<bool>& stop) {
  if (m_tx.empty() || !m_tx.front().vanish || m_tx.front().dueNs > now + kSlackNs) return false;
  // Written bytes reach the host's queue a moment later; only then does
  // the count of unread bytes see them.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const int64_t giveUp = NowNs() + kVanishGraceNs;
  while (m_device.UnreadByHost() > 0 && NowNs() < giveUp && !stop.load())
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  m_log.Line(NowNs() / kNsPerUs, "device %s closed", m_device.Path().c_str());
  m_device.Close();
  return true;
}

void CSimRunner::SleepUntilDue(int64_t now) {
  int64_t wakeNs = now + kMaxSleepNs;
  if (!m_rx.empty()) wakeNs = std::min(wakeNs, m_rx.front().dueNs);
  if (!m_tx.empty() && !m_bTxBlocked) wakeNs = std::min(wakeNs, m_tx.front().dueNs);
  const int64_t deadlineUs = m_core.NextDeadline();
  if (deadlineUs >= 0) wakeNs = std::min(wakeNs, deadlineUs * kNsPerUs);
  const int64_t waitNs = std::max<int64_t>(0, wakeNs - NowNs());
  // A hang-up cannot happen while our own descriptor of the host's end is
  // open; do not spin if it does.
  if (!m_device.WaitForHost(waitNs, m_bTxBlocked)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}
