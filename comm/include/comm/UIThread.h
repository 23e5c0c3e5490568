// The worker thread: owns the serial port and the update, and handles the
// window's requests, the port's notifications and the timer ticks one at a
// time in posting order.
#pragma once

#include "comm/ComPort.h"
#include "comm/MsgThread.h"
#include "core/View.h"
#include "comm/UpdateClock.h"
#include "update/UpdateEngine.h"
#include "update/UpdateIo.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

struct UIThreadDeps {
  IDlgView& view;
  IFileAccess& files;
  IBatchSource& batch;
  IUpdateObserver* observer = nullptr;
  // Folder of boot.bin and flash.bin, ending in '/'.
  std::string configDir;
  // Where the worker publishes its thread id while it runs (the application
  // object's m_dwWorkerThreadId).
  std::atomic<uint32_t>* publishedId = nullptr;
  // The protocol's waits; the real clock when null.
  IUpdateClock* clock = nullptr;
  // True once the front end has asked to stop after the block in flight
  // (the command line's Ctrl-C); called on the worker thread. None: never.
  std::function<bool()> windDown;
};

class CUIThread : public CMsgThread {
public:
  explicit CUIThread(UIThreadDeps deps);
  // Stops the thread and waits for it; the port is closed by then.
  ~CUIThread() override;

  // Receive buffer size of one read.
  static constexpr size_t kReadCapacity = 4096;
  static constexpr uint32_t kReadWaitMs = 10;

protected:
  bool InitInstance() override;
  int ExitInstance() override;

private:
  // The port as the update sees it.
  class CPortAdapter : public IUpdatePort {
  public:
    explicit CPortAdapter(CUIThread& owner) : m_owner(owner) {}
    void Write(const uint8_t* data, size_t length) override;
    size_t OutputQueued() override;
    void DiscardInput() override;
    bool InputWithin(uint32_t milliseconds) override;
    void ExpectStream(size_t bytes) override;
    PortOpenResult ReopenAtBaud(uint32_t baud) override;

  private:
    CUIThread& m_owner;
  };

  // What the update learns of a stop while one of its steps runs: a
  // WM_UPDATE_STOP or the quit queued behind the step, or the front end's
  // wish to stop after the block in flight.
  class CStopProbe : public IUpdateStop {
  public:
    explicit CStopProbe(CUIThread& owner) : m_owner(owner) {}
    bool StopWaiting() override;
    bool WindingDown() override;

  private:
    CUIThread& m_owner;
  };

  // The real clock. A wait that a stop may cut short sleeps on the worker's
  // queue, where the stop arrives, instead of waking every slice to look.
  class CQueueClock : public CSteadyClock {
  public:
    explicit CQueueClock(CUIThread& owner) : m_owner(owner) {}
    bool WaitOrStop(uint32_t milliseconds, const std::function<bool()>& stopWaiting) override;

  private:
    CUIThread& m_owner;
  };

  void OnPortOpen(ThreadMessage& msg);
  void OnPortClose(ThreadMessage& msg);
  void OnCommRxChar(ThreadMessage& msg);
  void OnCommTxEmpty(ThreadMessage& msg);
  void OnCommLost(ThreadMessage& msg);
  void OnUpdateStart(ThreadMessage& msg);
  void OnUpdateStop(ThreadMessage& msg);
  void OnUpdateTick(ThreadMessage& msg);

  // Points the port at the device of m_nPort, or at the path a front end named.
  void SelectDevice();
  // Opens the device of m_nPort, empties its queues and sets the line with
  // `setLine`. The result says which step failed.
  PortOpenResult OpenSelectedPort(const std::function<bool(CComPort&)>& setLine);
  void ShowPortControlsOpen(bool open);

  UIThreadDeps m_deps;
  CComPort m_comm;
  int32_t m_nPort = 1;
  std::string m_devicePath;
  CQueueClock m_queueClock{*this};
  CPortAdapter m_portAdapter{*this};
  CStopProbe m_stopProbe{*this};
  CUpdateEngine m_update;
  std::array<uint8_t, kReadCapacity> m_rxBuffer{};
};
