// CComPort: one serial port, opened for exclusive use, with a monitor thread
// that turns line events into thread messages for the port's owner.
//
// Typical use by the owner (the worker thread):
//
//   CComPort port;
//   port.SetNotifyThreadId(myThreadId);     // where WM_COMM_* go
//   if (port.SetPortNumber(n) && port.OpenPort() && port.SetupPort() &&
//       port.ApplySettingsText("115200,N,8,1")) { ... }
//   // or by device path: port.SetPortName("/dev/ttyUSB0", n); then the same
//   port.ReadPort(buf, 4096, 10);   // on WM_COMM_RXCHAR
//   port.WritePort(bytes, n);
//   port.ClosePort();
//
// Threads: every operation is called from the owner's thread only. The
// monitor thread runs while the port is open and only posts messages; it
// never waits for the owner. Every notification carries the port number in
// wParam and is posted only while the owner's message queue is alive:
//   WM_COMM_RXCHAR   input is waiting; one per receive event: the next one
//                    comes only after ReadPort has run (at once if ReadPort
//                    left bytes behind)
//   WM_COMM_TXEMPTY  output that WritePort had to queue has all gone to the driver
//   WM_COMM_BREAK, WM_COMM_ERR (lParam: CE_ flags)   where the driver counts
//                    line errors (real UARTs, not pseudo-terminals)
//   WM_COMM_LOST     the device went away (hang-up, unplugged adapter), the
//                    monitor's wait failed, or output stopped moving (see
//                    OUTPUT_QUEUE_SIZE); once per open; lParam the errno
//                    seen (ETIMEDOUT for output), 0 for a plain hang-up
// The modem-line notifications (CTS, DSR, RLSD, RING) are not raised by the
// POSIX monitor: the line runs without flow control, nothing in the program
// uses them, and waiting for them would need a second blocking thread per port.
#pragma once

#include "comm/ByteQueue.h"
#include "comm/platform/SerialPlatform.h"
#include "core/View.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

// How the errno of a failed OpenPort (CComPort::LastError) reads as a
// port-open result; 0 is Opened.
PortOpenResult PortOpenResultFromError(int err);

class CComPort {
public:
  // Event bits of the monitor's event mask.
  static constexpr uint32_t EV_RXCHAR = 0x0001;
  static constexpr uint32_t EV_TXEMPTY = 0x0004;
  static constexpr uint32_t EV_CTS = 0x0008;
  static constexpr uint32_t EV_DSR = 0x0010;
  static constexpr uint32_t EV_RLSD = 0x0020;
  static constexpr uint32_t EV_BREAK = 0x0040;
  static constexpr uint32_t EV_ERR = 0x0080;
  static constexpr uint32_t EV_RING = 0x0100;
  static constexpr uint32_t DEFAULT_EVENT_MASK = 0x1FD;

  static constexpr int32_t MIN_PORT_NUMBER = 1;
  static constexpr int32_t MAX_PORT_NUMBER = 1024;
  // How long ClosePort and the destructor give the monitor to end.
  static constexpr uint32_t MONITOR_GRACE_MS = 100;
  // Received bytes held for ReadPort on top of what the driver holds.
  static constexpr size_t INPUT_QUEUE_SIZE = 64 * 1024;
  // Bytes of WritePort held while the driver has no room. More than this, or
  // queued output that has not moved for WRITE_TIMEOUT_BASE_MS plus
  // WRITE_TIMEOUT_PER_BYTE_MS for each byte still queued, means the far end
  // has stopped reading: the port counts as lost (WM_COMM_LOST, ETIMEDOUT).
  static constexpr size_t OUTPUT_QUEUE_SIZE = 1024 * 1024;
  static constexpr uint32_t WRITE_TIMEOUT_BASE_MS = 1000;
  static constexpr uint32_t WRITE_TIMEOUT_PER_BYTE_MS = 1;

  CComPort();
  // Closes the port if it is open. A class derived from CComPort that
  // overrides a handler must call ClosePort() in its own destructor, so that
  // the monitor has ended before the derived members go.
  virtual ~CComPort();
  CComPort(const CComPort&) = delete;
  CComPort& operator=(const CComPort&) = delete;

  // The owner's message-queue id that notifications are posted to; read by
  // the monitor thread, so it is atomic. 0: no notifications.
  std::atomic<uint32_t> m_dwNotifyThreadId{0};

