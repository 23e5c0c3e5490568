// The factory view's Qt-free parts: the station file, the counts that
// survive a restart, the rows as the boards' display calls leave them, and
// the job made of the main window's settings.
#include "app/window/FactoryBoards.h"
#include "app/window/FactoryFiles.h"
#include "app/window/FactoryJob.h"
#include "core/platform/HostFiles.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

namespace {

using namespace std::chrono_literals;

std::optional<std::string> ParseError(const std::string& text, StationFile* out = nullptr) {
  StationFile station;
  auto e = ParseStationFile(text, "st.txt", station);
  if (out) *out = station;
  return e ? std::optional(e->text) : std::nullopt;
}

TEST(FactoryStationFile, CommentsBlanksAndSurroundingSpaceAreSkipped) {
  StationFile s;
  EXPECT_EQ(ParseError("# bench 3\n\n  /dev/ttyUSB0  \r\n\t# spare\n/dev/serial/by-id/usb-FTDI_A-if00\nCOM7", &s),
            std::nullopt);
  EXPECT_EQ(s.ports, (std::vector<std::string>{"/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI_A-if00", "COM7"}));
}

TEST(FactoryStationFile, GarbageIsRefusedNamingFileAndLine) {
  EXPECT_EQ(ParseError("/dev/ttyUSB0\n/dev/tty\x01USB1\n"),
            "st.txt, line 2: control characters: this is not a list of ports");
  EXPECT_EQ(ParseError(std::string("ELF\0\0\0", 6)), "st.txt, line 1: control characters: this is not a list of ports");
  EXPECT_EQ(ParseError("# x\n/dev/ttyUSB0 /dev/ttyUSB1\n"), "st.txt, line 2: \"/dev/ttyUSB0 /dev/ttyUSB1\" is not a port: blanks inside");
  EXPECT_EQ(ParseError("a\nb\na\n"), "st.txt, line 3: a is given twice");
  EXPECT_EQ(ParseError("a\n" + std::string(kMaxStationLine + 1, 'x')), "st.txt, line 2: the line is longer than 4096 bytes");
  std::string many;
  for (size_t i = 0; i <= kMaxStationPorts; ++i) many += "/dev/ttyUSB" + std::to_string(i) + "\n";
  EXPECT_EQ(ParseError(many), "st.txt, line 65: more than 64 ports");
}

TEST(FactoryStationFile, UnreadableFilesAreRefusedAndSavedFilesReadBack) {
  TempDir dir;
  StationFile s;
  auto missing = LoadStationFile(dir.File("none.txt"), s);
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->text, "cannot read the station file " + dir.File("none.txt") + ": No such file or directory");
  auto folder = LoadStationFile(dir.Path(), s);
  ASSERT_TRUE(folder);
  EXPECT_TRUE(folder->text.starts_with("cannot read the station file " + dir.Path() + ": ")) << folder->text;

  const std::string huge = dir.Write("huge.img", std::string(600000, '#'));
  auto tooBig = LoadStationFile(huge, s);
  ASSERT_TRUE(tooBig);
  EXPECT_EQ(tooBig->text, "cannot read the station file " + huge + ": 600000 bytes is no list of ports");

  const std::vector<std::string> ports{"/dev/ttyUSB0", "/dev/serial/by-id/usb-X-if00"};
  ASSERT_EQ(SaveStationFile(dir.File("st.txt"), ports), std::nullopt);
  ASSERT_EQ(LoadStationFile(dir.File("st.txt"), s), std::nullopt);
  EXPECT_EQ(s.ports, ports);
  auto unwritable = SaveStationFile(dir.File("no/such/folder/st.txt"), ports);
  ASSERT_TRUE(unwritable);
  EXPECT_EQ(unwritable->text, "cannot write the station file " + dir.File("no/such/folder/st.txt"));
}

