// Runs the chip core on a pseudo-terminal: reads what the host writes,
// writes what the chip answers, and keeps the line's pace when a baud rate
// is set: every byte in either direction takes ten bit times.
#pragma once

#include <atomic>
#include <cstdint>

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
  int64_t ByteTimeNs() const;

  CChipCore& m_core;
  CPtyDevice& m_device;
  const SimOptions& m_opt;
  CSimLog& m_log;
};
