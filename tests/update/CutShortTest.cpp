// A chip that refuses the dump command, or resets part way through an act:
// its bytes never end an act as done. And what counts as progress.
#include "tests/update/EngineFixture.h"

namespace {

const std::string kDumpPath = "/out/dump.bin";
const std::string kAppPath = "/img/app.bin";
const Bytes kDumpCommand = B({0xFF, 0x06, 0x00, 0x00, 0xFF, 0xFF});

class CutShortTest : public EngineTest {
protected:
  // Runs to the command of `act` (erase or dump) over `length` bytes.
  void RunToCommand(int32_t act, int32_t length) {
    UpdateSettings s = BaseSettings(act);
    s.m_nLength = length;
    RunToControlInfo(s);
    Feed("X");
    Clear();
  }
  std::string Outcome(UpdateOutcome o) const { return "outcome:" + std::to_string(int(o)); }
};

TEST_F(CutShortTest, LoneNegativeAcknowledgeOfTheDumpCommandIsResentAndCounted) {
  RunToCommand(ACT_DUMP, 8192);
  Feed("Y");
  EXPECT_TRUE(port.writes.empty());
  EXPECT_EQ(files.dumps[kDumpPath].creates, 0);  // not the first flash byte yet
  AckTimeout();                                  // the line stayed quiet
  EXPECT_EQ(port.writes, std::vector<Bytes>{kDumpCommand});
  EXPECT_EQ(view.logs, std::vector<std::string>{"\ncheck error 1 time"});

  for (int i = 2; i <= 10; ++i) {
    Feed("Y");
    AckTimeout();
  }
  EXPECT_EQ(view.logs.back(), "\nRetry Failed");
  EXPECT_EQ(observer.outcomes, std::vector<UpdateOutcome>{UpdateOutcome::RetryFailed});
  EXPECT_EQ(port.writes.size(), 9u);
  EXPECT_EQ(files.dumps[kDumpPath].creates, 0);
}

TEST_F(CutShortTest, NegativeAcknowledgeThenDataIsTheFirstFlashByte) {
  RunToCommand(ACT_DUMP, 5000);
  const Bytes data = Pattern(4999, 3);
  Feed("Y");
  Feed(data);  // the next read: the 'Y' was data
  Bytes expected = S("Y");
  expected.insert(expected.end(), data.begin(), data.end());
  EXPECT_EQ(files.files[kDumpPath], expected);
  EXPECT_EQ(trace.Find(TimerEvent(ID_TIMER_ACK, 0)) > trace.Find(TimerEvent(ID_TIMER_ACK, TIMER_ACK_PERIOD_MS)),
            true);
  AckTimeout();  // the stopped timer's last tick resends nothing
  EXPECT_EQ(port.writes, std::vector<Bytes>{B({'X'})});
  Feed("X");
  EXPECT_EQ(view.logs, (std::vector<std::string>{"\ndump ok.", "\ncompelete."}));

  // In one read with the data, a 'Y' is data from the start.
  RunToCommand(ACT_DUMP, 5000);
  Feed(expected);
  EXPECT_EQ(files.files[kDumpPath], expected);
}

TEST_F(CutShortTest, EraseOrProgramEndedBeforeAllItsTicksFails) {
  RunToCommand(ACT_ERASE, 0x20000);
  Feed("EEEX");  // a chip reset after three sectors says 'X' all the same
  EXPECT_EQ(trace.events[trace.events.size() - 3], "log:\nerase ended after 3 of 32 blocks.");
  EXPECT_EQ(trace.events[trace.events.size() - 2], Outcome(UpdateOutcome::ActCutShort));
  EXPECT_EQ(trace.events.back(), kEndEvent);
  ExpectNoSuccessAfter(0);

  files.files[kAppPath] = Pattern(10000);
  RunToControlInfo(BaseSettings(ACT_PROGRAM));
  Feed("XXXX");  // the image in three chunks
  Feed("EEEX");
  ASSERT_EQ(engine.Stage(), STAGE_PROGRAM);
  Clear();
  Feed("PX");
  EXPECT_EQ(view.logs, std::vector<std::string>{"\nprogram ended after 1 of 3 blocks."});
  EXPECT_EQ(observer.outcomes, std::vector<UpdateOutcome>{UpdateOutcome::ActCutShort});
}

TEST_F(CutShortTest, DumpDataSlowerThanTheLineIsNotTheChips) {
  RunToCommand(ACT_DUMP, 3 * 4096);
  const Bytes data = Pattern(3 * 4096, 8);
  Feed(Bytes(data.begin(), data.begin() + 4096));
  // Each block has its own time, counted from the host's 'X': this one is
  // slow (3 s for 356 ms of line) but still within it.
  clock.now += 3000;
  Feed(Bytes(data.begin() + 4096, data.begin() + 8192));
  Feed(Bytes(data.begin() + 8192, data.begin() + 8192 + 4089));
  // The chip stopped 7 bytes short; five seconds on its boot loader asks.
  clock.now += 5000;
  Clear();
  Feed("X");
  EXPECT_EQ(view.logs, (std::vector<std::string>{"\ndump data stopped at byte 12281 of 12288.",
                                                  "\ndump cut short: /out/dump.bin holds 12281 of 12288 bytes."}));
  EXPECT_EQ(files.files[kDumpPath], Bytes(data.begin(), data.begin() + 12281));
  EXPECT_EQ(observer.outcomes, std::vector<UpdateOutcome>{UpdateOutcome::ActCutShort});
  EXPECT_TRUE(port.writes.empty());

  // A chip that never started: its first request is no flash byte.
  RunToCommand(ACT_DUMP, 4096);
  clock.now += 5000;
  Feed("X");
  EXPECT_EQ(view.logs, std::vector<std::string>{"\ndump data stopped at byte 0 of 4096."});
  EXPECT_EQ(files.dumps[kDumpPath].creates, 1);  // only the first dump's file
}

TEST_F(CutShortTest, ProgressIsStagesTicksAndDumpDataNotConsoleText) {
  engine.OnUpdateStart(BaseSettings(ACT_ERASE));
  EXPECT_EQ(port.discards, 1);  // what the line held before the start is dropped
  EXPECT_EQ(observer.progress, 1);
  Feed("boot rom 1.22");  // console text
  EXPECT_EQ(observer.progress, 1);
  Feed("X");    // request
  Feed("XXX");  // boot image, loader, control info
  EXPECT_EQ(observer.progress, 5);
  Feed("EPEhi");  // two erase ticks; a program tick during an erase is a stray byte
  EXPECT_EQ(observer.progress, 7);
  Feed("Y");  // a resend is no progress
  EXPECT_EQ(observer.progress, 7);

  RunToCommand(ACT_DUMP, 5000);
  const int before = observer.progress;
  Feed(Pattern(100));
  Feed(Pattern(100));
  EXPECT_EQ(observer.progress, before + 2);
}

}  // namespace
