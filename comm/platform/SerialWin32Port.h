// One open serial device on Windows with the overlapped read and write it
// keeps in flight. Used by SerialWin32.cpp only.
//
// Threads: the port's owner (reads, writes, purges) and the monitor (the
// waiter's Poll) both use a Port; everything they share is guarded by its
// mutex. The waiter sleeps on the events outside the mutex: they live as
// long as the Port.
#pragma once

#include "comm/platform/SerialPlatform.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace serial::win32 {

// A read that has seen nothing for this long completes empty and is started again.
inline constexpr DWORD kReadIdleMs = 500;
// The largest read: at 115200 baud a full one takes about 90 ms. Reads are
// cut to what the line brings in CPortWaiter::kGatherMs (SetLineRate).
inline constexpr size_t kReadChunk = 1024;
// The smallest read, for slow lines.
inline constexpr size_t kMinReadChunk = 4;
// Bytes read from the device but not yet taken by Read(); no read is in
// flight while this much is held.
inline constexpr size_t kHeldInput = 64 * 1024;
// The most one write hands to the driver.
inline constexpr size_t kWriteChunk = 16 * 1024;

// True for the errors with which Windows ends a pending read when the far
// end closes (a pipe, wine's pseudo-terminal) or the adapter is unplugged.
bool IsHangupError(DWORD error);

class Port {
public:
  // Takes ownership of an open, overlapped device handle.
  explicit Port(HANDLE device);
  // Cancels what is in flight, waits for it, closes the device.
  ~Port();
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;

  bool Valid() const { return m_readOv.hEvent != nullptr && m_writeOv.hEvent != nullptr; }
  HANDLE Handle() const { return m_device; }

  // As serial::ReadDevice and WriteDevice: bytes taken, 0 for none now, -1
  // with `err` (EIO) once the device has failed. A failed read becomes
  // visible to Read only after the waiter has seen it (and reported the
  // hang-up), so that the loss is told as a hang-up whichever thread meets
  // it first.
  long Read(void* buf, size_t n, int& err);
  long Write(const void* buf, size_t n, int& err);
  bool Purge(bool input, bool output);
  // Sizes the reads to the line rate, so that a stream completes one about
  // every CPortWaiter::kGatherMs; the read in flight keeps its size.
  void SetLineRate(uint32_t baud);
  // The driver's error flags since the last look, added up per kind.
  bool ErrorCounts(LineErrorCounts& out);

  // For CPortWaiter: collects finished transfers, keeps a read in flight,
  // and returns what is ready now (CPortWaiter bits, `err` set with kError).
  // Appends to `events` what to sleep on when nothing is.
  uint32_t Poll(bool watchInput, bool watchOutput, HANDLE* events, DWORD& count, int& err);

private:
  // A read that failed is recorded only with takeFailure (the waiter's call).
  void CollectReadLocked(bool takeFailure);
  void StartReadLocked();
  void CollectWriteLocked();
  // Ends a transfer in flight and waits until the driver has let go of it.
  void CancelLocked(OVERLAPPED& ov, bool& pending);

  HANDLE m_device;
  std::mutex m_mutex;

  OVERLAPPED m_readOv{};
  bool m_readPending = false;
  uint8_t m_readBuf[kReadChunk];
  size_t m_readSize = kReadChunk;  // what each read asks for
  std::vector<uint8_t> m_input;  // read, not yet taken
  DWORD m_readError = 0;         // sticky: the read that failed

  OVERLAPPED m_writeOv{};
  bool m_writePending = false;
  std::vector<uint8_t> m_writeBuf;  // what the write in flight sends
  DWORD m_writeError = 0;

  LineErrorCounts m_counts;
};

}  // namespace serial::win32
