// Runs the chip core on a pseudo-terminal: reads what the host writes,
// writes what the chip answers, and keeps the line's pace when a baud rate
// is set: every byte in either direction takes ten bit times.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "sim/ChipCore.h"
#include "sim/PtyDevice.h"
#include "sim/SimLog.h"
#include "sim/SimOptions.h"

// Monotonic time in microseconds, the clock the runner hands the core.
int64_t SimNowUs();

class CSimRunner {
public:
  CSimRunner(CChipCore& core, CPtyDevice& device, const SimOptions& options, CSimLog& log);

  // Starts the chip and serves the line until the session limit, a vanish,
  // or *stop turning true. A true *reset (optional) presses the chip's reset
  // button; the runner clears it.
  void Run(const std::atomic<bool>& stop, std::atomic<bool>* reset = nullptr);

private:
  // One byte on its way across the line, due when its last bit is through;
  // or, with vanish, the moment the chip goes away.
  struct TimedByte {
    int64_t dueNs;
    uint8_t byte;
    bool vanish;
  };

  int64_t ByteTimeNs() const;
  // The reset button, a host's exclusive mode and a new line rate.
  void NoteLineEvents(int64_t nowNs, std::atomic<bool>* reset);
  // Reads what the host wrote and feeds the chip what has arrived by now.
  void TakeHostBytes(int64_t nowNs);
  // Puts the chip's output on the line, each byte at its time.
  void ScheduleChipOutput(int64_t nowNs);
  // Writes what is due; returns how many bytes were due.
  size_t SendDue(int64_t nowNs);
  // When the chip's vanishing is due: lets the host read what was sent,
  // closes the device and returns true.
  bool VanishIfDue(int64_t nowNs, const std::atomic<bool>& stop);
  // Sleeps until the next byte is due, the core has something timed to do,
  // or the host writes.
  void SleepUntilDue(int64_t nowNs);

  CChipCore& m_core;
  CPtyDevice& m_device;
  const SimOptions& m_opt;
  CSimLog& m_log;

  std::deque<TimedByte> m_rx;  // received, waiting for their arrival time on the line
  std::deque<TimedByte> m_tx;  // to send, each at the time its last bit leaves
  int64_t m_nRxLineFreeNs = 0;
  int64_t m_nTxLineFreeNs = 0;
  bool m_bTxBlocked = false;
  bool m_bExclusiveNoted = false;
  int m_nLineBaud = -1;
  std::vector<uint8_t> m_buffer = std::vector<uint8_t>(8192);
};