  // --- Owner's settings; made while the port is closed. ---
  // Where notifications go: the owner's message-queue id (0: nowhere).
  // m_dwNotifyThreadId may also be assigned directly.
  void SetNotifyThreadId(uint32_t threadId) { m_dwNotifyThreadId.store(threadId); }
  // On by default: OpenPort starts the monitor and fails when it cannot.
  void SetAutoStartMonitor(bool on) { m_bAutoStartMonitor = on; }
  void SetEventMask(uint32_t mask) { m_dwEventMask.store(mask); }

  // COM number n names /dev/ttyS<n-1> (\\.\COMn on Windows); a device mapped to the number by the
  // caller is named with SetPortName. Numbers outside 1..1024 are refused:
  // false, and the name is cleared so no open can follow.
  bool SetPortNumber(int32_t n);
  // Names the device directly; nPortNo is what notifications carry in wParam.
  void SetPortName(const std::string& devicePath, int32_t nPortNo = 0);
  int32_t GetPortNumber() const { return m_nPortNo; }
  const std::string& GetPortName() const { return m_strPortName; }
  bool IsOpen() const { return m_hComm != serial::kNoPort; }
  // The errno of the last failed OpenPort (EBUSY: in use, ENOENT: no such
  // device, EACCES, ENOTTY: not a serial device); 0 after a successful one.
  int LastError() const { return m_nLastError; }

  // --- Open, configure, close. ---
  // Closes the port first if it is open. Opens the named device for this
  // program alone, raw 8-bit and flow control off, then starts the monitor.
  virtual bool OpenPort();
  // Discards everything queued in both directions.
  virtual bool SetupPort();
  // Sets baud, parity, data and stop bits from "115200,N,8,1" and the like
  // (see CommSettings.h). Any rate the driver takes, standard or not.
  bool ApplySettingsText(const char* text);
  // Parity and stop bits are serial::NOPARITY..., serial::ONESTOPBIT...
  bool ApplyLineSettings(uint32_t baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits);
  // Opens the device, discards what is queued and sets the baud with 8 data
  // bits, no parity, one stop bit; the port number notifications carry is kept.
  bool OpenAtBaud(const std::string& devicePath, uint32_t baud);
  // Sets the open port to `baud`, 8 data bits, no parity, one stop bit, as
  // closing and opening it again would (queues emptied, monitor restarted),
  // but keeps the device and its exclusive lock; opens it anew when it was
  // closed or lost.
  bool ReopenAtBaud(uint32_t baud);
  // The line settings as the driver holds them now.
  bool GetLineSettings(serial::LineSettings& out);
  // Drops output still queued, stops the monitor, closes the device.
  // Harmless on a closed port.
  virtual void ClosePort();

  // --- Data. ---
  // Takes up to `capacity` bytes that have already arrived; never waits for
  // more (waitMs is accepted for the callers' sake: a read never pends here).
  // A line error that the driver has counted since the last look drops all
  // queued input and gives 0. Returns 0 on a closed port.
  uint32_t ReadPort(void* buffer, uint32_t capacity, uint32_t waitMs = 0);
  // Copies the bytes and returns at once. Whatever the driver cannot take
  // now is queued and sent as it makes room, so all bytes of all writes go
  // out in call order. Returns count when the driver took everything at
  // once, 0 when part of it was queued or the device has failed. A write
  // that would overfill the queue is dropped and the port reported lost.
  uint32_t WritePort(const void* bytes, int32_t count);
  // The number of received bytes ReadPort could take now.
  uint32_t InputQueued();
  // The far end owes `bytes` more beyond what ReadPort has handed out (a
  // block it sends without pause, once asked): the monitor may let them
  // gather until they are due at the line's rate, at most
  // CPortWaiter::kOwedGatherMs a time, and posts fewer notifications. 0
  // withdraws it; so do DiscardInput, a close and an open. Only for input
  // that no reply waits on: anything else still arrives, but late.
  void ExpectInput(size_t bytes);
  // Drops every received byte not yet read, ours and the driver's.
  void DiscardInput();
  // Bytes written that have not gone out on the line yet: those queued here
  // and those the driver still holds, where it can tell. 0 on a closed port.
  size_t OutputQueued();

