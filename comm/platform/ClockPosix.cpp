#include "comm/UpdateClock.h"

#include <algorithm>
#include <chrono>
#include <thread>

void CSteadyClock::Wait(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

uint64_t CSteadyClock::NowMs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool CSteadyClock::WaitOrStop(uint32_t milliseconds, const std::function<bool()>& stopWaiting) {
  uint32_t left = milliseconds;
  while (left > 0) {
    if (stopWaiting()) return false;
    const uint32_t slice = std::min(left, kStopSliceMs);
    Wait(slice);
    left -= slice;
  }
  return !stopWaiting();
}