TEST(FactoryCounts, CountsSurviveARestartAndBadLinesAreNamed) {
  TempDir dir;
  const std::string path = dir.File(CCountsStore::kFileName);
  CCountsStore first(path);
  EXPECT_EQ(first.Load(), std::nullopt);  // no file yet: all zero
  EXPECT_EQ(first.Get("/dev/ttyUSB0"), PortCounts{});
  first.Set("/dev/ttyUSB0", {5, 2});
  first.Set("/dev/odd name", {1, 0});
  first.Set("bad\nport", {9, 9});  // would break the file's lines: not kept
  ASSERT_EQ(first.Save(), std::nullopt);

  CCountsStore second(path);
  EXPECT_EQ(second.Load(), std::nullopt);
  EXPECT_EQ(second.Get("/dev/ttyUSB0"), (PortCounts{5, 2}));
  EXPECT_EQ(second.Get("/dev/odd name"), (PortCounts{1, 0}));
  EXPECT_EQ(second.Get("bad\nport"), PortCounts{});

  dir.Write(CCountsStore::kFileName, "# c\n3 1 /dev/a\nthree 1 /dev/b\n-1 0 /dev/c\n4 4\n2 0 /dev/d\n");
  CCountsStore third(path);
  EXPECT_EQ(third.Load(), "the counts file " + path + " has lines that are no counts (skipped): 3, 4, 5");
  EXPECT_EQ(third.Get("/dev/a"), (PortCounts{3, 1}));
  EXPECT_EQ(third.Get("/dev/d"), (PortCounts{2, 0}));
  EXPECT_EQ(third.Get("/dev/b"), PortCounts{});
}

// Whatever the counts file held that the view cannot use is left to the
// operator: lines that are no counts are written back, and a file that is
// there but cannot be read is never replaced by counts that start from 0.
TEST(FactoryCounts, ASaveLosesNothingTheFileHeld) {
  TempDir dir;
  const std::string path = dir.File(CCountsStore::kFileName);
  dir.Write(CCountsStore::kFileName, "3 1 /dev/a\nnotes: board 7 was dropped\n");
  CCountsStore store(path);
  ASSERT_TRUE(store.Load());
  store.Set("/dev/a", {4, 1});
  ASSERT_EQ(store.Save(), std::nullopt);
  std::string text;
  ASSERT_TRUE(host::ReadRegularFile(path, text));
  EXPECT_NE(text.find("4 1 /dev/a\n"), std::string::npos) << text;
  EXPECT_NE(text.find("notes: board 7 was dropped\n"), std::string::npos) << text;

  // A folder in the file's place stands for any file that cannot be read.
  const std::string folder = dir.File("counts-folder");
  ASSERT_TRUE(std::filesystem::create_directory(folder));
  CCountsStore unreadable(folder);
  EXPECT_EQ(unreadable.Load(), "cannot read the counts file " + folder + "; the counts start from 0 and are not saved");
  unreadable.Set("/dev/a", {1, 0});
  EXPECT_EQ(unreadable.Save(), "the counts file " + folder + " could not be read, so it is not written over");
  EXPECT_TRUE(std::filesystem::is_directory(folder));
}

class FactoryBoardsTest : public ::testing::Test {
protected:
  FactoryBoardsTest() : boards([this] { return now; }) {
    stored.Set("p1", {7, 1});
    boards.SetPorts({"p0", "p1"}, stored);
    boards.TakeChanged();
  }
  static BoardRunSummary Summary(int status, std::string reason, double seconds) {
    BoardRunSummary s;
    s.status = static_cast<decltype(s.status)>(status);
    s.reason = std::move(reason);
    s.seconds = seconds;
    return s;
  }
  static StationCounts Counts(int64_t passed, int64_t failed) {
    StationCounts c;
    c.passed = passed;
    c.failed = failed;
    return c;
  }
  std::chrono::steady_clock::time_point now{};
  TempDir dir;
  CCountsStore stored{dir.File("counts.txt")};
  CFactoryBoards boards;
};

