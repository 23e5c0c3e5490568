// Retry limits (ten 'Y', ten acknowledge time-outs), stale timer ticks, and
// the bytes that change no stage: console text and progress ticks.
#include <algorithm>

#include "tests/update/EngineFixture.h"

namespace {

const std::string kAppPath = "/img/app.bin";

class RetryTest : public EngineTest {
protected:
  // The first image chunk is on the line and the acknowledge timer runs.
  void RunToFirstChunk(size_t imageSize = 10000) {
    files.files[kAppPath] = Pattern(imageSize);
    RunToControlInfo(BaseSettings(ACT_PROGRAM));
    Feed("X");
    ASSERT_EQ(engine.Stage(), STAGE_APP_IMAGE);
    Clear();
  }
  std::vector<std::string> TimeoutLines() const {
    std::vector<std::string> out;
    for (const std::string& l : view.logs)
      if (l.rfind("Ack TimerOut", 0) == 0) out.push_back(l);
    return out;
  }
};

TEST_F(RetryTest, NegativeAcknowledgesCountOnlyInARow) {
  engine.OnUpdateStart(BaseSettings(ACT_ERASE));
  Feed(std::string(9, 'Y'));  // stage 1 has nothing to resend
  EXPECT_TRUE(port.writes.empty());
  Feed("X");
  Clear();
  Feed(std::string(9, 'Y'));
  EXPECT_FALSE(Ended());
  ASSERT_EQ(view.logs.size(), 9u);
  EXPECT_EQ(view.logs.front(), "\ncheck error 1 time");
  EXPECT_EQ(view.logs.back(), "\ncheck error 9 time");
  EXPECT_EQ(port.writes.size(), 9u);  // the boot image, nine times
  EXPECT_EQ(port.writes.back().size(), 2048u);

  Clear();
  Feed("Y");
  EXPECT_EQ(trace.events, (std::vector<std::string>{"log:\nRetry Failed",
                                                     "outcome:" + std::to_string(int(UpdateOutcome::RetryFailed)),
                                                     kEndEvent}));
  EXPECT_EQ(engine.Stage(), STAGE_IDLE);
}

TEST_F(RetryTest, NegativeAcknowledgesAfterTheEndAreIgnored) {
  engine.OnUpdateStart(BaseSettings(ACT_ERASE));
  Feed(std::string(10, 'Y'));  // one read: the update ends at the tenth
  ASSERT_EQ(observer.outcomes, std::vector<UpdateOutcome>{UpdateOutcome::RetryFailed});
  Clear();
  // The chip goes on refusing after the end: no retry lines, no second end.
  Feed(std::string(25, 'Y'));
  EXPECT_FALSE(Ended());
  EXPECT_TRUE(observer.outcomes.empty());
  EXPECT_TRUE(view.logs.empty()) << ::testing::PrintToString(view.logs);
  EXPECT_TRUE(port.writes.empty());

  // Nor after a completed update.
  RunToControlInfo(BaseSettings(ACT_ERASE));
  Feed("X");
  Feed(std::string(32, 'E'));
  Feed("X");
  ASSERT_EQ(observer.outcomes.back(), UpdateOutcome::Completed);
  Clear();
  Feed(std::string(10, 'Y'));
  EXPECT_TRUE(view.logs.empty()) << ::testing::PrintToString(view.logs);
  EXPECT_FALSE(Ended());
}

TEST_F(RetryTest, SilentChipGetsTheChunkTenTimes) {
  RunToFirstChunk();
  for (int i = 1; i <= 9; ++i) AckTimeout();
  EXPECT_FALSE(Ended());
  Clear();
  AckTimeout();
  EXPECT_EQ(trace.events, (std::vector<std::string>{"outcome:" + std::to_string(int(UpdateOutcome::AckTimeout)),
                                                     kEndEvent, "log:Ack TimerOut Retry Failed"}));
  EXPECT_EQ(engine.Stage(), STAGE_IDLE);
}

TEST_F(RetryTest, EachTimeoutResendsTheSameChunkThenLogs) {
  files.files[kAppPath] = Pattern(10000);
  RunToControlInfo(BaseSettings(ACT_PROGRAM));
  Feed("X");
  const Bytes first = port.writes.back();
  for (int i = 1; i <= 9; ++i) AckTimeout();
  int sent = 0;
  for (const Bytes& w : port.writes) sent += w == first;
  EXPECT_EQ(sent, 10);
  std::vector<std::string> expected;
  for (int i = 1; i <= 9; ++i) expected.push_back("Ack TimerOut " + std::to_string(i) + " Times");
  EXPECT_EQ(TimeoutLines(), expected);
  EXPECT_EQ(view.Progress(), std::vector<int32_t>{0});
  // Each resend restarts the full period before its line is logged.
  const int line = trace.Find("log:Ack TimerOut 1 Times");
  EXPECT_EQ(trace.events[static_cast<size_t>(line) - 1], TimerEvent(ID_TIMER_ACK, 2000));
}

TEST_F(RetryTest, ImageUnreadableAtAResendEndsWithoutATimeoutLine) {
  files.files[kAppPath] = Pattern(10000);
  RunToControlInfo(BaseSettings(ACT_PROGRAM));
  Feed("X");
  files.failReadAt[kAppPath] = files.reads[kAppPath] + 1;
  Clear();
  AckTimeout();
  ASSERT_FALSE(view.logs.empty());
  EXPECT_EQ(view.logs.front().rfind("\ncan't read app file", 0), 0u) << view.logs.front();
  EXPECT_TRUE(TimeoutLines().empty());
  EXPECT_EQ(observer.outcomes, std::vector<UpdateOutcome>{UpdateOutcome::FileError});
  EXPECT_EQ(engine.Stage(), STAGE_IDLE);
}

TEST_F(RetryTest, AcknowledgeClearsTheTimeoutCount) {
  RunToFirstChunk();
  for (int i = 0; i < 5; ++i) AckTimeout();
  Feed("X");
  Clear();
  for (int i = 0; i < 9; ++i) AckTimeout();
  EXPECT_FALSE(Ended());
  EXPECT_EQ(TimeoutLines().back(), "Ack TimerOut 9 Times");
  AckTimeout();
  EXPECT_TRUE(Ended());
}

TEST_F(RetryTest, NegativeAcknowledgeResendsTheChunkWithoutCountingATimeout) {
  RunToFirstChunk();
  AckTimeout();
  const Bytes chunk = port.writes.back();
  Clear();
  Feed("Y");
  EXPECT_EQ(port.writes, std::vector<Bytes>{chunk});
  EXPECT_EQ(view.posts.back(), (PostedMessage{WM_UPDATE_TIMER, ID_TIMER_ACK, 2000}));
  AckTimeout();
  EXPECT_EQ(TimeoutLines(), std::vector<std::string>{"Ack TimerOut 1 Times"});
}

TEST_F(RetryTest, StaleAcknowledgeTicksAreIgnored) {
  RunToFirstChunk();
  // Queued before the chunk's acknowledge restarted the timer for the next chunk.
  clock.now += 1900;
  Feed("X");
  Clear();
  engine.OnUpdateTick(ID_TIMER_ACK);
  EXPECT_TRUE(trace.events.empty());

  // Queued before the last chunk's acknowledge stopped the timer.
  Feed("XX");
  ASSERT_EQ(engine.Stage(), STAGE_ERASE);
  Clear();
  AckTimeout();
  EXPECT_TRUE(trace.events.empty());

  // After the update ended.
  engine.OnUpdateStop();
  Clear();
  AckTimeout();
  EXPECT_TRUE(trace.events.empty());
}

TEST_F(RetryTest, ChunkStillLeavingTheHostIsNotTimedOut) {
  // On a line slower than its setting the chunk is still queued when the
  // timer's period is over: resending it then would program it twice.
  files.files[kAppPath] = Pattern(10000);
  RunToControlInfo(BaseSettings(ACT_PROGRAM));
  port.outputQueued = 3000;
  Feed("X");
  Clear();
  AckTimeout();
  AckTimeout();
  EXPECT_TRUE(port.writes.empty());
  EXPECT_TRUE(TimeoutLines().empty());

  // The port's queue has gone to the driver, which still sends: not yet.
  port.outputQueued = 700;
  engine.OnOutputDrained();
  EXPECT_EQ(view.Count(WM_UPDATE_TIMER), 0);
  // All out: the chunk's time starts now, and a whole period later it counts.
  port.outputQueued = 0;
  engine.OnOutputDrained();
  EXPECT_EQ(trace.events.back(), TimerEvent(ID_TIMER_ACK, TIMER_ACK_PERIOD_MS));
  clock.now += 1000;
  engine.OnUpdateTick(ID_TIMER_ACK);  // queued before the restart
  EXPECT_TRUE(port.writes.empty());
  AckTimeout();
  EXPECT_EQ(port.writes.size(), 1u);
  EXPECT_EQ(TimeoutLines(), std::vector<std::string>{"Ack TimerOut 1 Times"});

  // Where only the driver held it (no drain notice), a tick finds it out.
  Clear();
  port.outputQueued = 50;
  Feed("X");  // the next chunk
  port.outputQueued = 0;
  AckTimeout();
  EXPECT_EQ(port.writes.size(), 1u);  // the chunk, not a resend
  EXPECT_EQ(trace.events.back(), TimerEvent(ID_TIMER_ACK, TIMER_ACK_PERIOD_MS));
  AckTimeout();
  EXPECT_EQ(port.writes.size(), 2u);
}

TEST_F(RetryTest, EmptyImageLogsEveryAttemptAndTimesOut) {
  files.files[kAppPath].clear();
  RunToControlInfo(BaseSettings(ACT_PROGRAM));
  EXPECT_EQ(Bytes(port.writes.back().begin() + 12, port.writes.back().begin() + 16), B({0, 0, 0, 0}));
  Feed("X");
  Clear();
  for (int i = 1; i <= 9; ++i) AckTimeout();
  ASSERT_EQ(view.logs.size(), 18u);
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(view.logs[2 * i], "\napp file error,lenth = 0\n");
    EXPECT_EQ(view.logs[2 * i + 1], "Ack TimerOut " + std::to_string(i + 1) + " Times");
  }
  EXPECT_TRUE(port.writes.empty());
  AckTimeout();
  EXPECT_EQ(view.logs.back(), "Ack TimerOut Retry Failed");
}

