// What the engine tells the port is still owed of the dump block in flight:
// the rest of each block while the chip streams it, and nothing whenever a
// reply is awaited or the update has ended, so that no reply is held back.
#include "tests/update/EngineFixture.h"
#include "update/Protocol.h"

namespace {

using Owed = std::vector<size_t>;

class DumpOwedTest : public EngineTest {
protected:
  // The last thing the port was told; 0 when it was never told anything.
  size_t LastOwed() const { return port.owed.empty() ? 0 : port.owed.back(); }
};

TEST_F(DumpOwedTest, PortHearsWhatIsLeftOfEachBlockAndNothingOnceTheRangeIsIn) {
  RunToDump(5000);
  Feed(Pattern(100));
  Feed(Pattern(3000));
  EXPECT_EQ(port.owed, (Owed{3996, 996}));
  // The block's last byte: the 'X' asks for the next block, which is what
  // is owed from then on (904 bytes, the end of the range).
  Feed(Pattern(996));
  EXPECT_EQ(port.owed, (Owed{3996, 996, 904}));
  EXPECT_EQ(port.writes, std::vector<Bytes>{B({'X'})});
  EXPECT_EQ(port.owedAfterWrites, (Owed{0, 0, 1}));
  Feed(Pattern(904));
  EXPECT_EQ(LastOwed(), 0u);
  // The closing 'X' and the quiet after it are awaited with nothing owed.
  Feed("X");
  EXPECT_EQ(port.owed, (Owed{3996, 996, 904, 0}));
  EXPECT_EQ(observer.outcomes, std::vector<UpdateOutcome>{UpdateOutcome::Completed});
}

TEST_F(DumpOwedTest, NothingIsOwedWhileAReplyIsAwaited) {
  // The answer to the dump command may be a lone 'Y': nothing is owed
  // before the first byte, nor while that 'Y' is held.
  RunToDump(8192);
  EXPECT_TRUE(port.owed.empty());
  Feed("Y");
  EXPECT_TRUE(port.owed.empty());
  // More bytes behind it: it was the first flash byte after all.
  Feed(Pattern(10));
  EXPECT_EQ(port.owed, Owed{4085});

  // Programming awaits replies only: the port never hears of a stream.
  engine.OnUpdateStop();
  files.files["/img/app.bin"] = Pattern(6000);
  UpdateSettings s = BaseSettings(ACT_PROGRAM);
  s.m_nLength = 6000;
  RunToControlInfo(s);
  Clear();
  for (int i = 0; i < 3; ++i) Feed("X");
  Feed("EEX");
  Feed("PPX");
  EXPECT_EQ(observer.outcomes, std::vector<UpdateOutcome>{UpdateOutcome::Completed});
  EXPECT_TRUE(port.owed.empty());
}

TEST_F(DumpOwedTest, AnUpdateEndingMidBlockWithdrawsWhatWasOwed) {
  // Stopped by the operator.
  RunToDump(8192);
  Feed(Pattern(1000));
  engine.OnUpdateStop();
  EXPECT_EQ(port.owed, (Owed{3096, 0}));

  // Winding down at the block's end: no 'X' asks for more, nothing is owed.
  RunToDump(8192);
  Feed(Pattern(1000));
  stop.windingDown = true;
  Feed(Pattern(3096));
  EXPECT_TRUE(port.writes.empty());
  EXPECT_EQ(port.owed, (Owed{3096, 0}));
  stop.windingDown = false;

  // Data too slow to be the chip's (a reset chip's requests).
  RunToDump(8192);
  Feed(Pattern(10));
  clock.now += 10000;
  Feed("X");
  EXPECT_EQ(engine.Stage(), STAGE_IDLE);
  EXPECT_EQ(port.owed, (Owed{4086, 0}));

  // The dump file failing.
  files.dumps["/out/dump.bin"].capacity = 100;
  RunToDump(8192);
  Feed(Pattern(2000));
  EXPECT_EQ(engine.Stage(), STAGE_IDLE);
  EXPECT_EQ(LastOwed(), 0u);
}

}  // namespace
