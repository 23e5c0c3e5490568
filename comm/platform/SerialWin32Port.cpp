#include "SerialWin32Port.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace serial::win32 {

bool IsHangupError(DWORD error) {
  switch (error) {
    case ERROR_BROKEN_PIPE:           // the far end closed (wine: the pseudo-terminal's master)
    case ERROR_DEVICE_REMOVED:        // USB adapters pulled out
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_BAD_COMMAND:
    case ERROR_ACCESS_DENIED:
    case ERROR_GEN_FAILURE:
    case ERROR_NOT_READY: return true;
    default: return false;
  }
}

Port::Port(HANDLE device) : m_device(device) {
  m_readOv.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  m_writeOv.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  m_input.reserve(kReadChunk);
}

Port::~Port() {
  {
    std::lock_guard lock(m_mutex);
    CancelLocked(m_readOv, m_readPending);
    CancelLocked(m_writeOv, m_writePending);
  }
  ::CloseHandle(m_device);
  if (m_readOv.hEvent) ::CloseHandle(m_readOv.hEvent);
  if (m_writeOv.hEvent) ::CloseHandle(m_writeOv.hEvent);
}

void Port::CancelLocked(OVERLAPPED& ov, bool& pending) {
  if (!pending) return;
  // PURGE_RXABORT does not end a pending read under wine; CancelIoEx does,
  // within about a millisecond, on both.
  ::CancelIoEx(m_device, &ov);
  DWORD done = 0;
  ::GetOverlappedResult(m_device, &ov, &done, TRUE);
  pending = false;
}

void Port::CollectReadLocked(bool takeFailure) {
  if (!m_readPending) return;
  DWORD got = 0;
  if (::GetOverlappedResult(m_device, &m_readOv, &got, FALSE)) {
    m_readPending = false;
    m_input.insert(m_input.end(), m_readBuf, m_readBuf + got);
    return;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_IO_INCOMPLETE) return;
  // A failed read is left in place for the waiter, which reports it as a
  // hang-up; a reader that took it first would see only a failed read.
  // (GetOverlappedResult gives the same answer until the next ReadFile.)
  if (!takeFailure && error != ERROR_TIMEOUT && error != ERROR_OPERATION_ABORTED) return;
  m_readPending = false;
  // An idle read ends empty: with ERROR_TIMEOUT under wine, successfully on
  // Windows. A cancelled one is simply started again.
  if (error == ERROR_TIMEOUT || error == ERROR_OPERATION_ABORTED) return;
  m_readError = error;
}

void Port::StartReadLocked() {
  if (m_readPending || m_readError != 0 || m_input.size() >= kHeldInput) return;
  // ReadFile resets the event; it is set again when the read completes,
  // also when it completes at once.
  if (::ReadFile(m_device, m_readBuf, static_cast<DWORD>(m_readSize), nullptr, &m_readOv) ||
      ::GetLastError() == ERROR_IO_PENDING) {
    m_readPending = true;
    return;
  }
  m_readError = ::GetLastError();
}

void Port::CollectWriteLocked() {
  if (!m_writePending) return;
  DWORD put = 0;
  if (::GetOverlappedResult(m_device, &m_writeOv, &put, FALSE)) {
    m_writePending = false;
    return;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_IO_INCOMPLETE) return;
  m_writePending = false;
  if (error != ERROR_OPERATION_ABORTED) m_writeError = error;
}

long Port::Read(void* buf, size_t n, int& err) {
  err = 0;
  std::lock_guard lock(m_mutex);
  CollectReadLocked(false);
  const size_t take = std::min(n, m_input.size());
  if (take > 0) {
    std::memcpy(buf, m_input.data(), take);
    m_input.erase(m_input.begin(), m_input.begin() + static_cast<std::ptrdiff_t>(take));
  }
  StartReadLocked();
  if (take > 0 || n == 0) return static_cast<long>(take);
  if (m_readError != 0) {
    err = EIO;
    return -1;
  }
  return 0;
}

