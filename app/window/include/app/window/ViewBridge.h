// Carries the worker thread's view calls over to the window's thread.
//
// The worker calls this view from its own thread; each call is queued and
// carried out on the window's thread, in the order the calls were made, by
// the target view there. A call returns once the window's thread has carried
// it out (PostWindowMessage returns at once). The window's thread itself
// never waits here.
//
// When the window closes it calls Close() before it stops the worker: a
// worker waiting in a call is released at once, queued calls are dropped and
// every later call does nothing. So stopping and joining the worker can never
// wait on a call that the window's thread would have to carry out.
#pragma once

#include "core/View.h"

#include <QObject>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

class CViewBridge : public QObject, public IDlgView {
  Q_OBJECT
public:
  // Lives on the thread that creates it, which must be the window's thread.
  explicit CViewBridge(IDlgView& target, QObject* parent = nullptr);
  ~CViewBridge() override;

  void AppendLogLine(const std::string& text) override;
  void AppendConsoleChar(char ch) override;
  void SetControlText(int id, const std::string& text) override;
  void EnableControl(int id, bool enable) override;
  void ShowMessageBox(const std::string& text, const std::string& caption) override;
  void PostWindowMessage(uint32_t msg, uint32_t wParam, int32_t lParam) override;
  // Only the window's thread asks for captions; it asks its controls directly.
  std::string GetControlText(int id) override;

  // Releases waiting callers and turns every later call into nothing.
  void Close();
  bool IsClosed() const;
  // Calls waiting to be carried out.
  size_t Pending() const;

private:
  enum class Op { Log, Console, Text, Enable, MessageBox, WindowMessage };
  struct Call {
    Op op = Op::Log;
    int id = 0;
    bool flag = false;
    char ch = 0;
    std::string text;
    std::string caption;
    uint32_t msg = 0, wParam = 0;
    int32_t lParam = 0;
    uint64_t seq = 0;
  };

  void Submit(Call call, bool wait);
  Q_INVOKABLE void Drain();
  void Execute(const Call& call);

  IDlgView& m_target;
  mutable std::mutex m_mutex;
  std::condition_variable m_done;
  std::deque<Call> m_queue;
  uint64_t m_nextSeq = 1;
  uint64_t m_doneSeq = 0;
  bool m_closed = false;
  bool m_drainPosted = false;
  bool m_draining = false;  // window's thread only
};
