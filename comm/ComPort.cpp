// CComPort on the owner's side: naming, opening, configuring and closing
// the device, and the queued reads and writes. The monitor thread is in
// ComPortMonitor.cpp.
#include "comm/ComPort.h"

#include "comm/CommSettings.h"

#include <algorithm>
#include <cerrno>

namespace {
constexpr size_t kReadChunk = 4096;
}  // namespace

PortOpenResult PortOpenResultFromError(int err) {
  switch (err) {
    case 0:
      return PortOpenResult::Opened;
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return PortOpenResult::NoDevice;
    case EBUSY:
      return PortOpenResult::Busy;
    case EACCES:
    case EPERM:
      return PortOpenResult::PermissionDenied;
    case ENOTTY:
      return PortOpenResult::NotSerial;
    default:
      return PortOpenResult::OtherError;
  }
}

namespace serial {

uint32_t LineErrorFlags(const LineErrorCounts& before, const LineErrorCounts& after) {
  uint32_t flags = 0;
  if (after.bufOverrun != before.bufOverrun) flags |= CE_RXOVER;
  if (after.overrun != before.overrun) flags |= CE_OVERRUN;
  if (after.parity != before.parity) flags |= CE_RXPARITY;
  if (after.frame != before.frame) flags |= CE_FRAME;
  if (after.brk != before.brk) flags |= CE_BREAK;
  return flags;
}

}  // namespace serial

CComPort::CComPort() = default;

CComPort::~CComPort() {
  ClosePort();
  ReapMonitor();
}

bool CComPort::SetPortNumber(int32_t n) {
  m_nPortNo = n;
  m_strPortName.clear();
  if (n < MIN_PORT_NUMBER || n > MAX_PORT_NUMBER) return false;
  m_strPortName = serial::DeviceNameForNumber(n);
  return true;
}

void CComPort::SetPortName(const std::string& devicePath, int32_t nPortNo) {
  m_nPortNo = nPortNo;
  m_strPortName = devicePath;
}

bool CComPort::OpenPort() {
  if (IsOpen()) ClosePort();
  ReapMonitor();  // a monitor that missed its grace time still holds the last device
  {
    std::lock_guard lock(m_mtxRx);
    ClearInputLocked();
  }
  {
    std::lock_guard lock(m_mtxTx);
    m_txQueue.Clear();
    m_bTxOverflow = false;
  }
  m_bPortLost.store(false);

  if (m_strPortName.empty()) {
    m_nLastError = ENOENT;  // refused port number: no device is touched
    return false;
  }
  int err = 0;
  const serial::PortHandle h = serial::OpenDevice(m_strPortName, err);
  if (h == serial::kNoPort) {
    m_nLastError = err;
    return false;
  }
  m_hComm = h;
  m_bHaveErrorCounts = serial::GetErrorCounts(h, m_errorCounts);
  if (m_bAutoStartMonitor && !StartMonitor()) {
    ClosePort();
    m_nLastError = EAGAIN;
    return false;
  }
  m_nLastError = 0;
  return true;
}

bool CComPort::SetupPort() {
  if (!IsOpen()) return false;
  // The driver's queues are fixed in size; ours grow as needed. What is left
  // to do is to start with nothing queued in either direction.
  std::scoped_lock lock(m_mtxRx, m_mtxTx);
  ClearInputLocked();
  m_txQueue.Clear();
  m_bTxOverflow = false;
  const bool purged = serial::PurgeDevice(m_hComm, true, true);
  if (m_bHaveErrorCounts) serial::GetErrorCounts(m_hComm, m_errorCounts);
  return purged;
}

bool CComPort::ApplySettingsText(const char* text) {
  if (!IsOpen()) return false;
  if (!serial::GetLine(m_hComm, m_dcb)) return false;
  serial::LineSettings line = m_dcb;
  if (!ParseCommSettings(text, line)) return false;
  if (!serial::SetLine(m_hComm, line)) return false;
  m_dcb = line;
  return true;
}

bool CComPort::ApplyLineSettings(uint32_t baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits) {
  if (!IsOpen()) return false;
  if (!serial::GetLine(m_hComm, m_dcb)) return false;
  serial::LineSettings line = m_dcb;
  line.baud = baud;
  line.byteSize = byteSize;
  line.parity = parity;
  line.stopBits = stopBits;
  if (!serial::SetLine(m_hComm, line)) return false;
  m_dcb = line;
  return true;
}

