// tqupdate over several simulated boards at once, and as a station that
// updates board after board on one port, with its JSON Lines report.
#include "tests/cli/CliFixture.h"
#include "tests/support/Json.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace {

using namespace clitest;

// "/dev/pts/7" -> "pts-7", the board's name in the output and in {port}.
std::string NameOf(const std::string& device) {
  std::string name = device.substr(5);
  for (char& c : name)
    if (c == '/') c = '-';
  return name;
}

class CliBoardsTest : public ::testing::Test {
protected:
  void SetUp() override { MakeConfigFolder(Config()); }
  std::string Config() const { return dir.File("config"); }
  std::string Flash(size_t i) const { return dir.File("flash" + std::to_string(i) + ".img"); }

  // Starts one more simulated board and returns its device path.
  std::string StartBoard(std::vector<std::string> extra = {}) {
    const size_t i = sims.size();
    std::vector<std::string> args{kBin + "/chipsim", "--flash-file", Flash(i), "--config", Config(),
                                  "--repeat",      "50",           "--end-idle", "1000"};
    args.insert(args.end(), extra.begin(), extra.end());
    const std::string n = std::to_string(i);
    sims.push_back(std::make_unique<CChildProcess>(args, dir.File("sim" + n + ".out"), dir.File("sim" + n + ".err")));
    const std::string device = sims.back()->FirstLine(5s);
    EXPECT_FALSE(device.empty()) << sims.back()->Err();
    return device;
  }
  std::unique_ptr<CChildProcess> Start(std::vector<std::string> args) {
    args.insert(args.begin(), {kBin + "/tqupdate", "-c", Config(), "-q"});
    return std::make_unique<CChildProcess>(args, dir.File("host.out"), dir.File("host.err"));
  }
  int Run(std::vector<std::string> args, std::chrono::seconds limit = 90s) {
    host = Start(std::move(args));
    return host->Wait(limit);
  }
  std::string Report() const {
    std::string r = "\n--- host stdout\n" + host->Out() + "--- host stderr\n" + host->Err();
    for (const auto& s : sims) r += "--- sim\n" + s->Err();
    return r;
  }
  std::string FlashAt(size_t board, size_t offset, size_t length) const {
    const std::string flash = TempDir::Read(Flash(board));
    return flash.size() >= offset + length ? flash.substr(offset, length) : std::string();
  }
  std::vector<JsonObject> Records() const { return JsonRecords(dir.File("report.jsonl")); }
  // Waits until the report holds `count` records.
  bool AwaitRecords(size_t count, std::chrono::seconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      if (Lines(TempDir::Read(dir.File("report.jsonl"))).size() >= count) return true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }

  TempDir dir;
  std::vector<std::unique_ptr<CChildProcess>> sims;
  std::unique_ptr<CChildProcess> host;
};

TEST_F(CliBoardsTest, FourBoardsProgramWithVerifyAtOnce) {
  std::vector<std::string> devices;
  for (int i = 0; i < 4; ++i) devices.push_back(StartBoard());
  const auto image = Image(20000, 7);
  const auto imagePath = dir.WriteBytes("image.bin", image);
  // Two ways of naming several ports: a comma list and -p repeated.
  ASSERT_EQ(Run({"-p", devices[0] + "," + devices[1], "-p", devices[2], "-p", devices[3], "--report",
                 dir.File("report.jsonl"), "program", "0x20000", imagePath, "--verify"}),
            0)
      << Report();
  const std::string expected(image.begin(), image.end());
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_TRUE(FlashAt(i, 0x20000, image.size()) == expected) << "board " << i;
    // Each board's lines carry its name, and each board verified its own flash.
    const std::string name = NameOf(devices[i]);
    EXPECT_NE(host->Out().find(name + ": verify ok."), std::string::npos) << Report();
    EXPECT_NE(host->Out().find(name + ": compelete."), std::string::npos);
  }
  const auto records = Records();
  ASSERT_EQ(records.size(), 4u);
  for (const auto& r : records) {
    EXPECT_EQ(r.at("result").text, "done");
    EXPECT_EQ(r.at("verify").text, "ok");
    EXPECT_EQ(r.at("image_size").text, "20000");
    EXPECT_EQ(r.at("image_sha256").text.size(), 64u);
    EXPECT_TRUE(r.at("log_tail").items.empty());
  }
  // The summary table: a heading and a row per board, in the order given.
  const auto lines = Lines(host->Out());
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[lines.size() - 5].rfind("port", 0), 0u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(lines[lines.size() - 4 + i].rfind(NameOf(devices[i]), 0), 0u);
}

