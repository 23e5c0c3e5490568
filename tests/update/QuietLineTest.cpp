// What only the line's timing tells: the boot loader's request against an
// 'X' inside a chip's stream, a dump that ends with a quiet line against a
// chip reset during it, and data too slow to be a dumping chip's.
#include "tests/update/EngineFixture.h"

namespace {

const Bytes kAnswer = B({0x18});
const std::string kDumpPath = "/out/dump.bin";

// Flash that holds "EXEX...": what a chip still dumping it streams.
Bytes ExStream(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = i % 2 ? 'X' : 'E';
  return b;
}

class RequestTest : public EngineTest {
protected:
  size_t Answers() const { return static_cast<size_t>(std::count(port.writes.begin(), port.writes.end(), kAnswer)); }
};

TEST_F(RequestTest, AnXInsideAStreamIsNoRequest) {
  engine.OnUpdateStart(BaseSettings(ACT_ERASE));
  // A chip still dumping "EXEX..." from a killed run: the rest of its block,
  // ending in an 'X' after which it waits for its host.
  Feed(ExStream(1000));
  clock.now += 5;
  Feed(ExStream(3096));
  clock.now += 200;
  EXPECT_TRUE(port.writes.empty());
  EXPECT_EQ(engine.Stage(), STAGE_WAIT_REQUEST);
  // No console text of its own either: 'E' bytes are ticks, as ever.
  EXPECT_EQ(view.logs, std::vector<std::string>{});

  // A repeat of that last 'X' would make it a request; other bytes end it.
  Feed("E");
  clock.now += 20;
  Feed("X");
  EXPECT_TRUE(port.writes.empty());
  clock.now += 20;
  Feed("X");
  EXPECT_EQ(Answers(), 1u);
  EXPECT_EQ(engine.Stage(), STAGE_BOOT_IMAGE);

  // The chip reset after its stream stopped: its request, seconds later,
  // is answered after the quiet that follows it.
  engine.OnUpdateStart(BaseSettings(ACT_ERASE));
  Clear();
  Feed(ExStream(4096));
  clock.now += 3000;
  Feed("X");
  EXPECT_EQ(Answers(), 1u);
  EXPECT_EQ(engine.Stage(), STAGE_BOOT_IMAGE);
}

TEST_F(RequestTest, BannerRightBeforeTheRequestAndRepeatsAreOneRequest) {
  engine.OnUpdateStart(BaseSettings(ACT_ERASE));
  Feed("\r\ntq boot rom 1.22\r\nwaiting for host...\r\nX");
  EXPECT_EQ(Answers(), 1u);
  EXPECT_EQ(view.console, "\r\ntq boot rom 1.22\r\nwaiting for host...\r\n");
  EXPECT_EQ(port.quietWaits, std::vector<uint32_t>{30});  // the quiet looked for: 30 ms

  // A boot loader repeating every millisecond never leaves the line quiet:
  // only 'X' bytes for 30 ms make the request.
  Clear();
  engine.OnUpdateStart(BaseSettings(ACT_ERASE));
  port.inputWithin = [](uint32_t) { return true; };
  for (int i = 0; i < 29; ++i) {
    Feed("X");
    clock.now += 1;
  }
  EXPECT_TRUE(port.writes.empty());
  clock.now += 1;
  Feed("X");
  EXPECT_EQ(Answers(), 1u);
  // Repeats that crossed the answer are dropped before the boot image goes.
  EXPECT_EQ(port.discards, 4);
}

TEST_F(RequestTest, XFollowedByOtherBytesWithinTheWindowIsNoRequest) {
  engine.OnUpdateStart(BaseSettings(ACT_ERASE));
  port.inputWithin = [](uint32_t) { return true; };  // more is on its way
  Feed("X");
  clock.now += 10;
  Feed("abc");
  port.inputWithin = nullptr;
  clock.now += 100;
  Feed("def");
  EXPECT_TRUE(port.writes.empty());
  EXPECT_EQ(view.console, "abcdef");
}

class DumpEndTest : public EngineTest {
protected:
  void StartDump(int32_t length) { RunToDump(length); }
  bool DumpOk() const { return std::count(view.logs.begin(), view.logs.end(), "\ndump ok.") > 0; }
};

TEST_F(DumpEndTest, QuietAfterTheClosingXMakesTheDump) {
  StartDump(5000);
  Feed(Pattern(5000));
  Feed("X");
  EXPECT_EQ(port.quietWaits, std::vector<uint32_t>{100});
  EXPECT_TRUE(DumpOk());
  EXPECT_EQ(observer.outcomes, std::vector<UpdateOutcome>{UpdateOutcome::Completed});
}

TEST_F(DumpEndTest, ChipResetDuringTheDumpFailsIt) {
  // 30 bytes after the first block are the boot loader's request, one
  // every 50 ms: in time for the block, but the line does not stay quiet.
  StartDump(4126);
  Feed(Pattern(4096));
  for (int i = 0; i < 30; ++i) {
    clock.now += 50;
    Feed("X");
  }
  port.inputWithin = [](uint32_t) { return true; };  // the next repeat is on its way
  clock.now += 50;
  Feed("X");
  clock.now += 50;
  Feed("X");
  EXPECT_FALSE(DumpOk());
  EXPECT_EQ(observer.outcomes, std::vector<UpdateOutcome>{UpdateOutcome::ActCutShort});
  EXPECT_EQ(engine.Stage(), STAGE_IDLE);

  // Repeats every millisecond, the closing 'X' and the next in one read.
  port.inputWithin = nullptr;
  Clear();
  StartDump(4126);
  Feed(Pattern(4096));
  Feed(Bytes(33, 'X'));
  EXPECT_FALSE(DumpOk());
  EXPECT_EQ(observer.outcomes, std::vector<UpdateOutcome>{UpdateOutcome::ActCutShort});
}

TEST_F(DumpEndTest, SlowDataEndsTheDumpButLatencyAndJitterDoNot) {
  // A USB adapter's 16 ms bursts and a 600 ms hold-up of a network serial
  // server: the dump is made.
  StartDump(8192);
  const Bytes data = Pattern(8192, 9);
  for (size_t i = 0; i < 4096; i += 184) {
    clock.now += 16;
    Feed(Bytes(data.begin() + static_cast<long>(i), data.begin() + static_cast<long>(std::min<size_t>(i + 184, 4096))));
  }
  clock.now += 600;
  Feed(Bytes(data.begin() + 4096, data.begin() + 4100));
  clock.now += 300;
  Feed(Bytes(data.begin() + 4100, data.end()));
  Feed("X");
  EXPECT_TRUE(DumpOk());
  EXPECT_EQ(files.files[kDumpPath], data);

  // A reset chip's request every 1 ms is a tenth of the line's rate: the
  // update ends within the block instead of taking it as data.
  Clear();
  StartDump(8192);
  int taken = 0;
  while (engine.Stage() == STAGE_DUMP && taken < 4096) {
    clock.now += 1;
    Feed("X");
    ++taken;
  }
  EXPECT_EQ(engine.Stage(), STAGE_IDLE);
  EXPECT_LT(taken, 4096);
  EXPECT_EQ(observer.outcomes, std::vector<UpdateOutcome>{UpdateOutcome::ActCutShort});
}

}  // namespace