bool CComPort::OpenAtBaud(const std::string& devicePath, uint32_t baud) {
  SetPortName(devicePath, m_nPortNo);
  return OpenPort() && SetupPort() && ApplyLineSettings(baud, 8, serial::NOPARITY, serial::ONESTOPBIT);
}

bool CComPort::ReopenAtBaud(uint32_t baud) {
  const bool monitorStopped = !m_hMonitorThread.joinable() || StopMonitor(MONITOR_GRACE_MS);
  if (IsOpen() && monitorStopped && !m_bPortLost.load()) {
    // Everything a close and a fresh open would do, on the same descriptor:
    // the exclusive lock is kept, so no other program can take the port in
    // the moment between.
    DropOutput();
    {
      std::lock_guard lock(m_mtxRx);
      ClearInputLocked();
    }
    if (SetupPort() && ApplyLineSettings(baud, 8, serial::NOPARITY, serial::ONESTOPBIT) &&
        (!m_bAutoStartMonitor || StartMonitor()))
      return true;
  }
  // The device went away or its monitor would not stop: close and open anew.
  ClosePort();
  return OpenPort() && SetupPort() && ApplyLineSettings(baud, 8, serial::NOPARITY, serial::ONESTOPBIT);
}

bool CComPort::GetLineSettings(serial::LineSettings& out) {
  return IsOpen() && serial::GetLine(m_hComm, out);
}

void CComPort::ClosePort() {
  if (!IsOpen()) return;
  DropOutput();
  const serial::PortHandle h = m_hComm;
  bool closeHere = true;
  if (m_hMonitorThread.joinable() && !StopMonitor(MONITOR_GRACE_MS)) {
    // The monitor is told to stop but is still inside a step that may use
    // the device; closing it now could hand its descriptor number to
    // something else under the monitor's feet. The monitor closes it when
    // it ends.
    std::lock_guard lock(m_mtxMonitor);
    if (!m_bMonitorDone) {
      m_hOrphanPort = h;
      closeHere = false;
    }
  }
  if (closeHere) serial::CloseDevice(h);
  {
    std::lock_guard lock(m_mtxRx);
    ClearInputLocked();
  }
  m_hComm = serial::kNoPort;
}

void CComPort::DropOutput() {
  std::lock_guard lock(m_mtxTx);
  m_txQueue.Clear();
  m_bTxOverflow = false;
  serial::PurgeDevice(m_hComm, false, true);
}

bool CComPort::TakeLineErrors() {
  if (!m_bHaveErrorCounts) return false;
  serial::LineErrorCounts now;
  if (!serial::GetErrorCounts(m_hComm, now)) return false;
  const uint32_t flags = serial::LineErrorFlags(m_errorCounts, now);
  m_errorCounts = now;
  return flags != 0;
}

void CComPort::ClearInputLocked() {
  m_rxQueue.Clear();
  m_bRxNotified = false;
  m_nExpectEnd = 0;
}

