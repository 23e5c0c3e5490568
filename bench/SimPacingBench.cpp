// How closely the simulator keeps the line rate: a 64 KiB dump at 115200
// baud, timed from the dump command to the closing 'X', against the time
// the same bytes take on a wire at ten bits a byte.
#include <chrono>
#include <cstdio>
#include <string>

#include "tests/sim/ScriptedHost.h"
#include "tests/sim/SimThread.h"
#include "tests/support/TempDir.h"

int main() {
  constexpr int kBaud = 115200;
  constexpr uint32_t kLength = 64 * 1024;
  TempDir folder;
  SimOptions opt;
  opt.m_strFlashFile = folder.File("flash.bin");
  opt.m_nFlashSize = 1u << 20;
  opt.m_nBaud = kBaud;
  opt.m_nRepeatMs = 20;
  CSimThread sim;
  std::string error;
  if (!sim.Start(opt, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }

  CDeviceLine line(sim.DevicePath());
  CScriptedHost host(line);
  bool ok = host.Download({}, Bytes(16, 0xA5));
  ok = ok && (line.Send(CScriptedHost::ControlInfo(2, 0, kLength)), host.Answer() == 'X');

  const auto start = std::chrono::steady_clock::now();
  line.Send(CScriptedHost::Frame(FRAME_DUMP));
  uint32_t received = 0;
  uint8_t byte = 0;
  while (ok && received < kLength && line.Read(&byte, 2000)) {
    if (++received % 4096 == 0) line.Send({'X'});
  }
  ok = ok && received == kLength && host.Answer() == 'X';
  const double measured = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  sim.Stop();
  if (!ok) {
    std::printf("dump did not complete (%u of %u bytes)\n", received, kLength);
    return 1;
  }

  // Dump command in, the data out, one 'X' per 4096 bytes in, closing 'X' out.
  const uint32_t wireBytes = 6 + kLength + kLength / 4096 + 1;
  const double expected = wireBytes * 10.0 / kBaud;
  std::printf("chipsim pacing: %u-byte dump at %d baud\n", kLength, kBaud);
  std::printf("  wire time (%u bytes x 10 bits): %.3f s\n", wireBytes, expected);
  std::printf("  measured:                         %.3f s\n", measured);
  std::printf("  difference:                       %+.2f %%\n", (measured / expected - 1.0) * 100.0);
  return 0;
}
