// The production library against simulated boards: boards at once, one
// failing alone, a station's counts, stops of all boards and of one.
#include "tests/prod/ProductionFixture.h"

#include "prod/StopSource.h"

#include <algorithm>
#include <atomic>

namespace {

using namespace prodtest;

bool HasInOrder(const std::vector<BoardState>& seen, const std::vector<BoardState>& wanted) {
  auto at = seen.begin();
  for (BoardState s : wanted) {
    at = std::find(at, seen.end(), s);
    if (at == seen.end()) return false;
    ++at;
  }
  return true;
}

TEST_F(ProductionTest, BoardsAtOnceWithOneFailingAlone) {
  std::vector<BoardPort> boards{StartBoard(), StartBoard({"--nak", "boot:10"}), StartBoard()};
  const auto image = Image(20000, 3);
  const auto imagePath = dir.WriteBytes("image.bin", image);
  CRecordingDisplay display(3);
  CProduction production(SetUpFor(Program("0x20000", imagePath, true), boards), display);
  ASSERT_TRUE(production.Start());
  ASSERT_TRUE(production.WaitFor(120s)) << SimLogs();

  const auto results = production.Results();
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(results[0].result, "done");
  EXPECT_EQ(results[1].result, "failed");
  EXPECT_EQ(results[1].reason, "retry-failed");
  EXPECT_EQ(results[2].result, "done");
  EXPECT_EQ(production.ExitStatus(), EXIT_FAILED);
  const std::string expected(image.begin(), image.end());
  EXPECT_TRUE(FlashAt(0, 0x20000, image.size()) == expected);
  EXPECT_TRUE(FlashAt(2, 0x20000, image.size()) == expected);

  // The display follows each board through its states to its end.
  for (size_t i : {0u, 2u}) {
    const auto b = display.Of(i);
    EXPECT_TRUE(HasInOrder(b.states, {BoardState::WaitingForBoard, BoardState::Running, BoardState::Verifying,
                                      BoardState::Passed}))
        << "board " << i;
    ASSERT_EQ(b.ended.size(), 1u);
    EXPECT_EQ(b.counts.passed, 1);
    EXPECT_EQ(b.counts.failed, 0);
  }
  const auto failed = display.Of(1);
  ASSERT_FALSE(failed.states.empty());
  EXPECT_EQ(failed.states.back(), BoardState::Failed);
  EXPECT_EQ(failed.counts.failed, 1);
  EXPECT_EQ(Records().size(), 3u);
}

TEST_F(ProductionTest, StationCountsPassedAndFailedBoardsOnOnePort) {
  // The first boards meet ten refused boot blocks and fail; the later ones pass.
  std::vector<BoardPort> boards{StartBoard({"--nak", "boot:10"})};
  JobOptions erase;
  erase.command = JobCommand::Erase;
  erase.base = "0";
  erase.length = "4096";
  CRecordingDisplay display(1);
  CProduction production(SetUpFor(erase, boards, true), display);
  ASSERT_TRUE(production.Start());
  ASSERT_TRUE(display.Await(0, [](const auto& b) { return b.counts.failed >= 1 && b.counts.passed >= 2; }, 90s))
      << SimLogs();
  production.StopAll();
  ASSERT_TRUE(production.WaitFor(20s));
  EXPECT_EQ(production.ExitStatus(), EXIT_INTERRUPTED);

  const StationCounts counts = production.Counts().at(0);
  const auto records = Records();
  const auto done = std::count_if(records.begin(), records.end(), [](const JsonObject& r) {
    return r.at("result").text == "done";
  });
  EXPECT_EQ(counts.passed, done);
  EXPECT_EQ(counts.passed + counts.failed, static_cast<int64_t>(records.size()));
  // Each ended board carried its number on the port and the counts so far.
  const auto b = display.Of(0);
  for (size_t i = 0; i < b.ended.size(); ++i) EXPECT_EQ(b.ended[i].run, static_cast<int64_t>(i + 1));
  EXPECT_EQ(b.states.back(), BoardState::Stopped);
}

TEST_F(ProductionTest, InterruptedStationLeavesOnlyCompleteRecords) {
  // Paced at 115200 baud a board takes seconds: the stop comes mid-board.
  std::vector<BoardPort> boards{StartBoard({"--baud", "115200"})};
  const auto imagePath = dir.WriteBytes("image.bin", Image(16384, 5));
  CRecordingDisplay display(1);
  CProduction production(SetUpFor(Program("0", imagePath, false), boards, true), display);
  ASSERT_TRUE(production.Start());
  ASSERT_TRUE(display.Await(0, [](const auto& b) { return b.ended.size() == 1 && b.progress > 0; }, 90s)) << SimLogs();
  production.StopAll();
  ASSERT_TRUE(production.WaitFor(15s));
  EXPECT_EQ(production.ExitStatus(), EXIT_INTERRUPTED);
  const auto records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].at("result").text, "done");
  EXPECT_EQ(records[1].at("result").text, "interrupted");
  EXPECT_EQ(display.Of(0).states.back(), BoardState::Stopped);
}

