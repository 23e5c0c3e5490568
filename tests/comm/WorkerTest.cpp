// The worker thread on a real pseudo-terminal: its answers to open and close
// requests, the routing of received bytes into the update, and its end.
#include "core/Config.h"
#include "core/Messages.h"
#include "core/Requests.h"
#include "comm/UIThread.h"
#include "tests/comm/PtyPair.h"
#include "tests/support/RecordingView.h"
#include "tests/support/TempDir.h"
#include "comm/FileAccess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Records the worker's reports among the view's calls, so their order shows.
class RecordingObserver : public IUpdateObserver {
public:
  explicit RecordingObserver(CRecordingView& view) : m_view(view) {}
  void OnUpdateOutcome(UpdateOutcome outcome) override {
    m_view.Record("outcome:" + std::to_string(static_cast<int>(outcome)));
  }
  void OnPortOpenResult(PortOpenResult result) override {
    static const char* const kNames[] = {"Opened",   "BadPortNumber", "NoDevice",    "Busy",
                                         "PermissionDenied", "NotSerial", "SetupFailed", "OtherError"};
    m_view.Record(std::string("port:") + kNames[static_cast<int>(result)]);
  }
  void OnPortLost() override { m_view.Record("port:lost"); }

private:
  CRecordingView& m_view;
};

class NoBatch : public IBatchSource {
public:
  int32_t TotalNum() override { return 0; }
  BatchEntry Entry(int32_t) override { return {}; }
};

const std::vector<std::string> kOpened = {"text:1012=Close", "enable:1002=0", "enable:1003=0", "enable:1005=0",
                                          "enable:1004=0",   "enable:1006=0", "enable:1017=1", "enable:1029=1"};
const std::vector<std::string> kClosed = {"text:1012=Open", "enable:1002=1", "enable:1003=1", "enable:1005=1",
                                          "enable:1004=1",  "enable:1006=1", "enable:1017=0", "enable:1029=0"};

size_t ThreadCount() {
  size_t n = 0;
  if (DIR* d = ::opendir("/proc/self/task")) {
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') ++n;
    ::closedir(d);
  }
  return n;
}

class WorkerTest : public ::testing::Test {
protected:
  // The COM number whose open request names the pseudo-terminal, as the
  // window does for a number mapped in cfg.ini.
  static constexpr int32_t kMappedPort = 5;
  void SetUp() override {
    ASSERT_TRUE(pty.Valid());
  }
  std::unique_ptr<CUIThread> StartWorker(IUpdateObserver* observer = nullptr) {
    auto w = std::make_unique<CUIThread>(
        UIThreadDeps{view, files, batch, observer, dir.Path() + "/", &publishedId, nullptr, {}});
    EXPECT_TRUE(w->CreateThread());
    return w;
  }
  void Open(int32_t port, const std::string& text = "115200,N,8,1") {
    PostThreadMessage(publishedId, WM_PORT_OPEN, static_cast<uint32_t>(text.size()), port,
                      PortOpenRequest{text, port == kMappedPort ? pty.SlavePath() : ""});
  }

  CPtyPair pty;
  TempDir dir;
  CRecordingView view;
  CPosixFileAccess files;
  NoBatch batch;
  std::atomic<uint32_t> publishedId{0};
};

TEST_F(WorkerTest, OpenAndCloseAnswerWithTheControlsInOrder) {
  auto worker = StartWorker();
  ASSERT_NE(publishedId.load(), 0u);
  Open(5);
  EXPECT_EQ(view.Take(kOpened.size()), kOpened);

  // The device is really ours now: the far end hears what the port writes.
  PostThreadMessage(publishedId, WM_PORT_CLOSE, 1, 5);
  EXPECT_EQ(view.Take(kClosed.size()), kClosed);
  // A close when already closed changes only the controls.
  PostThreadMessage(publishedId, WM_PORT_CLOSE, 1, 5);
  EXPECT_EQ(view.Take(kClosed.size()), kClosed);
}

