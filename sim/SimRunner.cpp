#include "sim/SimRunner.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <deque>
#include <vector>

namespace {

constexpr int64_t kNsPerUs = 1000;
// Bytes due this close to now go out in the same write; it keeps wake-ups
// down without letting the line run ahead of its rate.
constexpr int64_t kSlackNs = 200 * kNsPerUs;
constexpr int64_t kMaxSleepNs = 50'000 * kNsPerUs;
// How long a vanishing chip lets the host take what was already sent.
constexpr int64_t kVanishGraceNs = 1'000'000 * kNsPerUs;

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

struct Timed {
  int64_t dueNs;
  uint8_t byte;
  bool vanish;
};

}  // namespace

int64_t SimNowUs() { return NowNs() / kNsPerUs; }

CSimRunner::CSimRunner(CChipCore& core, CPtyDevice& device, const SimOptions& options, CSimLog& log)
    : m_core(core), m_device(device), m_opt(options), m_log(log) {}

int64_t CSimRunner::ByteTimeNs() const {
  const int baud = m_opt.m_bBaudFromLine ? m_device.LineBaud() : m_opt.m_nBaud;
  return baud > 0 ? 10'000'000'000LL / baud : 0;
}

void CSimRunner::Run(const std::atomic<bool>& stop, std::atomic<bool>* reset) {
  std::deque<Timed> rx;  // received, waiting for their arrival time on the line
  std::deque<Timed> tx;  // to send, each at the time its last bit leaves
  int64_t rxLineFreeNs = 0;
  int64_t txLineFreeNs = 0;
  bool txBlocked = false;
  bool exclusiveNoted = false;
  int lineBaud = -1;
  std::vector<uint8_t> buffer(8192);

  m_core.Start(NowNs() / kNsPerUs);
  while (!stop.load()) {
    int64_t now = NowNs();
    if (reset != nullptr && reset->exchange(false)) {
      m_log.Line(now / kNsPerUs, "reset button pressed");
      m_core.Reset(now / kNsPerUs);
    }
    if (m_opt.m_bClearExclusive && m_device.ClearExclusive() && !exclusiveNoted) {
      exclusiveNoted = true;
      m_log.Line(now / kNsPerUs, "the host opened the device exclusively; cleared so that it can reopen it");
    }

    if (m_opt.m_bBaudFromLine && m_device.LineBaud() != lineBaud) {
      lineBaud = m_device.LineBaud();
      m_log.Line(now / kNsPerUs, "line rate now %d baud", lineBaud);
    }

    // What the host wrote arrives one byte time after the other.
    for (;;) {
      const ssize_t n = ::read(m_device.MasterFd(), buffer.data(), buffer.size());
      if (n <= 0) break;
      const int64_t byteNs = ByteTimeNs();
      for (ssize_t i = 0; i < n; ++i) {
        rxLineFreeNs = std::max(rxLineFreeNs, now) + byteNs;
        rx.push_back(Timed{byteNs > 0 ? rxLineFreeNs : now, buffer[static_cast<size_t>(i)], false});
      }
    }
    size_t arrived = 0;
    while (arrived < rx.size() && arrived < buffer.size() && rx[arrived].dueNs <= now + kSlackNs) {
      buffer[arrived] = rx[arrived].byte;
      ++arrived;
    }
    if (arrived > 0) {
      m_core.Feed(buffer.data(), arrived, now / kNsPerUs);
      rx.erase(rx.begin(), rx.begin() + static_cast<std::ptrdiff_t>(arrived));
    }

    m_core.SetLineBacklog(m_device.UnreadByHost() + tx.size());
    m_core.Advance(now / kNsPerUs);

    // Schedule the chip's output on the line.
    while (m_core.HasOutput()) {
      SimTx out = m_core.TakeOutput();
      const int64_t byteNs = ByteTimeNs();
      txLineFreeNs = std::max(txLineFreeNs, now) + out.m_nPauseUs * kNsPerUs;
      for (uint8_t byte : out.m_byData) {
        txLineFreeNs += byteNs;
        tx.push_back(Timed{txLineFreeNs, byte, false});
      }
      if (out.m_bVanish) tx.push_back(Timed{txLineFreeNs, 0, true});
    }

    // Send what is due.
    size_t due = 0;
    while (due < tx.size() && due < buffer.size() && !tx[due].vanish && tx[due].dueNs <= now + kSlackNs) {
      buffer[due] = tx[due].byte;
      ++due;
    }
    txBlocked = false;
    if (due > 0) {
      const ssize_t n = ::write(m_device.MasterFd(), buffer.data(), due);
      const size_t written = n > 0 ? static_cast<size_t>(n) : 0;
      tx.erase(tx.begin(), tx.begin() + static_cast<std::ptrdiff_t>(written));
      txBlocked = written < due;
    }
    if (!tx.empty() && tx.front().vanish && tx.front().dueNs <= now + kSlackNs) {
      // Written bytes reach the host's queue a moment later; only then does
      // the count of unread bytes see them.
      ::usleep(20'000);
      const int64_t giveUp = NowNs() + kVanishGraceNs;
      while (m_device.UnreadByHost() > 0 && NowNs() < giveUp && !stop.load()) ::usleep(2000);
      m_log.Line(NowNs() / kNsPerUs, "device %s closed", m_device.Path().c_str());
      m_device.Close();
      return;
    }
    // A line still sending is not a quiet line.
    if (!tx.empty() || due > 0) m_core.NoteTxDone(now / kNsPerUs);
    if (m_core.Finished() && tx.empty()) return;

    // Sleep until the next byte is due, the core has something timed to do,
    // or the host writes.
    int64_t wakeNs = now + kMaxSleepNs;
    if (!rx.empty()) wakeNs = std::min(wakeNs, rx.front().dueNs);
    if (!tx.empty() && !txBlocked) wakeNs = std::min(wakeNs, tx.front().dueNs);
    const int64_t deadlineUs = m_core.NextDeadline();
    if (deadlineUs >= 0) wakeNs = std::min(wakeNs, deadlineUs * kNsPerUs);
    const int64_t waitNs = std::max<int64_t>(0, wakeNs - NowNs());
    struct pollfd pfd {m_device.MasterFd(), static_cast<short>(POLLIN | (txBlocked ? POLLOUT : 0)), 0};
    struct timespec ts {static_cast<time_t>(waitNs / 1'000'000'000), static_cast<long>(waitNs % 1'000'000'000)};
    if (::ppoll(&pfd, 1, &ts, nullptr) > 0 && (pfd.revents & (POLLHUP | POLLERR)) != 0) {
      // Cannot happen while our own descriptor of the host's end is open;
      // do not spin if it does.
      ::usleep(1000);
    }
  }
}