// Console text reaches the console box in every stage and moves nothing.
TEST_F(RetryTest, ConsoleBytesInEveryStage) {
  files.files[kAppPath] = Pattern(100);
  std::string expected;
  auto console = [&](uint32_t stage) {
    const size_t writes = port.writes.size();
    const size_t logs = view.logs.size();
    Feed(B({'A', 0x00, 0xC8, '\r'}));
    expected += std::string("A\0\xC8\r", 4);
    EXPECT_EQ(engine.Stage(), stage);
    EXPECT_EQ(port.writes.size(), writes);
    EXPECT_EQ(view.logs.size(), logs);
  };
  console(STAGE_IDLE);
  engine.OnUpdateStart(BaseSettings(ACT_PROGRAM));
  console(STAGE_WAIT_REQUEST);
  Feed("X");
  console(STAGE_BOOT_IMAGE);
  Feed("X");
  expected += "*";
  console(STAGE_LOADER_BODY);
  Feed("X");
  console(STAGE_CONTROL_INFO);
  Feed("X");
  expected += "*";
  console(STAGE_APP_IMAGE);
  Feed("X");
  expected += "*";
  console(STAGE_ERASE);
  Feed("EX");
  expected += "e";
  console(STAGE_PROGRAM);
  EXPECT_EQ(view.console, expected);
}

TEST_F(RetryTest, ProgressTicksWhileIdleNeedALength) {
  Feed("EP");
  EXPECT_EQ(view.console, "ep");
  EXPECT_TRUE(view.posts.empty());  // no range: nothing to divide by

  UpdateSettings s = BaseSettings(ACT_ERASE);
  s.m_nLength = 16384;
  engine.OnUpdateStart(s);
  engine.OnUpdateStop();
  Feed("E");  // the erase count runs on from the tick above: 8192 bytes
  EXPECT_EQ(view.Progress(), std::vector<int32_t>{50});
}

TEST_F(RetryTest, ProgressOfLargeRangesDoesNotOverflow) {
  UpdateSettings s = BaseSettings(ACT_ERASE);
  s.m_nLength = 0x40000000;  // 1 GiB: done x 100 passes 32 bits after 5243 ticks
  RunToControlInfo(s);
  Feed("X");
  Clear();
  Feed(std::string(6000, 'E'));
  const std::vector<int32_t> progress = view.Progress();
  ASSERT_EQ(progress.size(), 6000u);
  EXPECT_EQ(progress.back(), 2);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
}

}  // namespace
