// CComPort's monitor thread: starting and stopping it, its wait on the
// device, and the notifications it posts to the port's owner.
#include "comm/ComPort.h"

#include "core/Messages.h"
#include "comm/MsgThread.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

bool CComPort::StartMonitor() {
  if (!IsOpen() || !m_waiter.IsValid()) return false;
  if (m_hMonitorThread.joinable()) {
    if (m_bMonitorRunning.load()) return false;
    ReapMonitor();
  }
  m_hMonitorPort = m_hComm;
  m_nMonitorPortNo = m_nPortNo;
  {
    std::lock_guard lock(m_mtxMonitor);
    m_bMonitorDone = false;
    m_hOrphanPort = serial::kNoPort;
  }
  m_bMonitorRunning.store(true);
  try {
    m_hMonitorThread = std::thread([this] { MonitorMain(); });
  } catch (...) {
    m_bMonitorRunning.store(false);
    std::lock_guard lock(m_mtxMonitor);
    m_bMonitorDone = true;
    return false;
  }
  return true;
}

bool CComPort::StopMonitor(uint32_t graceMs) {
  if (!m_hMonitorThread.joinable()) return false;
  m_bMonitorRunning.store(false);
  m_waiter.Wake();
  {
    std::unique_lock lock(m_mtxMonitor);
    if (!m_cvMonitor.wait_for(lock, std::chrono::milliseconds(graceMs), [&] { return m_bMonitorDone; }))
      return false;
  }
  m_hMonitorThread.join();
  m_waiter.Reset();
  return true;
}

void CComPort::ReapMonitor() {
  if (!m_hMonitorThread.joinable()) return;
  m_bMonitorRunning.store(false);
  m_waiter.Wake();
  m_hMonitorThread.join();
  m_waiter.Reset();
}

void CComPort::MonitorMain() {
  MonitorLoop();
  serial::PortHandle orphan;
  {
    std::lock_guard lock(m_mtxMonitor);
    m_bMonitorDone = true;
    orphan = m_hOrphanPort;
    m_hOrphanPort = serial::kNoPort;
    m_cvMonitor.notify_all();
  }
  serial::CloseDevice(orphan);
}

bool CComPort::Notify(uint32_t message, int32_t lParam) {
  // Nothing reaches the owner once it has asked the monitor to stop.
  if (!m_bMonitorRunning.load()) return false;
  const uint32_t target = m_dwNotifyThreadId.load();
  if (!IsMessageThreadAlive(target)) return false;
  return PostThreadMessage(target, message, static_cast<uint32_t>(m_nMonitorPortNo), lParam);
}

void CComPort::NotifyReceiveIfDue() {
  bool due = false;
  {
    std::lock_guard lock(m_mtxRx);
    if (!m_rxQueue.Empty() && !m_bRxNotified) {
      m_bRxNotified = true;
      due = true;
    }
  }
  if (due && (m_dwEventMask & EV_RXCHAR)) OnReceiveEvent();
}

int CComPort::MonitorLoop() {
  using W = serial::CPortWaiter;
  const serial::PortHandle h = m_hMonitorPort;
  serial::LineErrorCounts counts;
  const bool haveCounts = serial::GetErrorCounts(h, counts);
  bool lost = false;

  while (m_bMonitorRunning.load()) {
    bool watchInput = false;
    bool watchOutput = false;
    int timeoutMs = -1;
    serial::ExpectedInput expected;
    if (!lost) WhatToWatch(watchInput, watchOutput, timeoutMs, expected);
    int err = 0;
    // After the device is lost only a wake-up ends the wait: a hung-up
    // device would otherwise report itself ready for ever.
    const uint32_t ev =
        m_waiter.Wait(lost ? serial::kNoPort : h, watchInput, watchOutput, err, timeoutMs, expected);
    if (ev & W::kFailed) {
      // Without its wait the monitor can report nothing more: the port is
      // as good as unplugged.
      if (!lost && m_bMonitorRunning.load()) {
        m_bPortLost.store(true);
        OnLostEvent(err != 0 ? err : EIO);
      }
      return 1;
    }
    if (!m_bMonitorRunning.load()) break;

    DeviceLoss loss;
    loss.hungUp = (ev & W::kHangup) != 0;
    if (loss.hungUp || (ev & W::kError)) loss.Note(err);
    if (ev & W::kReadable) MonitorInput(h, haveCounts ? &counts : nullptr, loss);
    // Also after ReadPort's wake-up, when it left bytes behind.
    NotifyReceiveIfDue();
    if (ev & W::kWritable) MonitorOutput(h, loss);
    if (!lost) CheckOutputStall(loss);

    if (loss.gone) {
      lost = true;
      m_bPortLost.store(true);
      OnLostEvent(loss.err);
    }
  }
  return 0;
}

