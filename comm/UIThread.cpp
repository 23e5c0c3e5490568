#include "comm/UIThread.h"

#include "core/Messages.h"
#include "core/Requests.h"

#include <cerrno>
#include <cstring>
#include <functional>

namespace {
constexpr int32_t kMinPort = 1;
constexpr int32_t kMaxPort = 1024;
// Lists 1002-1006 in the order the window's answer changes them.
constexpr int kPortLists[] = {ctl::PORT_LIST, ctl::BAUD_LIST, ctl::DATABITS_LIST, ctl::PARITY_LIST,
                              ctl::STOPBITS_LIST};
}  // namespace

CUIThread::CUIThread(UIThreadDeps deps)
    : m_deps(std::move(deps)),
      m_update(UpdateEngineDeps{m_portAdapter, m_deps.view, m_deps.clock ? *m_deps.clock : m_queueClock,
                                m_deps.files, m_deps.batch, m_deps.observer, m_deps.configDir, &m_stopProbe}) {
  OnMessage(WM_PORT_OPEN, [this](ThreadMessage& m) { OnPortOpen(m); });
  OnMessage(WM_PORT_CLOSE, [this](ThreadMessage& m) { OnPortClose(m); });
  OnMessage(WM_COMM_RXCHAR, [this](ThreadMessage& m) { OnCommRxChar(m); });
  OnMessage(WM_COMM_TXEMPTY, [this](ThreadMessage& m) { OnCommTxEmpty(m); });
  OnMessage(WM_COMM_LOST, [this](ThreadMessage& m) { OnCommLost(m); });
  OnMessage(WM_UPDATE_START, [this](ThreadMessage& m) { OnUpdateStart(m); });
  OnMessage(WM_UPDATE_STOP, [this](ThreadMessage& m) { OnUpdateStop(m); });
  OnMessage(WM_UPDATE_TICK, [this](ThreadMessage& m) { OnUpdateTick(m); });
}

CUIThread::~CUIThread() {
  StopThread();
  // ExitInstance has closed the port if the thread ran; make sure all the same.
  m_comm.ClosePort();
}

bool CUIThread::InitInstance() {
  m_nPort = 1;
  if (m_deps.publishedId) m_deps.publishedId->store(SelfId());
  m_comm.SetNotifyThreadId(SelfId());
  return true;
}

int CUIThread::ExitInstance() {
  if (m_deps.publishedId) m_deps.publishedId->store(0);
  m_update.Shutdown();
  m_comm.ClosePort();
  return CMsgThread::ExitInstance();
}

void CUIThread::SelectDevice() {
  if (!m_devicePath.empty()) m_comm.SetPortName(m_devicePath, m_nPort);
  else m_comm.SetPortNumber(m_nPort);
}

void CUIThread::ShowPortControlsOpen(bool open) {
  m_deps.view.SetControlText(ctl::OPEN_BUTTON, open ? kCaptionClose : kCaptionOpen);
  for (int id : kPortLists) m_deps.view.EnableControl(id, !open);
  m_deps.view.EnableControl(ctl::LINK_BUTTON, open);
  m_deps.view.EnableControl(ctl::CANCEL_BUTTON, open);
}

PortOpenResult CUIThread::OpenSelectedPort(const std::function<bool(CComPort&)>& setLine) {
  if (m_nPort < kMinPort || m_nPort > kMaxPort) return PortOpenResult::BadPortNumber;
  SelectDevice();
  if (!m_comm.OpenPort()) return PortOpenResultFromError(m_comm.LastError());
  return m_comm.SetupPort() && setLine(m_comm) ? PortOpenResult::Opened : PortOpenResult::SetupFailed;
}

void CUIThread::OnPortOpen(ThreadMessage& msg) {
  std::string settingsText;
  m_devicePath.clear();
  if (auto* request = std::any_cast<PortOpenRequest>(&msg.payload)) {
    settingsText = request->settingsText;
    m_devicePath = request->devicePath;
  }
  if (m_comm.IsOpen()) m_comm.ClosePort();
  m_nPort = msg.lParam;
  const PortOpenResult result =
      OpenSelectedPort([&](CComPort& port) { return port.ApplySettingsText(settingsText.c_str()); });
  // The result is told first, so that a front end showing the box knows why.
  if (m_deps.observer) m_deps.observer->OnPortOpenResult(result);
  if (result == PortOpenResult::Opened) {
    ShowPortControlsOpen(true);
  } else {
    m_deps.view.ShowMessageBox("Can't open port!", "Error");
    m_deps.view.SetControlText(ctl::OPEN_BUTTON, kCaptionOpen);
  }
}