TEST_F(WorkerTest, OutOfRangeOpenClosesTheOpenPortFirstThenRefuses) {
  auto worker = StartWorker();
  Open(5);
  ASSERT_EQ(view.Take(kOpened.size()), kOpened);
  for (int32_t bad : {0, 1025}) {
    Open(bad);
    EXPECT_EQ(view.Take(2), (std::vector<std::string>{"box:Can't open port!/Error", "text:1012=Open"}));
  }
  // The port was closed by the first refused request: another holder can take it now.
  CComPort other;
  other.SetPortName(pty.SlavePath());
  EXPECT_TRUE(other.OpenPort());
  other.ClosePort();
  // A bad settings text fails the open too.
  Open(5, "fast,Q,9,3");
  EXPECT_EQ(view.Take(2), (std::vector<std::string>{"box:Can't open port!/Error", "text:1012=Open"}));
}

TEST_F(WorkerTest, ObserverHearsWhyAnOpenFailedAndAnIdleLoss) {
  RecordingObserver observer(view);
  auto worker = StartWorker(&observer);
  // The result is heard before the window changes, so a box can say why.
  auto opened = kOpened;
  opened.insert(opened.begin(), "port:Opened");
  Open(5);
  ASSERT_EQ(view.Take(opened.size()), opened);
  auto refusedWith = [&](const char* why) {
    return std::vector<std::string>{std::string("port:") + why, "box:Can't open port!/Error", "text:1012=Open"};
  };
  Open(1025);
  EXPECT_EQ(view.Take(3), refusedWith("BadPortNumber"));
  PostThreadMessage(publishedId, WM_PORT_OPEN, 12, 7, PortOpenRequest{"115200,N,8,1", dir.File("no-such-tty")});
  EXPECT_EQ(view.Take(3), refusedWith("NoDevice"));
  Open(5, "fast,Q,9,3");
  EXPECT_EQ(view.Take(3), refusedWith("SetupFailed"));
  Open(5);
  ASSERT_EQ(view.Take(opened.size()), opened);

  // The device goes away with no update running: the worker closes the port and says so.
  pty.CloseMaster();
  auto events = view.Take(2 + kClosed.size());
  ASSERT_EQ(events.size(), 2 + kClosed.size());
  EXPECT_EQ(std::vector<std::string>(events.begin() + 1, events.end() - 1), kClosed);
  EXPECT_EQ(events.back(), "port:lost");
}

TEST_F(WorkerTest, ReceivedBytesReachTheUpdateOnlyFromItsOwnPort) {
  auto worker = StartWorker();
  Open(5);
  ASSERT_EQ(view.Take(kOpened.size()), kOpened);
  PostThreadMessage(publishedId, WM_UPDATE_START, 14, 1, UpdateSettings{});
  EXPECT_EQ(view.Take(1), (std::vector<std::string>{"enable:1017=0"}));
  // Console text from the chip: shown character by character.
  ASSERT_TRUE(pty.Send("ab"));
  EXPECT_EQ(view.Take(2), (std::vector<std::string>{"con:a", "con:b"}));
  // A notification naming another port reads nothing.
  PostThreadMessage(publishedId, WM_COMM_RXCHAR, 6, 0);
  PostThreadMessage(publishedId, WM_UPDATE_TICK, 1, 2);
  EXPECT_EQ(view.Take(1), (std::vector<std::string>{"con:>"}));
  // The chip's request is answered with 0x18 on the line.
  ASSERT_TRUE(pty.Send("X"));
  auto answer = pty.Receive(1, 3s);
  ASSERT_EQ(answer.size(), 1u);
  EXPECT_EQ(answer[0], 0x18);
  PostThreadMessage(publishedId, WM_UPDATE_STOP, 1, 1);
}

TEST_F(WorkerTest, EndingTheWorkerClosesItsPortAndLeavesNoThread) {
  // A first thread started and joined before the count: ThreadSanitizer's
  // runtime starts a helper thread of its own with the first thread.
  std::thread([] {}).join();
  const size_t before = ThreadCount();
  {
    auto worker = StartWorker();
    Open(5);
    ASSERT_EQ(view.Take(kOpened.size()), kOpened);
    EXPECT_GT(ThreadCount(), before);
  }
  EXPECT_EQ(publishedId.load(), 0u);
  EXPECT_EQ(ThreadCount(), before);
  CComPort other;
  other.SetPortName(pty.SlavePath());
  EXPECT_TRUE(other.OpenPort());
  other.ClosePort();
}

