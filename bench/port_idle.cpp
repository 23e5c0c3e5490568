// CPU cost of an open serial port that has nothing to do: the monitor thread
// must sleep in the kernel, not poll. Opens a pseudo-terminal slave through
// CComPort, leaves it idle, and prints the CPU time the whole process used.
// A second phase does the same after the far end has gone away, when a
// careless monitor would spin on the hung-up device.
//
//   port_idle [idle seconds, default 10]
#include "comm/ComPort.h"
#include "comm/MsgThread.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

double CpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double Measure(int seconds) {
  const double before = CpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  return CpuSeconds() - before;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("posix_openpt");
    return 1;
  }
  auto queue = std::make_shared<CMessageQueue>();
  const uint32_t id = RegisterMessageQueue(queue);
  CComPort port;
  port.SetNotifyThreadId(id);
  port.SetPortName(ptsname(master), 1);
  if (!port.OpenPort() || !port.SetupPort() || !port.ApplySettingsText("115200,N,8,1")) {
    std::fprintf(stderr, "cannot open %s\n", ptsname(master));
    return 1;
  }
  std::printf("open idle port, %d s: %.6f CPU seconds\n", seconds, Measure(seconds));

  close(master);
  const int lostSeconds = std::max(1, seconds / 3);
  std::printf("after the far end vanished, %d s: %.6f CPU seconds\n", lostSeconds, Measure(lostSeconds));
  port.ClosePort();
  std::printf("notifications queued: %zu\n", queue->Size());
  UnregisterMessageQueue(id);
  return 0;
}
