// The real clock of the update: waits block the calling (worker) thread.
#pragma once

#include "update/UpdateIo.h"

class CSteadyClock : public IUpdateClock {
public:
  static constexpr uint32_t kStopSliceMs = 20;
  void Wait(uint32_t milliseconds) override;
  // Waits in pieces of at most kStopSliceMs and asks between them.
  bool WaitOrStop(uint32_t milliseconds, const std::function<bool()>& stopWaiting) override;
  uint64_t NowMs() override;
};
