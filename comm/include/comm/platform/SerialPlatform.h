// The operating-system side of the serial port: everything CComPort needs
// from the device driver, behind a handful of plain functions. Source files
// per platform implement them (SerialPosix.cpp and, for the waiter,
// SerialWaiterPosix.cpp on Linux); CMake picks the files, so no platform
// test appears inside any function. SerialWin32.cpp
// serves Windows: there a PortHandle stands for the device together with the
// one overlapped read and write it keeps in flight, and CPortWaiter waits for
// those to complete instead of polling.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace serial {

// An open device: a file descriptor on POSIX, a HANDLE on Windows.
using PortHandle = intptr_t;
inline constexpr PortHandle kNoPort = -1;

// Parity and stop-bit codes, the same numbers the Windows DCB uses.
inline constexpr uint8_t NOPARITY = 0;
inline constexpr uint8_t ODDPARITY = 1;
inline constexpr uint8_t EVENPARITY = 2;
inline constexpr uint8_t MARKPARITY = 3;
inline constexpr uint8_t SPACEPARITY = 4;
inline constexpr uint8_t ONESTOPBIT = 0;
inline constexpr uint8_t ONE5STOPBITS = 1;
inline constexpr uint8_t TWOSTOPBITS = 2;

struct LineSettings {
  uint32_t baud = 0;
  uint8_t byteSize = 8;  // 5..8
  uint8_t parity = NOPARITY;
  uint8_t stopBits = ONESTOPBIT;
};

// Line-error flags as the Windows CE_ bits, so that WM_COMM_ERR carries the
// same values on every platform.
inline constexpr uint32_t CE_RXOVER = 0x0001;
inline constexpr uint32_t CE_OVERRUN = 0x0002;
inline constexpr uint32_t CE_RXPARITY = 0x0004;
inline constexpr uint32_t CE_FRAME = 0x0008;
inline constexpr uint32_t CE_BREAK = 0x0010;

// Modem-status flags as the Windows MS_ bits.
inline constexpr uint32_t MS_CTS_ON = 0x0010;
inline constexpr uint32_t MS_DSR_ON = 0x0020;
inline constexpr uint32_t MS_RING_ON = 0x0040;
inline constexpr uint32_t MS_RLSD_ON = 0x0080;

// Running totals of line errors kept by the driver.
struct LineErrorCounts {
  uint32_t frame = 0;
  uint32_t overrun = 0;
  uint32_t parity = 0;
  uint32_t brk = 0;
  uint32_t bufOverrun = 0;
};
// CE_ flags for every total that grew from `before` to `after`.
uint32_t LineErrorFlags(const LineErrorCounts& before, const LineErrorCounts& after);

// The device that COM number n (1..1024) names on this system:
// /dev/ttyS<n-1> on Linux, \\.\COM<n> on Windows.
std::string DeviceNameForNumber(int32_t n);

// Opens the device for this process alone, without making it the
// controlling terminal, non-blocking, and puts the line into raw 8-bit mode
// with flow control off at once, so it never runs with echo or line editing
// under us. Refuses anything that is not a terminal. kNoPort and `err` set
// (an errno value) on failure.
PortHandle OpenDevice(const std::string& path, int& err);
// Gives up exclusive use and closes; results are not looked at.
void CloseDevice(PortHandle h);
// Discards what the driver holds for input, output or both.
bool PurgeDevice(PortHandle h, bool input, bool output);
bool GetLine(PortHandle h, LineSettings& out);
// Sets baud rate (any rate the driver takes), byte size, parity and stop bits.
// Flow control stays off; everything else is kept.
bool SetLine(PortHandle h, const LineSettings& line);
// Non-blocking transfers: the byte count, 0 when the driver has nothing
// (read) or no room (write) right now, -1 with `err` set on a real failure.
// A read of a hung-up device gives -1 with err EIO.
long ReadDevice(PortHandle h, void* buf, size_t n, int& err);
long WriteDevice(PortHandle h, const void* buf, size_t n, int& err);
// Bytes the driver holds that have not gone out on the line yet; false when
// it cannot tell. A pseudo-terminal hands every byte on at once and says 0.
bool OutputPending(PortHandle h, size_t& bytes);
// The driver's error totals; false where the driver keeps none (pseudo-terminals).
bool GetErrorCounts(PortHandle h, LineErrorCounts& out);
bool GetModemStatus(PortHandle h, uint32_t& msFlags);

// A stream of input the port's owner knows is on its way: `bytes` more to
// come from the device, one every `byteNs` nanoseconds on the line.
struct ExpectedInput {
  size_t bytes = 0;
  int64_t byteNs = 0;
};

// Puts one thread to sleep until the device has something to say or another
// thread calls Wake(). Lives as long as its owner; serves any number of opens.
class CPortWaiter {
public:
  enum : uint32_t {
    kReadable = 0x01,
    kWritable = 0x02,
    kHangup = 0x04,  // the far end or the device went away
    kError = 0x08,
    kWoken = 0x10,
    kFailed = 0x80000000u,  // the wait itself failed; `err` tells why
  };
  CPortWaiter();
  ~CPortWaiter();
  CPortWaiter(const CPortWaiter&) = delete;
  CPortWaiter& operator=(const CPortWaiter&) = delete;

  bool IsValid() const;
  // Safe from any thread; a wake is remembered until the next Wait or Reset.
  void Wake();
  void Reset();
  // Sleeps until an event, or at most timeoutMs when that is not negative
  // (then 0 when nothing happened). With h == kNoPort it waits for Wake()
  // alone. Hang-up and error are reported whether or not input or output is
  // watched.
  //
  // Input is reported in blocks, not byte by byte: once bytes are there the
  // wait lets more gather for at most kGatherMs (ending sooner when the line
  // goes quiet or Wake() is called) before it says kReadable. On Windows the
  // driver's read-interval time-out does the same inside the read in flight.
  //
  // `expected` tells of a stream the owner knows is on its way (a block the
  // far end sends without pause once asked): while bytes of it are owed,
  // the wait sleeps until they are due at the line's rate, for at most
  // kOwedGatherMs a time, and is cut short only by Wake() or a hang-up.
  // Bytes that stop coming end the sleep as soon as it sees so. Windows
  // keeps to the read in flight and does not use it.
  uint32_t Wait(PortHandle h, bool watchInput, bool watchOutput, int& err, int timeoutMs = -1,
                const ExpectedInput& expected = {});

  // The longest input is held back to gather, in milliseconds.
  static constexpr int kGatherMs = 4;
  // The longest input of an expected stream is held back, in milliseconds.
  static constexpr int kOwedGatherMs = 50;

private:
  // Wait while bytes of an expected stream are owed (POSIX).
  uint32_t WaitOwed(PortHandle h, int& err, const ExpectedInput& expected);

  intptr_t m_hWake;
  // Input kept coming during the last gather: the next wait sleeps through
  // the gather time first instead of waking on the next byte.
  bool m_bInputFlowing = false;
};

}  // namespace serial
