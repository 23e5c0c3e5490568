// Stops that reach the engine inside a step: a stop waiting behind a
// protocol wait or a loader send abandons the step; a stop asked for once
// the block in flight is done lets that block finish and begins nothing
// new. And the acknowledge time-out on a line slower than its setting.
#include <algorithm>

#include "tests/update/EngineFixture.h"
#include "update/Protocol.h"

namespace {

const std::string kAppPath = "/img/app.bin";
const Bytes kEraseFrame = B({0xFF, 0x04, 0x00, 0x00, 0xFF, 0xFF});
const Bytes kProgramFrame = B({0xFF, 0x05, 0x00, 0x00, 0xFF, 0xFF});

class StopTest : public EngineTest {
protected:
  bool Sent(const Bytes& block) const { return std::find(port.writes.begin(), port.writes.end(), block) != port.writes.end(); }
  bool SentFrameOfType(uint8_t type) const {
    return std::any_of(port.writes.begin(), port.writes.end(),
                       [type](const Bytes& w) { return w.size() >= 6 && w[0] == 0xFF && w[1] == type; });
  }
  void ExpectStoppedBefore(const std::string& what) {
    EXPECT_EQ(observer.outcomes, std::vector<UpdateOutcome>{UpdateOutcome::Stopped});
    EXPECT_EQ(engine.Stage(), STAGE_IDLE);
    EXPECT_EQ(view.Count(WM_UPDATE_END), 1);
    ASSERT_FALSE(view.logs.empty());
    EXPECT_EQ(view.logs.back(), "\nstopped before " + what + ".");
  }
};

TEST_F(StopTest, StopWaitingAbandonsTheStepBetweenItsPieces) {
  // Looks: 0 after the 50 ms, 1 after the 200 ms, 2 after the 1000 ms wait.
  stop.stopFromLook = 2;
  engine.OnUpdateStart(BaseSettings(ACT_ERASE));
  Feed("X");
  Feed("X");
  EXPECT_EQ(engine.Stage(), STAGE_IDLE);
  EXPECT_TRUE(port.reopens.empty());
  ASSERT_EQ(port.writes.size(), 3u);  // answer, boot image, chip settings
  EXPECT_EQ(trace.events.back(), "enable:1017=1");
  EXPECT_FALSE(Ended());  // a stop from the window posts no end
  Feed("XXX");
  EXPECT_EQ(port.writes.size(), 3u);

  // In the middle of a loader: the pieces before the stop, then nothing.
  files.files[kLoaderPath] = Pattern(10000, 7);
  stop.stopFromLook = 5;  // 3 the 50 ms before the loader, 4 and 5 its pieces
  stop.looks = 0;
  Clear();
  engine.OnUpdateStart(BaseSettings(ACT_ERASE));
  Feed("X");
  Feed("X");
  EXPECT_EQ(engine.Stage(), STAGE_IDLE);
  ASSERT_EQ(port.writes.size(), 6u);
  EXPECT_EQ(port.writes[4].size(), 4096u);
  EXPECT_EQ(port.writes[5].size(), 4096u);
  EXPECT_EQ(view.console, "*");
}

TEST_F(StopTest, WindingDownLetsTheImageFinishButBeginsNoErase) {
  files.files[kAppPath] = Pattern(10000);
  RunToControlInfo(BaseSettings(ACT_PROGRAM));
  Feed("X");  // the first chunk goes
  Feed("X");  // the second
  Feed("X");  // the last chunk is on the line when the stop is asked for
  stop.windingDown = true;
  Feed("X");
  EXPECT_FALSE(Sent(kEraseFrame));
  ExpectStoppedBefore("erase");
  Feed("EEX");
  EXPECT_FALSE(SentFrameOfType(FRAME_ERASE));
  EXPECT_FALSE(SentFrameOfType(FRAME_PROGRAM));
}

TEST_F(StopTest, WindingDownDuringTheLoaderOrAnEraseBeginsNothingDestructive) {
  // The loader of an erase is on the line.
  engine.OnUpdateStart(BaseSettings(ACT_ERASE));
  Feed("X");
  Feed("X");
  stop.windingDown = true;
  Feed("X");
  EXPECT_FALSE(SentFrameOfType(FRAME_CONTROL_INFO));
  EXPECT_FALSE(SentFrameOfType(FRAME_ERASE));
  ExpectStoppedBefore("the control info");

  // An erase ahead of a program runs to its end; the program is not begun.
  stop.windingDown = false;
  observer.outcomes.clear();
  Clear();
  files.files[kAppPath] = Pattern(100);
  UpdateSettings s = BaseSettings(ACT_PROGRAM);
  RunToControlInfo(s);
  Feed("X");  // the image, one chunk
  Feed("X");  // acknowledged: the erase command goes
  ASSERT_TRUE(Sent(kEraseFrame));
  stop.windingDown = true;
  Feed("E");
  Feed("X");
  EXPECT_FALSE(Sent(kProgramFrame));
  EXPECT_EQ(view.logs[view.logs.size() - 2], "\nerase ok.");
  ExpectStoppedBefore("program");
}

TEST_F(StopTest, WindingDownEndsADumpAtTheBlockInFlight) {
  UpdateSettings s = BaseSettings(ACT_DUMP);
  s.m_nLength = 8192;
  RunToControlInfo(s);
  Feed("X");
  Clear();
  Feed(Pattern(1000));
  stop.windingDown = true;
  Feed(Pattern(3096));
  EXPECT_TRUE(port.writes.empty());  // no 'X' asks for the next block
  EXPECT_FALSE(files.dumps["/out/dump.bin"].open);
  EXPECT_EQ(observer.outcomes, std::vector<UpdateOutcome>{UpdateOutcome::Stopped});
  EXPECT_EQ(engine.Stage(), STAGE_IDLE);
}

TEST_F(StopTest, AcknowledgeTimeOutAllowsForTheLineMeasuredSlow) {
  // The loader took 10.4 s more than its pacing to be acknowledged: the
  // line runs at about 9600 baud, a 4 KiB chunk takes over 4 s on it.
  files.files[kLoaderPath] = Pattern(10000, 7);
  files.files[kAppPath] = Pattern(10000);
  engine.OnUpdateStart(BaseSettings(ACT_PROGRAM));
  Feed("X");
  Feed("X");
  clock.now += 10400;
  Feed("X");
  Feed("X");  // control info acknowledged: the first chunk goes
  ASSERT_EQ(engine.Stage(), STAGE_APP_IMAGE);
  const auto armed = std::find_if(view.posts.rbegin(), view.posts.rend(), [](const PostedMessage& m) {
    return m.msg == WM_UPDATE_TIMER && m.wParam == ID_TIMER_ACK;
  });
  ASSERT_NE(armed, view.posts.rend());
  // Twice the chunk's time at the measured rate, plus a second.
  EXPECT_EQ(armed->lParam, 2 * (4102 * (10400 + 911) / 10000) + 1000);
  const size_t writes = port.writes.size();
  AckTimeout();  // 2000 ms: the chunk is still on the line
  EXPECT_EQ(port.writes.size(), writes);
  clock.now += static_cast<uint64_t>(armed->lParam);
  engine.OnUpdateTick(ID_TIMER_ACK);
  EXPECT_EQ(port.writes.size(), writes + 1);  // really lost: sent again

  // At the line's nominal rate the prescribed 2000 ms stay.
  Clear();
  engine.OnUpdateStart(BaseSettings(ACT_PROGRAM));
  Feed("X");
  Feed("X");
  Feed("X");
  Feed("X");
  EXPECT_GE(trace.Find(TimerEvent(ID_TIMER_ACK, TIMER_ACK_PERIOD_MS)), 0);
}

}  // namespace
