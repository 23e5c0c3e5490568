#include "app/window/ViewBridge.h"

#include <QMetaObject>
#include <QThread>

CViewBridge::CViewBridge(IDlgView& target, QObject* parent) : QObject(parent), m_target(target) {}

CViewBridge::~CViewBridge() { Close(); }

void CViewBridge::AppendLogLine(const std::string& text) {
  Call c;
  c.op = Op::Log;
  c.text = text;
  Submit(std::move(c), true);
}

void CViewBridge::AppendConsoleChar(char ch) {
  Call c;
  c.op = Op::Console;
  c.ch = ch;
  Submit(std::move(c), true);
}

void CViewBridge::SetControlText(int id, const std::string& text) {
  Call c;
  c.op = Op::Text;
  c.id = id;
  c.text = text;
  Submit(std::move(c), true);
}

void CViewBridge::EnableControl(int id, bool enable) {
  Call c;
  c.op = Op::Enable;
  c.id = id;
  c.flag = enable;
  Submit(std::move(c), true);
}

void CViewBridge::ShowMessageBox(const std::string& text, const std::string& caption) {
  Call c;
  c.op = Op::MessageBox;
  c.text = text;
  c.caption = caption;
  Submit(std::move(c), true);
}

void CViewBridge::PostWindowMessage(uint32_t msg, uint32_t wParam, int32_t lParam) {
  Call c;
  c.op = Op::WindowMessage;
  c.msg = msg;
  c.wParam = wParam;
  c.lParam = lParam;
  Submit(std::move(c), false);
}

std::string CViewBridge::GetControlText(int id) {
  // Reading a control is only safe on the window's thread; elsewhere there is no answer.
  if (QThread::currentThread() != thread()) return {};
  return m_target.GetControlText(id);
}

void CViewBridge::Close() {
  std::lock_guard lock(m_mutex);
  m_closed = true;
  m_queue.clear();
  m_done.notify_all();
}

bool CViewBridge::IsClosed() const {
  std::lock_guard lock(m_mutex);
  return m_closed;
}

size_t CViewBridge::Pending() const {
  std::lock_guard lock(m_mutex);
  return m_queue.size();
}

void CViewBridge::Submit(Call call, bool wait) {
  const bool onWindowThread = QThread::currentThread() == thread();
  std::unique_lock lock(m_mutex);
  if (m_closed) return;
  call.seq = m_nextSeq++;
  const uint64_t seq = call.seq;
  m_queue.push_back(std::move(call));
  if (onWindowThread) {
    // A call from the window's own thread: run the queue now instead of
    // waiting for a thread that is this one.
    lock.unlock();
    Drain();
    return;
  }
  if (!m_drainPosted) {
    m_drainPosted = true;
    // Posted under the lock, so the window sees the queued call when it runs.
    QMetaObject::invokeMethod(this, "Drain", Qt::QueuedConnection);
  }
  if (wait) m_done.wait(lock, [&] { return m_closed || m_doneSeq >= seq; });
}

void CViewBridge::Drain() {
  // A call that runs a nested event loop (a message box) must finish before
  // the calls behind it start.
  if (m_draining) return;
  m_draining = true;
  for (;;) {
    Call call;
    {
      std::lock_guard lock(m_mutex);
      if (m_closed || m_queue.empty()) {
        m_drainPosted = false;
        break;
      }
      call = std::move(m_queue.front());
      m_queue.pop_front();
    }
    Execute(call);
    std::lock_guard lock(m_mutex);
    m_doneSeq = call.seq;
    m_done.notify_all();
  }
  m_draining = false;
}

void CViewBridge::Execute(const Call& c) {
  switch (c.op) {
    case Op::Log: m_target.AppendLogLine(c.text); break;
    case Op::Console: m_target.AppendConsoleChar(c.ch); break;
    case Op::Text: m_target.SetControlText(c.id, c.text); break;
    case Op::Enable: m_target.EnableControl(c.id, c.flag); break;
    case Op::MessageBox: m_target.ShowMessageBox(c.text, c.caption); break;
    case Op::WindowMessage: m_target.PostWindowMessage(c.msg, c.wParam, c.lParam); break;
  }
}