TEST_F(ProductionTest, StopOfOneBoardLeavesTheOthersRunning) {
  std::vector<BoardPort> boards{StartBoard({"--baud", "115200"}), StartBoard({"--baud", "115200"})};
  const auto image = Image(16384, 8);
  const auto imagePath = dir.WriteBytes("image.bin", image);
  CRecordingDisplay display(2);
  CProduction production(SetUpFor(Program("0", imagePath, false), boards), display);
  ASSERT_TRUE(production.Start());
  ASSERT_TRUE(display.Await(0, [](const auto& b) { return b.progress > 0; }, 60s)) << SimLogs();
  production.Stop(0);
  production.Stop(7);  // no such board: nothing happens
  ASSERT_TRUE(production.WaitFor(90s)) << SimLogs();
  const auto results = production.Results();
  EXPECT_EQ(results[0].result, "interrupted");
  EXPECT_EQ(results[1].result, "done");
  EXPECT_TRUE(FlashAt(1, 0, image.size()) == std::string(image.begin(), image.end()));
  EXPECT_EQ(display.Of(0).states.back(), BoardState::Stopped);
  EXPECT_EQ(display.Of(1).states.back(), BoardState::Passed);
  // Not a stop of the run: the status is that of the first board that did not pass.
  EXPECT_EQ(production.ExitStatus(), EXIT_INTERRUPTED);
}

TEST_F(ProductionTest, RefusedRunsStartNoBoard) {
  CRecordingDisplay display(1);
  {
    auto setUp = SetUpFor(JobOptions{}, {BoardPort{"/dev/null", "null"}});
    setUp.configDir = dir.File("nowhere");
    CProduction production(setUp, display);
    EXPECT_FALSE(production.Start());
    ASSERT_TRUE(production.Refusal());
    EXPECT_EQ(production.Refusal()->reason, RunRefusal::NoConfiguration);
    EXPECT_TRUE(production.Finished());
  }
  {
    JobOptions dump;
    dump.command = JobCommand::Dump;
    dump.base = "0";
    dump.length = "4096";
    dump.dumpFile = dir.File("d.bin");  // one file for two boards
    CProduction production(SetUpFor(dump, {BoardPort{"a", "COMa"}, BoardPort{"b", "COMb"}}), display);
    EXPECT_FALSE(production.Start());
    EXPECT_EQ(production.Refusal()->reason, RunRefusal::BadOption);
  }
  CProduction none(SetUpFor(JobOptions{}, {}), display);
  EXPECT_FALSE(none.Start());
  EXPECT_EQ(display.RunMessages().size(), 3u);
  EXPECT_FALSE(fs::exists(dir.File("d.bin")));
}

TEST(StopSource, RequestsReachTheirBoardsOnly) {
  CStopSource stops(2);
  std::atomic<int> woken0{0}, woken1{0};
  {
    CStopListener l0(CBoardStop(stops, 0), [&] { ++woken0; });
    CStopListener l1(CBoardStop(stops, 1), [&] { ++woken1; });
    stops.Stop(1);
    stops.Stop(2);  // out of range
    EXPECT_FALSE(stops.Stopped(0));
    EXPECT_TRUE(stops.Stopped(1));
    EXPECT_EQ(woken0.load(), 0);
    EXPECT_EQ(woken1.load(), 1);
    stops.StopAll();
    EXPECT_TRUE(stops.Stopped(0));
    EXPECT_TRUE(stops.AllStopped());
    EXPECT_EQ(woken0.load(), 1);
    EXPECT_EQ(woken1.load(), 2);
  }
  stops.StopAll();  // no listener left to call
  EXPECT_EQ(woken0.load(), 1);
}

}  // namespace
