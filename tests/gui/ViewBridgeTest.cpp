// The hand-over of the worker's view calls to the window's thread, and the
// console box's handling of what the chip sends.
#include "tests/gui/WindowFixture.h"

#include "app/window/ViewBridge.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <mutex>
#include <thread>

namespace {

// Records each call with the thread it ran on.
class RecordingView : public IDlgView {
public:
  void AppendLogLine(const std::string& text) override { Record("log " + text); }
  void AppendConsoleChar(char ch) override { Record(std::string("char ") + ch); }
  void SetControlText(int id, const std::string& text) override { Record("text " + std::to_string(id) + " " + text); }
  void EnableControl(int id, bool enable) override { Record("enable " + std::to_string(id) + " " + (enable ? "1" : "0")); }
  void ShowMessageBox(const std::string& text, const std::string&) override {
    Record("box " + text);
    // A modal box runs an event loop of its own while it is shown.
    QEventLoop loop;
    QTimer::singleShot(50, &loop, &QEventLoop::quit);
    loop.exec();
    Record("box closed");
  }
  void PostWindowMessage(uint32_t msg, uint32_t, int32_t lParam) override {
    Record("post " + std::to_string(msg) + " " + std::to_string(lParam));
  }
  void Record(std::string what) {
    std::lock_guard lock(mutex);
    if (QThread::currentThread() != QApplication::instance()->thread()) wrongThread = true;
    calls.push_back(std::move(what));
  }
  size_t Count() {
    std::lock_guard lock(mutex);
    return calls.size();
  }
  std::mutex mutex;
  std::vector<std::string> calls;
  bool wrongThread = false;
};

TEST(ViewBridgeTest, WorkerCallsRunOnTheWindowThreadInTheOrderMade) {
  RecordingView target;
  CViewBridge bridge(target);
  std::vector<std::string> expected;
  std::atomic<bool> finished{false};
  std::atomic<size_t> seenAtReturn{0};
  std::thread worker([&] {
    for (int i = 0; i < 200; ++i) {
      bridge.AppendLogLine(std::to_string(i));
      // A waiting call returns only once the window has carried it out.
      seenAtReturn = target.Count();
      bridge.AppendConsoleChar(static_cast<char>('a' + i % 26));
      bridge.PostWindowMessage(WM_UPDATE_PROGRESS, 1, i);
      bridge.EnableControl(1017, i % 2);
    }
    bridge.ShowMessageBox("Can't open port!", "Error");
    bridge.SetControlText(1012, "Open");
    finished = true;
  });
  for (int i = 0; i < 200; ++i) {
    expected.push_back("log " + std::to_string(i));
    expected.push_back(std::string("char ") + static_cast<char>('a' + i % 26));
    expected.push_back("post " + std::to_string(WM_UPDATE_PROGRESS) + " " + std::to_string(i));
    expected.push_back("enable 1017 " + std::to_string(i % 2));
  }
  // The box's own event loop must not let the caption overtake it.
  for (const char* s : {"box Can't open port!", "box closed", "text 1012 Open"}) expected.push_back(s);
  EXPECT_TRUE(WaitFor([&] { return finished.load(); }));
  worker.join();
  EXPECT_EQ(target.calls, expected);
  EXPECT_FALSE(target.wrongThread);
  EXPECT_GE(seenAtReturn.load(), 797u);
  EXPECT_EQ(bridge.Pending(), 0u);
}

TEST(ViewBridgeTest, ClosingReleasesAWaitingWorkerAndLaterCallsDoNothing) {
  RecordingView target;
  CViewBridge bridge(target);
  std::atomic<int> returned{0};
  std::thread worker([&] {
    bridge.AppendLogLine("waits for the window");
    ++returned;
    bridge.ShowMessageBox("later", "Error");
    bridge.AppendConsoleChar('x');
    ++returned;
  });
  // The window's thread does not run its events: the worker stays in its call.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (bridge.Pending() == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(returned.load(), 0);
  const auto start = std::chrono::steady_clock::now();
  bridge.Close();
  worker.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(returned.load(), 2);
  QApplication::processEvents();
  EXPECT_TRUE(target.calls.empty());  // dropped, not carried out late
}

TEST(ViewBridgeTest, CallsFromTheWindowThreadRunAtOnce) {
  RecordingView target;
  CViewBridge bridge(target);
  bridge.AppendLogLine("direct");
  bridge.PostWindowMessage(WM_UPDATE_END, 1, 1);
  EXPECT_EQ(target.calls, (std::vector<std::string>{"log direct", "post " + std::to_string(WM_UPDATE_END) + " 1"}));
}

TEST(ConsoleBoxTest, BytesAreShownWithoutBeingInterpreted) {
  CConsoleBox box;
  const std::string bytes = std::string("ok\r\n\x1b[2J\x07\t") + std::string(1, '\0') + "\x7f\x85\xe9>";
  for (char c : bytes) box.AppendChar(c);
  const QString shown = box.Text();
  EXPECT_EQ(shown, QString::fromUtf8("ok\n␛[2J␇\t␀␡\xEF\xBF\xBD") + QChar(0xe9) + ">");
  for (QChar c : shown) EXPECT_TRUE(c == '\n' || c == '\t' || c.unicode() >= 0x20) << static_cast<int>(c.unicode());
  box.ClearAll();
  EXPECT_TRUE(box.Text().isEmpty());
}

TEST(ConsoleBoxTest, ALongSessionKeepsOnlyTheNewestText) {
  CConsoleBox box;
  const auto start = std::chrono::steady_clock::now();
  // Two megabytes in bursts, with the window's events between them.
  for (int burst = 0; burst < 64; ++burst) {
    for (int i = 0; i < 32 * 1024; ++i) box.AppendChar(static_cast<char>(i % 80 == 79 ? '\n' : 'a' + burst % 26));
    QApplication::processEvents();
  }
  box.AppendChar('Z');
  const QString text = box.Text();
  EXPECT_LE(text.size(), CConsoleBox::kMaxChars);
  EXPECT_GE(text.size(), CConsoleBox::kMaxChars - 1);
  EXPECT_TRUE(text.endsWith('Z'));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

}  // namespace