void CComPort::ExpectInput(size_t bytes) {
  if (!IsOpen()) return;
  // Bits on the line per byte: start, data, parity, stop.
  const uint32_t bits = 1u + m_dcb.byteSize + (m_dcb.parity != serial::NOPARITY ? 1u : 0u) +
                        (m_dcb.stopBits == serial::ONESTOPBIT ? 1u : 2u);
  bool withdrawn = false;
  {
    std::lock_guard lock(m_mtxRx);
    withdrawn = m_nExpectEnd > m_nRxFilled;
    // Counted from what ReadPort has handed out: the bytes queued here are
    // part of what is owed.
    m_nExpectEnd = (bytes == 0 || m_dcb.baud == 0) ? 0 : m_nRxFilled - m_rxQueue.Size() + bytes;
    m_nExpectByteNs = m_dcb.baud == 0 ? 0 : int64_t{1'000'000'000} * bits / m_dcb.baud;
    withdrawn = withdrawn && m_nExpectEnd <= m_nRxFilled;
  }
  // A monitor asleep on bytes no longer owed goes back to handing on each reply at once.
  if (withdrawn) m_waiter.Wake();
}

serial::ExpectedInput CComPort::OwedInputLocked() const {
  if (m_nExpectEnd <= m_nRxFilled) return {};
  return {static_cast<size_t>(m_nExpectEnd - m_nRxFilled), m_nExpectByteNs};
}

bool CComPort::FillInputLocked(serial::PortHandle h, int& err) {
  uint8_t chunk[kReadChunk];
  while (m_rxQueue.Size() < INPUT_QUEUE_SIZE) {
    const size_t room = std::min(sizeof chunk, INPUT_QUEUE_SIZE - m_rxQueue.Size());
    const long got = serial::ReadDevice(h, chunk, room, err);
    if (got < 0) return false;
    if (got == 0) break;
    m_rxQueue.Append(chunk, static_cast<size_t>(got));
    m_nRxFilled += static_cast<uint64_t>(got);
    // A short read took all the driver had: asking again would only hear so.
    if (static_cast<size_t>(got) < room) break;
  }
  return true;
}

bool CComPort::DrainOutputLocked(serial::PortHandle h, int& err) {
  while (!m_txQueue.Empty()) {
    const long put = serial::WriteDevice(h, m_txQueue.Front(), m_txQueue.Size(), err);
    if (put < 0) return false;
    if (put == 0) break;
    m_txQueue.Consume(static_cast<size_t>(put));
    m_txMovedAt = std::chrono::steady_clock::now();
  }
  return true;
}

uint32_t CComPort::ReadPort(void* buffer, uint32_t capacity, uint32_t /*waitMs*/) {
  if (!IsOpen()) return 0;
  if (TakeLineErrors()) {
    // What arrived around a framing, parity or overrun error cannot be
    // trusted: drop all of it, as the caller's protocol expects.
    std::lock_guard lock(m_mtxRx);
    ClearInputLocked();
    serial::PurgeDevice(m_hComm, true, false);
    return 0;
  }
  size_t got = 0;
  bool wake = false;
  {
    std::lock_guard lock(m_mtxRx);
    int err = 0;
    // What the monitor has gathered is taken as it is; the device is asked
    // only when nothing is (no monitor, or it has not woken yet). A failing
    // device is reported by the monitor; what was read stays readable.
    if (m_rxQueue.Empty()) FillInputLocked(m_hComm, err);
    const bool wasFull = m_rxQueue.Size() >= INPUT_QUEUE_SIZE;
    if (buffer != nullptr) got = m_rxQueue.Take(static_cast<uint8_t*>(buffer), capacity);
    m_bRxNotified = false;
    // Bytes left behind need a new notification; a full queue had stopped
    // the monitor from taking more from the driver.
    wake = !m_rxQueue.Empty() || wasFull;
  }
  if (wake) m_waiter.Wake();
  return static_cast<uint32_t>(got);
}

uint32_t CComPort::InputQueued() {
  if (!IsOpen()) return 0;
  std::lock_guard lock(m_mtxRx);
  int err = 0;
  FillInputLocked(m_hComm, err);
  return static_cast<uint32_t>(m_rxQueue.Size());
}

void CComPort::DiscardInput() {
  if (!IsOpen()) return;
  std::lock_guard lock(m_mtxRx);
  ClearInputLocked();
  serial::PurgeDevice(m_hComm, true, false);
}

size_t CComPort::OutputQueued() {
  if (!IsOpen()) return 0;
  size_t driver = 0;
  if (!serial::OutputPending(m_hComm, driver)) driver = 0;
  std::lock_guard lock(m_mtxTx);
  return m_txQueue.Size() + driver;
}

uint32_t CComPort::WritePort(const void* bytes, int32_t count) {
  if (!IsOpen() || bytes == nullptr || count <= 0 || m_bPortLost.load()) return 0;
  // Line errors are left for ReadPort: they concern what was received, and
  // dropping output the caller has already handed over would lose it.
  const auto* p = static_cast<const uint8_t*>(bytes);
  const auto n = static_cast<size_t>(count);
  size_t taken = 0;
  bool startDrain = false;
  {
    std::lock_guard lock(m_mtxTx);
    int err = 0;
    // Older bytes go first: give the driver what is still queued, and write
    // directly only when nothing is left waiting.
    if (!DrainOutputLocked(m_hComm, err)) return 0;
    if (m_txQueue.Empty()) {
      const long put = serial::WriteDevice(m_hComm, p, n, err);
      if (put < 0) return 0;
      taken = static_cast<size_t>(put);
      startDrain = taken < n;
    }
    if (taken < n) {
      if (m_txQueue.Size() + (n - taken) > OUTPUT_QUEUE_SIZE) {
        // The far end has long stopped reading; the monitor reports the port lost.
        m_bTxOverflow = true;
        startDrain = true;
      } else {
        if (m_txQueue.Empty()) m_txMovedAt = std::chrono::steady_clock::now();
        m_txQueue.Append(p + taken, n - taken);
      }
    }
  }
  if (startDrain) m_waiter.Wake();  // the monitor starts watching for room
  return taken == n ? static_cast<uint32_t>(count) : 0;
}