TEST_F(CliBoardsTest, FailingBoardsEndAloneWhileTheOthersDump) {
  const std::string good1 = StartBoard();
  const std::string naks = StartBoard({"--nak", "boot:10"});
  const std::string good2 = StartBoard();
  const std::string vanishes = StartBoard({"--vanish", "dump:5000"});
  const std::string pattern = dir.File("dump-{port}.bin");
  EXPECT_EQ(Run({"-p", good1 + "," + naks + "," + good2 + "," + vanishes, "--report", dir.File("report.jsonl"), "dump",
                 "0", "65536", pattern}),
            1)
      << Report();
  for (auto [board, device] : {std::pair{size_t{0}, good1}, std::pair{size_t{2}, good2}})
    EXPECT_TRUE(TempDir::Read(dir.File("dump-" + NameOf(device) + ".bin")) == FlashAt(board, 0, 65536)) << device;
  std::map<std::string, JsonObject> byName;
  for (const auto& r : Records()) byName[r.at("name").text] = r;
  ASSERT_EQ(byName.size(), 4u) << Report();
  EXPECT_EQ(byName[NameOf(good1)].at("result").text, "done");
  EXPECT_EQ(byName[NameOf(good2)].at("result").text, "done");
  EXPECT_EQ(byName[NameOf(good1)].at("file_sha256").text.size(), 64u);
  const auto& nak = byName[NameOf(naks)];
  EXPECT_EQ(nak.at("reason").text, "retry-failed");
  EXPECT_EQ(nak.at("exit_status").text, "1");
  ASSERT_FALSE(nak.at("log_tail").items.empty());
  EXPECT_EQ(nak.at("log_tail").items.back().text, "Retry Failed");
  const auto& gone = byName[NameOf(vanishes)];
  EXPECT_EQ(gone.at("reason").text, "port-lost");
  EXPECT_EQ(gone.at("exit_status").text, "1");
  // The cut dump stays beside its file; the file itself was never made.
  EXPECT_LE(fs::file_size(dir.File("dump-" + NameOf(vanishes) + ".bin.part")), 5000u);
  EXPECT_FALSE(fs::exists(dir.File("dump-" + NameOf(vanishes) + ".bin")));
}

TEST_F(CliBoardsTest, ResumeGoesOnWithEachBoardsOwnFile) {
  // Ports through links, so that a board started again keeps its name.
  const std::string a = dir.File("boardA"), b = dir.File("boardB");
  StartBoard({"--link", a, "--vanish", "dump:20000"});
  StartBoard({"--link", b});
  const std::string pattern = dir.File("d-{port}.bin");
  const auto file = [&](const std::string& port) { return dir.File("d-" + NameOf("/dev" + port) + ".bin"); };
  ASSERT_EQ(Run({"-p", a + "," + b, "dump", "0", "65536", pattern}), 1) << Report();
  ASSERT_EQ(fs::file_size(file(a) + ".part"), 20000u) << Report();
  ASSERT_TRUE(fs::exists(file(b)));

  sims.front().reset();
  fs::remove(a);
  StartBoard({"--link", a});  // the same flash content: the blocks held still read the same
  ASSERT_EQ(Run({"-p", a + "," + b, "--report", dir.File("report.jsonl"), "dump", "--resume", "0", "65536", pattern}),
            0)
      << Report();
  EXPECT_TRUE(TempDir::Read(file(a)) == FlashAt(2, 0, 65536));
  EXPECT_TRUE(TempDir::Read(file(b)) == FlashAt(1, 0, 65536));
  EXPECT_NE(sims.back()->Err().find("dump: 0x00003000, 53248 bytes"), std::string::npos) << Report();
  std::map<std::string, std::string> resumedFrom;
  for (const auto& r : Records()) resumedFrom[r.at("name").text] = r.at("resumed_from").text;
  EXPECT_EQ(resumedFrom[NameOf("/dev" + a)], "12288") << Report();
  EXPECT_EQ(resumedFrom[NameOf("/dev" + b)], "null") << Report();
}