  // --- Monitor thread. ---
  // Started by OpenPort; false when one already runs or the port is closed.
  bool StartMonitor();
  // Wakes the monitor and waits at most graceMs for it to end. False when
  // none runs, or when it has not ended in time: it then stays told to stop
  // and ends at its next step; ClosePort leaves the device for it to close,
  // and the next OpenPort, StartMonitor or the destructor waits for it.
  bool StopMonitor(uint32_t graceMs);

protected:
  // Called on the monitor thread, one per event; each posts one notification.
  virtual void OnReceiveEvent();
  virtual void OnDsrEvent();
  virtual void OnCtsEvent();
  virtual void OnBreakEvent();
  virtual void OnTxEmptyEvent();
  virtual void OnErrorEvent(uint32_t ceFlags);
  virtual void OnRingEvent();
  virtual void OnRlsdEvent();
  virtual void OnLostEvent(int err);
  // The monitor thread's body: 0 when told to stop, 1 when its wait failed.
  virtual int MonitorLoop();

  // Posts to the owner while the monitor runs and the owner's queue lives.
  bool Notify(uint32_t message, int32_t lParam);

private:
  // What the monitor saw of the device going away during one wake-up.
  struct DeviceLoss {
    bool gone = false;
    bool hungUp = false;
    int err = 0;  // errno to report; stays 0 for a hang-up
    void Note(int error);
  };
  void MonitorMain();
  // Input is watched while the queue has room, output while bytes wait;
  // timeoutMs: how long queued output may still wait (-1: no limit).
  void WhatToWatch(bool& input, bool& output, int& timeoutMs, serial::ExpectedInput& expected);
  // Queued output that overflowed or has not moved in time: the far end is
  // not reading. The queue is dropped and the loss noted.
  void CheckOutputStall(DeviceLoss& loss);
  // When queued output has waited too long; m_mtxTx held.
  std::chrono::steady_clock::time_point OutputDeadlineLocked() const;
  // Raises the line-error notifications (when the driver counts errors:
  // `counts` set) and takes what the driver holds.
  void MonitorInput(serial::PortHandle h, serial::LineErrorCounts* counts, DeviceLoss& loss);
  // Gives the driver queued output; WM_COMM_TXEMPTY when that emptied the queue.
  void MonitorOutput(serial::PortHandle h, DeviceLoss& loss);
  void ReapMonitor();
  // Both run with the queue's mutex held; false (err set) when the device failed.
  bool FillInputLocked(serial::PortHandle h, int& err);
  bool DrainOutputLocked(serial::PortHandle h, int& err);
  void NotifyReceiveIfDue();
  // Empties the received bytes and forgets the expected stream; m_mtxRx held.
  void ClearInputLocked();
  // The expected stream's bytes still to come from the device; m_mtxRx held.
  serial::ExpectedInput OwedInputLocked() const;
  void DropOutput();
  bool TakeLineErrors();

  int32_t m_nPortNo = 0;
  serial::PortHandle m_hComm = serial::kNoPort;
  std::string m_strPortName;
  serial::LineSettings m_dcb;
  // The driver's error totals at the owner's last look, where it keeps them.
  serial::LineErrorCounts m_errorCounts;
  bool m_bHaveErrorCounts = false;
  int m_nLastError = 0;
  bool m_bAutoStartMonitor = true;
  std::atomic<uint32_t> m_dwEventMask{DEFAULT_EVENT_MASK};

  // Monitor thread and what it works on, fixed when it starts.
  std::thread m_hMonitorThread;
  std::atomic<bool> m_bMonitorRunning{false};
  serial::PortHandle m_hMonitorPort = serial::kNoPort;
  int32_t m_nMonitorPortNo = 0;
  serial::CPortWaiter m_waiter;
  std::atomic<bool> m_bPortLost{false};
  // Monitor's end, as seen by StopMonitor; a device it must close when ClosePort gave up waiting.
  std::mutex m_mtxMonitor;
  std::condition_variable m_cvMonitor;
  bool m_bMonitorDone = true;
  serial::PortHandle m_hOrphanPort = serial::kNoPort;

  // Received bytes; m_bRxNotified: a WM_COMM_RXCHAR is out and ReadPort has
  // not run since; m_nRxFilled: bytes ever put into the queue; the expected
  // stream ends at that count m_nExpectEnd (none when not beyond it).
  std::mutex m_mtxRx;
  CByteQueue m_rxQueue;
  bool m_bRxNotified = false;
  uint64_t m_nRxFilled = 0;
  uint64_t m_nExpectEnd = 0;
  int64_t m_nExpectByteNs = 0;
  // Bytes of WritePort that the driver had no room for yet; when they last
  // moved (or began to wait); whether a write found no room in the queue.
  std::mutex m_mtxTx;
  CByteQueue m_txQueue;
  std::chrono::steady_clock::time_point m_txMovedAt;
  bool m_bTxOverflow = false;
};