void CUIThread::OnPortClose(ThreadMessage&) {
  if (m_comm.IsOpen()) m_comm.ClosePort();
  ShowPortControlsOpen(false);
}

void CUIThread::OnCommRxChar(ThreadMessage& msg) {
  if (static_cast<int32_t>(msg.wParam) != m_nPort) return;
  const size_t n = m_comm.ReadPort(m_rxBuffer.data(), static_cast<uint32_t>(m_rxBuffer.size()), kReadWaitMs);
  // An empty read still goes to the update: an 'X' that waits for the
  // quiet behind it is judged again.
  if (n > 0 && m_deps.observer) m_deps.observer->OnBytesReceived(n);
  m_update.OnReceive(m_rxBuffer.data(), n);
}

void CUIThread::OnCommTxEmpty(ThreadMessage& msg) {
  if (static_cast<int32_t>(msg.wParam) != m_nPort) return;
  m_update.OnOutputDrained();
}

void CUIThread::OnCommLost(ThreadMessage& msg) {
  if (static_cast<int32_t>(msg.wParam) != m_nPort) return;
  std::string reason = msg.lParam == 0           ? "the line hung up"
                       : msg.lParam == ETIMEDOUT ? "the far end stopped taking output"
                                                 : std::strerror(static_cast<int>(msg.lParam));
  if (m_update.Stage() != STAGE_IDLE) {
    // The update ends; the window's stop sequence then closes the port.
    m_update.OnPortLost(reason);
    return;
  }
  if (m_comm.IsOpen()) m_comm.ClosePort();
  m_deps.view.AppendLogLine("\nThe port went away: " + reason + ".");
  ShowPortControlsOpen(false);
  if (m_deps.observer) m_deps.observer->OnPortLost();
}

void CUIThread::OnUpdateStart(ThreadMessage& msg) {
  if (auto* settings = std::any_cast<UpdateSettings>(&msg.payload)) m_update.OnUpdateStart(*settings);
  else m_update.OnUpdateStart(UpdateSettings{});
}

void CUIThread::OnUpdateStop(ThreadMessage&) { m_update.OnUpdateStop(); }

void CUIThread::OnUpdateTick(ThreadMessage& msg) { m_update.OnUpdateTick(msg.wParam); }

void CUIThread::CPortAdapter::Write(const uint8_t* data, size_t length) {
  m_owner.m_comm.WritePort(data, static_cast<int32_t>(length));
}

size_t CUIThread::CPortAdapter::OutputQueued() { return m_owner.m_comm.OutputQueued(); }

void CUIThread::CPortAdapter::DiscardInput() { m_owner.m_comm.DiscardInput(); }

void CUIThread::CPortAdapter::ExpectStream(size_t bytes) { m_owner.m_comm.ExpectInput(bytes); }

bool CUIThread::CPortAdapter::InputWithin(uint32_t milliseconds) {
  // The monitor announces received bytes with a notification; a stop that
  // comes meanwhile ends the wait as well, so that it is handled at once.
  const int32_t port = m_owner.m_nPort;
  return m_owner.AwaitQueued(
      [port](const ThreadMessage& m) {
        return (m.message == WM_COMM_RXCHAR && static_cast<int32_t>(m.wParam) == port) ||
               m.message == WM_UPDATE_STOP;
      },
      milliseconds, true);
}

bool CUIThread::CQueueClock::WaitOrStop(uint32_t milliseconds, const std::function<bool()>& stopWaiting) {
  if (stopWaiting()) return false;
  // Other messages (received bytes, timer ticks) wake the queue's wait but do not end it.
  m_owner.AwaitQueued([](const ThreadMessage& m) { return m.message == WM_UPDATE_STOP; }, milliseconds, true);
  return !stopWaiting();
}

bool CUIThread::CStopProbe::StopWaiting() {
  return m_owner.AwaitQueued([](const ThreadMessage& m) { return m.message == WM_UPDATE_STOP; }, 0, true);
}

bool CUIThread::CStopProbe::WindingDown() { return m_owner.m_deps.windDown && m_owner.m_deps.windDown(); }

PortOpenResult CUIThread::CPortAdapter::ReopenAtBaud(uint32_t baud) {
  // The open port changes rate in place and keeps its lock; a port that was
  // closed or lost is opened anew, and why that failed is reported.
  CComPort& port = m_owner.m_comm;
  if (port.IsOpen() && port.ReopenAtBaud(baud)) return PortOpenResult::Opened;
  port.ClosePort();
  return m_owner.OpenSelectedPort([baud](CComPort& p) {
    return p.ApplyLineSettings(baud, 8, serial::NOPARITY, serial::ONESTOPBIT);
  });
}