TEST_F(FactoryBoardsTest, TheStateColumnFollowsTheBoardThroughARun) {
  EXPECT_EQ(StateText(boards.Row(0)), "idle");
  boards.StateChanged(0, BoardState::WaitingForBoard);
  EXPECT_EQ(StateText(boards.Row(0)), "waiting for reset");
  boards.StateChanged(0, BoardState::Running);
  boards.SetStatus(0, "running", "");
  EXPECT_EQ(StateText(boards.Row(0)), "running");
  boards.LogLine(0, "\nSend flash file code.\n");
  EXPECT_EQ(StateText(boards.Row(0)), "Send flash file code.");
  boards.StateChanged(0, BoardState::Verifying);
  EXPECT_EQ(StateText(boards.Row(0)), "verifying");
  boards.StateChanged(1, BoardState::Failed);
  boards.BoardEnded(1, Summary(1, "retry-failed", 3.25), Counts(0, 1));
  EXPECT_EQ(StateText(boards.Row(1)), "failed: retry-failed");
  EXPECT_EQ(boards.Row(1).lastSeconds, 3.25);
  // A run that ends without a state call still shows how it ended.
  boards.BoardEnded(0, Summary(0, "", 2), Counts(1, 0));
  EXPECT_EQ(StateText(boards.Row(0)), "done");
  // A station's port then waits for the next board and still tells how the last one went.
  boards.StateChanged(1, BoardState::WaitingForBoard);
  EXPECT_EQ(StateText(boards.Row(1)), "waiting for reset (last: failed: retry-failed)");
  EXPECT_EQ(boards.TakeChanged(), (std::vector<size_t>{0, 1}));
  EXPECT_TRUE(boards.TakeChanged().empty());
}

TEST_F(FactoryBoardsTest, CountsAddThisRunToTheStoredOnesAcrossARestart) {
  boards.BoardEnded(1, Summary(0, "", 1), Counts(1, 0));
  boards.BoardEnded(1, Summary(1, "port-lost", 1), Counts(1, 1));  // a station's second board
  EXPECT_EQ(boards.Row(1).counts, (PortCounts{8, 2}));
  const auto fresh = boards.TakeNewCounts();
  ASSERT_EQ(fresh.size(), 1u);
  EXPECT_EQ(fresh[0].first, "p1");
  EXPECT_TRUE(boards.TakeNewCounts().empty());
  stored.Set(fresh[0].first, fresh[0].second);
  ASSERT_EQ(stored.Save(), std::nullopt);

  // The window is opened again: the counts come back from the file.
  CCountsStore reread(dir.File("counts.txt"));
  ASSERT_EQ(reread.Load(), std::nullopt);
  CFactoryBoards again;
  again.SetPorts({"p1", "p0"}, reread);
  EXPECT_EQ(again.Row(0).counts, (PortCounts{8, 2}));
  EXPECT_EQ(again.Row(1).counts, PortCounts{});
  // A new run starts from the stored counts, not from the last run's.
  again.BeginRun(reread);
  again.BoardEnded(0, Summary(0, "", 1), Counts(1, 0));
  EXPECT_EQ(again.Row(0).counts, (PortCounts{9, 2}));
}

TEST_F(FactoryBoardsTest, ProgressShowsTheRateOfThePhaseUnderWay) {
  boards.StateChanged(0, BoardState::Running);
  boards.Progress(0, 0, 102400);
  EXPECT_EQ(ProgressText(boards.Row(0)), "0 %");
  now += 2s;
  boards.Progress(0, 50, 102400);
  EXPECT_EQ(ProgressText(boards.Row(0)), "50 % at 25.0 KiB/s");
  // The read-back starts its own count: the rate is not its mean with the writing.
  boards.StateChanged(0, BoardState::Verifying);
  boards.Progress(0, 0, 102400);
  now += 1s;
  boards.Progress(0, 100, 102400);
  EXPECT_EQ(ProgressText(boards.Row(0)), "100 % at 100.0 KiB/s");
  // The next board of a station starts with an empty bar.
  boards.StateChanged(0, BoardState::WaitingForBoard);
  EXPECT_EQ(ProgressText(boards.Row(0)), "");
}

TEST_F(FactoryBoardsTest, LogsAreKeptPerBoardCappedAndStrayCallsAreHarmless) {
  for (char c : std::string("boot ok\nhal")) boards.ConsoleChar(0, c);
  boards.LogLine(1, "other board");
  EXPECT_EQ(boards.Log(0), (std::vector<std::string>{"boot ok", "hal"}));
  for (size_t i = 0; i < CFactoryBoards::kLogCap + 10; ++i) boards.LogLine(1, "line " + std::to_string(i));
  const auto log = boards.Log(1);
  ASSERT_EQ(log.size(), CFactoryBoards::kLogCap);
  EXPECT_EQ(log.back(), "line " + std::to_string(CFactoryBoards::kLogCap + 9));
  // A message for no board, or for a board the view does not have, goes nowhere near a row.
  boards.Message(IBoardsDisplay::kNoBoard, "report file unusable");
  boards.Progress(7, 10, 100);
  boards.BoardEnded(7, Summary(1, "x", 1), Counts(0, 1));
  EXPECT_EQ(boards.TakeGeneralMessages(), (std::vector<std::string>{"report file unusable"}));
  EXPECT_EQ(boards.Size(), 2u);
}

