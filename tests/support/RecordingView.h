// A view for tests that records every call, in order, as one line of text:
//   "log:TEXT"  "con:C"  "text:ID=TEXT"  "enable:ID=1"  "box:TEXT/CAPTION"  "post:MSG,W,L"
// Log lines, console characters and posted messages are also kept apart.
// Another view may keep the control state and take the posted messages; the
// recording view passes those calls on to it.
//
// Calls may come from any thread. Take() waits for events and is safe while
// they come; read the other members only when no other thread calls the view.
#pragma once

#include "core/Messages.h"
#include "core/View.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct PostedMessage {
  uint32_t msg;
  uint32_t wParam;
  int32_t lParam;
  bool operator==(const PostedMessage&) const = default;
};

inline std::string PostEvent(uint32_t msg, uint32_t wParam, int32_t lParam) {
  return "post:" + std::to_string(msg) + "," + std::to_string(wParam) + "," + std::to_string(lParam);
}

class CRecordingView : public IDlgView {
public:
  // Sees every event as it is recorded, e.g. to merge it with other fakes' events.
  using Listener = std::function<void(const std::string&)>;

  explicit CRecordingView(Listener listener = {}, IDlgView* controls = nullptr)
      : m_listener(std::move(listener)), m_controls(controls) {}

  void AppendLogLine(const std::string& text) override {
    Add("log:" + text, [&] { logs.push_back(text); });
  }
  void AppendConsoleChar(char ch) override {
    Add(std::string("con:") + ch, [&] { console.push_back(ch); });
  }
  void SetControlText(int id, const std::string& text) override {
    Add("text:" + std::to_string(id) + "=" + text, [] {});
    if (m_controls != nullptr) m_controls->SetControlText(id, text);
  }
  std::string GetControlText(int id) override {
    return m_controls != nullptr ? m_controls->GetControlText(id) : IDlgView::GetControlText(id);
  }
  void EnableControl(int id, bool enable) override {
    Add("enable:" + std::to_string(id) + "=" + (enable ? "1" : "0"), [] {});
    if (m_controls != nullptr) m_controls->EnableControl(id, enable);
  }
  void ShowMessageBox(const std::string& text, const std::string& caption) override {
    Add("box:" + text + "/" + caption, [] {});
  }
  void PostWindowMessage(uint32_t msg, uint32_t wParam, int32_t lParam) override {
    Add(PostEvent(msg, wParam, lParam), [&] { posts.push_back({msg, wParam, lParam}); });
    if (m_controls != nullptr) m_controls->PostWindowMessage(msg, wParam, lParam);
  }

  // Waits until `count` events have come in all (or the time is up), then
  // returns them and forgets them.
  std::vector<std::string> Take(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    std::unique_lock lock(m_mutex);
    m_cv.wait_for(lock, limit, [&] { return m_events.size() >= count; });
    auto out = std::move(m_events);
    m_events.clear();
    return out;
  }

  // The percentages of the progress messages posted.
  std::vector<int32_t> Progress() const {
    std::vector<int32_t> out;
    for (const PostedMessage& p : posts)
      if (p.msg == WM_UPDATE_PROGRESS) out.push_back(p.lParam);
    return out;
  }
  int Count(uint32_t msg) const {
    int n = 0;
    for (const PostedMessage& p : posts) n += p.msg == msg;
    return n;
  }
  // Records an event of another fake (an observer) among the view's calls,
  // so their order shows.
  void Record(std::string event) { Add(std::move(event), [] {}); }

  // Forgets everything recorded so far.
  void Clear() {
    std::lock_guard lock(m_mutex);
    m_events.clear();
    logs.clear();
    console.clear();
    posts.clear();
  }

  std::vector<std::string> logs;
  std::string console;
  std::vector<PostedMessage> posts;

private:
  template <typename Keep>
  void Add(std::string event, Keep keep) {
    if (m_listener) m_listener(event);
    {
      std::lock_guard lock(m_mutex);
      keep();
      m_events.push_back(std::move(event));
    }
    m_cv.notify_all();
  }

  Listener m_listener;
  IDlgView* m_controls;
  std::mutex m_mutex;
  std::condition_variable m_cv;
  std::vector<std::string> m_events;
};