TEST_F(CliBoardsTest, SeveralPortsNeedOneDumpFileEach) {
  const std::string a = StartBoard();
  const std::string b = StartBoard();
  EXPECT_EQ(Run({"-p", a + "," + b, "dump", "0", "4096", dir.File("same.bin")}), 2);
  EXPECT_NE(host->Err().find("{port}"), std::string::npos) << Report();
  EXPECT_EQ(Run({"-p", a, "-p", a, "erase", "0", "4096"}), 2);
  EXPECT_EQ(Run({"-p", a, "--loop", "dump", "0", "4096", dir.File("d-{port}.bin")}), 2);
  EXPECT_FALSE(fs::exists(dir.File("same.bin")));
}

TEST_F(CliBoardsTest, StationUpdatesThreeBoardsInTurn) {
  // The simulator stands in for three boards put on the port one after the other.
  const std::string device = StartBoard({"--sessions", "3"});
  const auto image = Image(12000, 9);
  const auto imagePath = dir.WriteBytes("image.bin", image);
  host = Start({"-p", device, "--loop", "--report", dir.File("report.jsonl"), "program", "0x8000", imagePath,
                "--verify"});
  ASSERT_TRUE(AwaitRecords(3, 90s)) << Report();
  EXPECT_EQ(sims[0]->Wait(10s), 0) << Report();  // three sessions, every check passed
  host->Signal(SIGINT);
  ASSERT_EQ(host->Wait(10s), 130) << Report();
  const auto records = Records();
  ASSERT_EQ(records.size(), 3u) << Report();
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(records[i].at("run").text, std::to_string(i + 1));
    EXPECT_EQ(records[i].at("result").text, "done");
    EXPECT_EQ(records[i].at("verify").text, "ok");
  }
  EXPECT_TRUE(FlashAt(0, 0x8000, image.size()) == std::string(image.begin(), image.end()));
  const std::string name = NameOf(device);
  EXPECT_NE(host->Out().find(name + ": board 3: done (passed 3, failed 0)"), std::string::npos) << Report();
}

TEST_F(CliBoardsTest, InterruptedStationLeavesCompleteRecordsOnly) {
  // At 115200 baud a board takes several seconds: Ctrl-C comes mid-board.
  const std::string device = StartBoard({"--baud", "115200"});
  const auto imagePath = dir.WriteBytes("image.bin", Image(16384, 11));
  host = Start({"-p", device, "--loop", "--report", dir.File("report.jsonl"), "program", "0", imagePath});
  ASSERT_TRUE(AwaitRecords(1, 60s)) << Report();
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (host->Out().find("Send App file.", host->Out().find("board 1:")) == std::string::npos &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(20ms);
  host->Signal(SIGINT);
  ASSERT_EQ(host->Wait(10s), 130) << Report();
  const auto records = Records();
  ASSERT_EQ(records.size(), 2u) << Report();
  EXPECT_EQ(records[0].at("result").text, "done");
  EXPECT_EQ(records[1].at("result").text, "interrupted");
  EXPECT_EQ(records[1].at("exit_status").text, "130");
  EXPECT_FALSE(records[1].at("log_tail").items.empty());
}

}  // namespace
