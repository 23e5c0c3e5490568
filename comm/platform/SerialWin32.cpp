// Serial devices over Win32 (\\.\COMn): exclusive open, raw binary DCB
// without flow control, and overlapped I/O.
//
// Each open device keeps one overlapped read in flight. Its time-outs
// (interval 1 ms, total kReadIdleMs) make it complete a few milliseconds
// after the last byte of a burst, or empty after kReadIdleMs of silence;
// CPortWaiter sleeps on its event, the write's event and a wake event.
// WaitCommEvent is not used: under wine it fails or returns at once in a
// loop, while this read behaves the same there as on Windows. When the far
// end goes away the pending read fails (ERROR_BROKEN_PIPE, or a device
// error for an unplugged adapter) and the waiter reports a hang-up.
#include "comm/platform/SerialPlatform.h"
#include "SerialWin32Port.h"

#include <cerrno>

namespace serial {

namespace {

using win32::Port;

Port* P(PortHandle h) { return reinterpret_cast<Port*>(h); }

int OpenErrno(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME: return ENOENT;
    // A port another program holds answers "access denied".
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return EBUSY;
    default: return EIO;
  }
}

// Binary, no parity check, and neither hardware nor software flow control;
// DTR and RTS stay on, as a terminal program leaves them.
void MakeRaw(DCB& dcb) {
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fTXContinueOnXoff = TRUE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fAbortOnError = FALSE;
}

bool ValidLine(const LineSettings& line) {
  // The combinations a UART can make: 1.5 stop bits only with 5 data bits,
  // 2 stop bits only with 6 to 8.
  if (line.byteSize < 5 || line.byteSize > 8 || line.parity > SPACEPARITY || line.stopBits > TWOSTOPBITS ||
      line.baud == 0)
    return false;
  if (line.stopBits == ONE5STOPBITS && line.byteSize != 5) return false;
  if (line.stopBits == TWOSTOPBITS && line.byteSize == 5) return false;
  return true;
}

}  // namespace

std::string DeviceNameForNumber(int32_t n) { return "\\\\.\\COM" + std::to_string(n); }

PortHandle OpenDevice(const std::string& path, int& err) {
  err = 0;
  if (path.empty()) {
    err = ENOENT;
    return kNoPort;
  }
  // Share mode 0: no other open of the port while we hold it.
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    err = OpenErrno(::GetLastError());
    return kNoPort;
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (::GetFileType(h) != FILE_TYPE_CHAR || !::GetCommState(h, &dcb)) {
    // Never treat a file, a pipe or a console as a serial line.
    ::CloseHandle(h);
    err = ENOTTY;
    return kNoPort;
  }
  MakeRaw(dcb);
  COMMTIMEOUTS timeouts{};
  // A read in flight ends once the line has been quiet for a millisecond,
  // or when it holds what the line brings in CPortWaiter::kGatherMs
  // (Port::SetLineRate): input is handed on in blocks, a lone byte at once.
  timeouts.ReadIntervalTimeout = 1;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = win32::kReadIdleMs;
  // Writes have no time-out: an overlapped write completes when the driver has the bytes.
  if (!::SetCommState(h, &dcb) || !::SetCommTimeouts(h, &timeouts)) {
    err = EIO;
    ::CloseHandle(h);
    return kNoPort;
  }
  auto* port = new Port(h);
  if (!port->Valid()) {
    delete port;  // closes the handle
    err = ENOMEM;
    return kNoPort;
  }
  return reinterpret_cast<PortHandle>(port);
}

void CloseDevice(PortHandle h) {
  if (h == kNoPort) return;
  delete P(h);  // cancels what is in flight, then closes
}

bool PurgeDevice(PortHandle h, bool input, bool output) {
  if (!input && !output) return true;
  return P(h)->Purge(input, output);
}

bool OutputPending(PortHandle h, size_t& bytes) {
  DWORD errors = 0;
  COMSTAT stat{};
  if (!::ClearCommError(P(h)->Handle(), &errors, &stat)) return false;
  bytes = stat.cbOutQue;
  return true;
}

bool GetLine(PortHandle h, LineSettings& out) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(P(h)->Handle(), &dcb)) return false;
  out.baud = dcb.BaudRate;
  out.byteSize = dcb.ByteSize;
  out.parity = dcb.Parity;
  out.stopBits = dcb.StopBits;
  return true;
}

bool SetLine(PortHandle h, const LineSettings& line) {
  if (!ValidLine(line)) return false;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(P(h)->Handle(), &dcb)) return false;
  MakeRaw(dcb);
  dcb.BaudRate = line.baud;
  dcb.ByteSize = line.byteSize;
  dcb.Parity = line.parity;
  dcb.StopBits = line.stopBits;
  // With parity on, let the driver check it so that errors are counted.
  dcb.fParity = line.parity != NOPARITY;
  if (!::SetCommState(P(h)->Handle(), &dcb)) return false;
  P(h)->SetLineRate(line.baud);
  return true;
}

long ReadDevice(PortHandle h, void* buf, size_t n, int& err) { return P(h)->Read(buf, n, err); }

long WriteDevice(PortHandle h, const void* buf, size_t n, int& err) { return P(h)->Write(buf, n, err); }

bool GetErrorCounts(PortHandle h, LineErrorCounts& out) { return P(h)->ErrorCounts(out); }

bool GetModemStatus(PortHandle h, uint32_t& msFlags) {
  DWORD status = 0;
  if (!::GetCommModemStatus(P(h)->Handle(), &status)) return false;
  // The MS_ bits are Windows' own.
  msFlags = status & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
  return true;
}

CPortWaiter::CPortWaiter()
    : m_hWake(reinterpret_cast<intptr_t>(::CreateEventA(nullptr, TRUE, FALSE, nullptr))) {}

CPortWaiter::~CPortWaiter() {
  if (IsValid()) ::CloseHandle(reinterpret_cast<HANDLE>(m_hWake));
}

bool CPortWaiter::IsValid() const { return m_hWake != 0; }

void CPortWaiter::Wake() { ::SetEvent(reinterpret_cast<HANDLE>(m_hWake)); }

void CPortWaiter::Reset() { ::ResetEvent(reinterpret_cast<HANDLE>(m_hWake)); }

// The read in flight already ends once it holds what the line brings in
// kGatherMs; an expected stream changes nothing here.
uint32_t CPortWaiter::Wait(PortHandle h, bool watchInput, bool watchOutput, int& err, int timeoutMs,
                           const ExpectedInput& /*expected*/) {
  err = 0;
  const HANDLE wake = reinterpret_cast<HANDLE>(m_hWake);
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    HANDLE events[3] = {wake, nullptr, nullptr};
    DWORD count = 1;
    uint32_t ready = 0;
    if (h != kNoPort) ready = P(h)->Poll(watchInput, watchOutput, events, count, err);
    if (::WaitForSingleObject(wake, 0) == WAIT_OBJECT_0) {
      Reset();
      ready |= kWoken;
    }
    if (ready != 0) return ready;
    // Sleeps until woken or until the read or the write completes; a read
    // that ended empty after the idle time starts again in the next Poll.
    DWORD waitMs = INFINITE;
    if (timeoutMs >= 0) {
      const ULONGLONG now = ::GetTickCount64();
      if (now >= deadline) return 0;
      waitMs = static_cast<DWORD>(deadline - now);
    }
    const DWORD rc = ::WaitForMultipleObjects(count, events, FALSE, waitMs);
    if (rc == WAIT_FAILED) {
      err = EIO;
      return kFailed;
    }
    if (rc == WAIT_TIMEOUT) return 0;
  }
}

}  // namespace serial