long Port::Write(const void* buf, size_t n, int& err) {
  err = 0;
  std::lock_guard lock(m_mutex);
  CollectWriteLocked();
  // A write that failed because the far end went away takes nothing more:
  // the pending read reports the hang-up. Any other failure is the write's.
  if (m_writeError != 0 && IsHangupError(m_writeError)) return 0;
  if (m_writeError != 0) {
    err = EIO;
    return -1;
  }
  if (m_writePending || n == 0) return 0;  // no room until the write in flight is done
  const size_t take = std::min(n, kWriteChunk);
  const auto* bytes = static_cast<const uint8_t*>(buf);
  m_writeBuf.assign(bytes, bytes + take);
  if (!::WriteFile(m_device, m_writeBuf.data(), static_cast<DWORD>(take), nullptr, &m_writeOv) &&
      ::GetLastError() != ERROR_IO_PENDING) {
    m_writeError = ::GetLastError();
    if (IsHangupError(m_writeError)) return 0;
    err = EIO;
    return -1;
  }
  m_writePending = true;
  return static_cast<long>(take);
}

void Port::SetLineRate(uint32_t baud) {
  // Ten bits a byte on the line.
  const uint64_t perGather = uint64_t{baud} / 10 * CPortWaiter::kGatherMs / 1000;
  std::lock_guard lock(m_mutex);
  m_readSize = static_cast<size_t>(std::clamp<uint64_t>(perGather, kMinReadChunk, kReadChunk));
}

bool Port::Purge(bool input, bool output) {
  std::lock_guard lock(m_mutex);
  DWORD flags = 0;
  if (output) {
    CancelLocked(m_writeOv, m_writePending);
    flags |= PURGE_TXABORT | PURGE_TXCLEAR;
  }
  if (input) {
    CancelLocked(m_readOv, m_readPending);
    m_input.clear();
    flags |= PURGE_RXABORT | PURGE_RXCLEAR;
  }
  // The next Read or Poll starts a fresh read.
  return ::PurgeComm(m_device, flags) != 0;
}

bool Port::ErrorCounts(LineErrorCounts& out) {
  std::lock_guard lock(m_mutex);
  DWORD errors = 0;
  COMSTAT status{};
  if (!::ClearCommError(m_device, &errors, &status)) return false;
  // ClearCommError reports and clears flags; the totals the port compares
  // are made by counting each flag seen.
  if (errors & CE_FRAME) ++m_counts.frame;
  if (errors & CE_OVERRUN) ++m_counts.overrun;
  if (errors & CE_RXPARITY) ++m_counts.parity;
  if (errors & CE_BREAK) ++m_counts.brk;
  if (errors & CE_RXOVER) ++m_counts.bufOverrun;
  out = m_counts;
  return true;
}

uint32_t Port::Poll(bool watchInput, bool watchOutput, HANDLE* events, DWORD& count, int& err) {
  using W = CPortWaiter;
  std::lock_guard lock(m_mutex);
  CollectReadLocked(true);
  CollectWriteLocked();
  StartReadLocked();
  uint32_t ready = 0;
  // A failed read is reported whether or not input is watched, as poll()
  // reports a hang-up; what was read before it stays readable.
  if (m_readError != 0) {
    if (IsHangupError(m_readError)) {
      ready |= W::kHangup;
    } else {
      ready |= W::kError;
      err = EIO;
    }
  }
  if (watchInput && !m_input.empty()) ready |= W::kReadable;
  // After a write that met a hang-up there is never room again; the read
  // in flight ends with the hang-up soon after.
  const bool writeStuck = m_writeError != 0 && IsHangupError(m_writeError);
  if (watchOutput && !m_writePending && !writeStuck) ready |= W::kWritable;
  if (m_readPending) events[count++] = m_readOv.hEvent;
  if (watchOutput && m_writePending) events[count++] = m_writeOv.hEvent;
  return ready;
}

}  // namespace serial::win32
