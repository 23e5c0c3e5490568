// The real clock of the update: waits block the calling (worker) thread.
#pragma once

#include "update/UpdateIo.h"

// The worker's clock (CUIThread::CQueueClock) adds the wait that a stop cuts short.
class CSteadyClock : public IUpdateClock {
public:
  void Wait(uint32_t milliseconds) override;
  uint64_t NowMs() override;
};
