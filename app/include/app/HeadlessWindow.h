// The main window's message loop and timers for front ends without a window
// toolkit (the command line, tests): a queue for the worker's window
// messages, the two window timers, and a view whose control state may be
// changed from the worker thread.
#pragma once

#include "app/DlgLogic.h"
#include "core/View.h"
#include "comm/MsgThread.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

class CHeadlessWindow : public IDlgTimers {
public:
  using Clock = std::chrono::steady_clock;

  CHeadlessWindow();
  ~CHeadlessWindow() override;

  // The id under which the worker posts window messages.
  uint32_t Id() const { return m_id; }

  void SetTimer(uint32_t id, uint32_t periodMs) override;
  void KillTimer(uint32_t id) override;

  // Hands over the next window message or timer tick due before the
  // deadline; returns false when the deadline passed with nothing to do.
  bool PumpOne(Clock::time_point deadline);
  // Wakes a PumpOne that waits, which then returns true with nothing done.
  void Wake();

  std::function<void(const ThreadMessage&)> onMessage;
  std::function<void(uint32_t)> onTimer;

private:
  struct Timer {
    std::chrono::milliseconds period;
    Clock::time_point due;
  };
  std::shared_ptr<CMessageQueue> m_queue;
  uint32_t m_id = 0;
  std::map<uint32_t, Timer> m_timers;  // window thread only
};

// A view whose control state (captions, enabled flags) is kept here under a
// lock, so the worker may change it while the window's thread reads it.
// Window messages go to a headless window's queue. Log lines, console
// characters and message boxes are left to the front end.
class CHeadlessView : public IDlgView {
public:
  explicit CHeadlessView(uint32_t windowId) : m_windowId(windowId) {}

  void SetControlText(int id, const std::string& text) override;
  std::string GetControlText(int id) override;
  void EnableControl(int id, bool enable) override;
  void PostWindowMessage(uint32_t msg, uint32_t wParam, int32_t lParam) override;
  bool IsEnabled(int id);

private:
  uint32_t m_windowId;
  std::mutex m_mutex;
  std::map<int, std::string> m_texts;
  std::map<int, bool> m_enabled;
};