TEST_F(FactoryBoardsTest, ManyBoardThreadsAndTheWindowsTickShareTheRows) {
  std::vector<std::thread> threads;
  boards.SetPorts(std::vector<std::string>(16, "p"), stored);
  for (size_t b = 0; b < 16; ++b)
    threads.emplace_back([&, b] {
      for (int i = 0; i <= 100; ++i) {
        boards.Progress(b, i, 1000);
        boards.ConsoleChar(b, i % 10 ? 'x' : '\n');
      }
      boards.BoardEnded(b, Summary(0, "", 1), Counts(1, 0));
    });
  size_t seen = 0;
  for (int i = 0; i < 50; ++i) seen += boards.TakeChanged().size();
  for (auto& t : threads) t.join();
  seen += boards.TakeChanged().size();
  EXPECT_GE(seen, 16u);
  for (size_t b = 0; b < 16; ++b) EXPECT_EQ(boards.Row(b).percent, 100);
}

TEST(FactoryJob, ListChoicesAreTextsUnlessTheTextWouldPickAnotherEntry) {
  const std::vector<std::string> chips{"TQ3010", "tq3010", "16", "TQ3011"};
  EXPECT_EQ(ListChoice(chips, 0), "TQ3010");
  EXPECT_EQ(ListChoice(chips, 1), "1");  // the text, case ignored, names entry 0
  EXPECT_EQ(ListChoice(chips, 2), "2");  // a number is read as a position
  EXPECT_EQ(ListChoice(chips, 3), "TQ3011");
  EXPECT_EQ(ListChoice(chips, -1), "");
  EXPECT_EQ(ListChoice(chips, 4), "");
}

TEST(FactoryJob, TheWindowsSelectionsBecomeTheJob) {
  TempDir dir;
  dir.Write("cfg.ini", TempDir::Read(std::string(TQ_SOURCE_DIR) + "/config/cfg.ini"));
  CSettingsModel model(CConfigFile::InFolder(dir.Path()));
  model.Load();
  model.m_sel.m_nActSel = ACT_DUMP;
  model.m_sel.m_nBaseSel = {0, 3, 0};
  model.m_sel.m_nLengthSel = {0, 1, 0};
  FactoryChoices choices{"img.bin", "/d/dump-{port}-{n}.bin", true};
  JobOptions job = MakeFactoryJob(model, choices);
  EXPECT_EQ(job.command, JobCommand::Dump);
  EXPECT_EQ(job.base, "0x30000");
  EXPECT_EQ(job.length, "0x10000");
  EXPECT_EQ(job.dumpFile, "/d/dump-{port}-{n}.bin");
  EXPECT_EQ(job.image, "");
  EXPECT_EQ(job.baud, CSettingsModel::EntryText(model.m_bauds, model.m_sel.m_nBaudSel));
  EXPECT_EQ(DescribeFactoryJob(model, choices)[0], "Dump 0x10000 bytes at 0x30000 into /d/dump-{port}-{n}.bin");

  model.m_sel.m_nActSel = ACT_PROGRAM;
  model.m_sel.m_nFlashTypeSel = FLASH_TYPE_SPI;
  choices.verify = false;
  job = MakeFactoryJob(model, choices);
  EXPECT_EQ(job.command, JobCommand::Program);
  EXPECT_EQ(job.image, "img.bin");
  EXPECT_EQ(job.dumpFile, "");
  EXPECT_EQ(job.flashType, "spi-flash");
  EXPECT_FALSE(job.verify);
  EXPECT_EQ(DescribeFactoryJob(model, choices)[0], "Program img.bin at 0x30000, no read-back");
}

TEST(FactoryJob, TheMainWindowsDumpFileBecomesAPatternPerBoard) {
  EXPECT_EQ(DumpPatternFor("/d/flash.bin"), "/d/flash-{port}-{n}.bin");
  EXPECT_EQ(DumpPatternFor("/d/flash"), "/d/flash-{port}-{n}");
  EXPECT_EQ(DumpPatternFor("/d/{port}.bin"), "/d/{port}.bin");
  EXPECT_EQ(DumpPatternFor(""), "");
}

}  // namespace