void CComPort::DeviceLoss::Note(int error) {
  gone = true;
  // A hang-up is reported as such (0) even when the reads and writes that
  // meet it fail with EIO; an errno is passed on only for other failures.
  if (!hungUp && error != 0) err = error;
}

void CComPort::WhatToWatch(bool& input, bool& output, int& timeoutMs, serial::ExpectedInput& expected) {
  {
    std::lock_guard lock(m_mtxRx);
    input = m_rxQueue.Size() < INPUT_QUEUE_SIZE;
    expected = OwedInputLocked();
  }
  std::lock_guard lock(m_mtxTx);
  output = !m_txQueue.Empty();
  timeoutMs = -1;
  if (!output) return;
  const auto left = OutputDeadlineLocked() - std::chrono::steady_clock::now();
  // Rounded up, so that the wait does not end just short of the deadline.
  timeoutMs = static_cast<int>(std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
}

std::chrono::steady_clock::time_point CComPort::OutputDeadlineLocked() const {
  return m_txMovedAt + std::chrono::milliseconds(WRITE_TIMEOUT_BASE_MS) +
         std::chrono::milliseconds(static_cast<int64_t>(WRITE_TIMEOUT_PER_BYTE_MS) *
                                   static_cast<int64_t>(m_txQueue.Size()));
}

void CComPort::CheckOutputStall(DeviceLoss& loss) {
  std::lock_guard lock(m_mtxTx);
  const bool stalled = !m_txQueue.Empty() && std::chrono::steady_clock::now() >= OutputDeadlineLocked();
  if (!stalled && !m_bTxOverflow) return;
  m_txQueue.Clear();
  m_bTxOverflow = false;
  loss.Note(ETIMEDOUT);
}

void CComPort::MonitorInput(serial::PortHandle h, serial::LineErrorCounts* counts, DeviceLoss& loss) {
  serial::LineErrorCounts now;
  if (counts != nullptr && serial::GetErrorCounts(h, now)) {
    const uint32_t flags = serial::LineErrorFlags(*counts, now);
    *counts = now;
    if ((flags & serial::CE_BREAK) && (m_dwEventMask & EV_BREAK)) OnBreakEvent();
    if ((flags & ~serial::CE_BREAK) && (m_dwEventMask & EV_ERR)) OnErrorEvent(flags);
  }
  std::lock_guard lock(m_mtxRx);
  int readErr = 0;
  if (!FillInputLocked(h, readErr)) loss.Note(readErr);
}

void CComPort::MonitorOutput(serial::PortHandle h, DeviceLoss& loss) {
  bool emptied = false;
  {
    std::lock_guard lock(m_mtxTx);
    const bool hadOutput = !m_txQueue.Empty();
    int writeErr = 0;
    if (!DrainOutputLocked(h, writeErr)) {
      loss.Note(writeErr);
      m_txQueue.Clear();
    }
    emptied = hadOutput && m_txQueue.Empty() && !loss.gone;
  }
  if (emptied && (m_dwEventMask & EV_TXEMPTY)) OnTxEmptyEvent();
}

void CComPort::OnReceiveEvent() { Notify(WM_COMM_RXCHAR, 0); }

void CComPort::OnCtsEvent() {
  uint32_t ms = 0;
  if (serial::GetModemStatus(m_hMonitorPort, ms)) Notify(WM_COMM_CTS, (ms & serial::MS_CTS_ON) ? 1 : 0);
}

void CComPort::OnDsrEvent() {
  uint32_t ms = 0;
  if (serial::GetModemStatus(m_hMonitorPort, ms)) Notify(WM_COMM_DSR, (ms & serial::MS_DSR_ON) ? 1 : 0);
}

void CComPort::OnRingEvent() { Notify(WM_COMM_RING, 0); }

void CComPort::OnRlsdEvent() { Notify(WM_COMM_RLSD, 0); }

void CComPort::OnBreakEvent() { Notify(WM_COMM_BREAK, 0); }

void CComPort::OnTxEmptyEvent() { Notify(WM_COMM_TXEMPTY, 0); }

void CComPort::OnErrorEvent(uint32_t ceFlags) { Notify(WM_COMM_ERR, static_cast<int32_t>(ceFlags)); }

void CComPort::OnLostEvent(int err) { Notify(WM_COMM_LOST, err); }