TEST_F(WorkerTest, FarEndVanishingIsReportedAndThePortCloses) {
  auto worker = StartWorker();
  Open(5);
  ASSERT_EQ(view.Take(kOpened.size()), kOpened);
  pty.CloseMaster();
  auto events = view.Take(1 + kClosed.size());
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events[0].rfind("log:\nThe port went away", 0), 0u) << events[0];
  EXPECT_EQ(std::vector<std::string>(events.begin() + 1, events.end()), kClosed);
}

// A stop from the window takes effect within a fraction of a second in the
// stages that wait or send for long: the 1000 ms wait after the chip
// settings, and a 4 MiB loader sent at its pace (a minute and more).
TEST_F(WorkerTest, StopTakesEffectInsideTheLongWaitAndTheLoaderSend) {
  dir.Write("boot.bin", std::string(1000, 'b'));
  dir.Write("flash.bin", std::string(4u << 20, 'f'));
  auto worker = StartWorker();
  Open(5);
  ASSERT_EQ(view.Take(kOpened.size()), kOpened);
  const auto waitFor = [&](const std::string& event, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      const auto got = view.Take(1, remaining);
      if (std::find(got.begin(), got.end(), event) != got.end()) return true;
    }
    return false;
  };
  // Posts the stop `into` the step and times how long until the worker has
  // handled it.
  const auto stopTakes = [&](std::chrono::milliseconds into) {
    std::this_thread::sleep_for(into);
    const auto posted = std::chrono::steady_clock::now();
    PostThreadMessage(publishedId, WM_UPDATE_STOP, 1, 1);
    EXPECT_TRUE(waitFor("enable:1017=1", 10s));
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - posted);
  };
  const auto runToBootAck = [&] {
    PostThreadMessage(publishedId, WM_UPDATE_START, 14, 1, UpdateSettings{});
    ASSERT_TRUE(waitFor("enable:1017=0", 5s));  // started: what the line held is dropped
    ASSERT_TRUE(pty.Send("X"));
    ASSERT_EQ(pty.Receive(1 + 2048, 5s).size(), 1u + 2048u);  // the answer and the boot image
    ASSERT_TRUE(pty.Send("X"));
  };

  // Bytes arriving during the 1000 ms wait are no stop: the wait runs its course.
  runToBootAck();
  ASSERT_TRUE(waitFor("log:\nSend flash file lenth.", 5s));
  const auto waitBegan = std::chrono::steady_clock::now();
  for (int i = 0; i < 8; ++i) {
    ASSERT_TRUE(pty.Send("?"));
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(pty.Receive(10 + 4, 5s).size(), 14u);  // the chip settings, then the loader's length
  EXPECT_GE(std::chrono::steady_clock::now() - waitBegan, 950ms);
  PostThreadMessage(publishedId, WM_UPDATE_STOP, 1, 1);
  ASSERT_TRUE(waitFor("enable:1017=1", 10s));
  pty.Receive(1 << 20, 500ms);  // the loader's first piece

  runToBootAck();
  ASSERT_TRUE(waitFor("log:\nSend flash file lenth.", 5s));  // the 1000 ms wait begins
  const auto inWait = stopTakes(400ms);
  std::printf("stop during the 1000 ms wait took %lld us\n", static_cast<long long>(inWait.count()));
  EXPECT_LT(inWait, 1000ms);
  // The step was abandoned: the line was not reopened and no loader followed.
  EXPECT_EQ(pty.Receive(20, 300ms).size(), 10u);  // the chip settings alone

  runToBootAck();
  ASSERT_TRUE(waitFor("con:*", 5s));  // the first 4 KiB piece of the loader is out
  const auto inLoader = stopTakes(150ms);  // inside the 373 ms pause after the first piece
  std::printf("stop during the loader send took %lld us\n", static_cast<long long>(inLoader.count()));
  EXPECT_LT(inLoader, 1000ms);
}

}  // namespace
