// tqupdate against chipsim over pseudo-terminals: every command end to end,
// and every way an update can fail, with the exit status scripts rely on.
#include "tests/cli/CliFixture.h"

#include <sys/stat.h>

namespace {

using namespace clitest;

TEST_F(CliTest, ProgramWithVerifyThenDumpItBack) {
  const auto device = StartSim();
  const auto image = Image(10000, 1);
  const auto imagePath = dir.WriteBytes("image.bin", image);
  const std::string cfgBefore = TempDir::Read(Config() + "/cfg.ini");
  ASSERT_EQ(Run({"-p", device, "program", "0x30000", imagePath, "--verify"}), 0) << Report();
  EXPECT_EQ(TempDir::Read(Config() + "/cfg.ini"), cfgBefore);  // the command line never writes cfg.ini
  EXPECT_EQ(Lines(host->Out()),
            Concat(kBootLines, {"Send App file lenth.", "Send App file.", "AppFile length = 10000.",
                                "app file receive ok.", "erase ok.", "programe ok.", "dump ok.", "compelete.",
                                "verify ok."}))
      << Report();

  ASSERT_EQ(Run({"-p", device, "--log", dir.File("run.log"), "dump", "0x30000", "10000", dir.File("back.bin")}), 0)
      << Report();
  EXPECT_EQ(Lines(host->Out()), Concat(kBootLines, {"Send dump Lenth = 0x2710", "dump ok.", "compelete."}));
  // The log file has the same lines, each behind a time stamp.
  const auto logged = Lines(TempDir::Read(dir.File("run.log")));
  ASSERT_EQ(logged.size(), Lines(host->Out()).size());
  EXPECT_TRUE(logged.back().size() > 24 && logged.back().substr(24) == "compelete.") << logged.back();
  EXPECT_TRUE(TempDir::Read(dir.File("back.bin")) == std::string(image.begin(), image.end()));

  // Erase, then the range reads back as erased flash.
  ASSERT_EQ(Run({"-p", device, "erase", "0x30000", "4096"}), 0) << Report();
  EXPECT_EQ(Lines(host->Out()), Concat(kBootLines, {"Send erase Lenth = 0x1000", "erase ok.", "compelete."}));
  ASSERT_EQ(Run({"-p", device, "dump", "0x30000", "8192", dir.File("back.bin")}), 0) << Report();
  const std::string back = TempDir::Read(dir.File("back.bin"));
  ASSERT_EQ(back.size(), 8192u);
  EXPECT_EQ(back.substr(0, 4096), std::string(4096, '\xff'));
  EXPECT_EQ(back.substr(4096), std::string(image.begin() + 4096, image.begin() + 8192));
}

TEST_F(CliTest, BatchRunsTheListOfTheConfigurationFile) {
  const auto device = StartSim();
  const auto image = Image(5000, 2);
  const auto imagePath = dir.WriteBytes("image.bin", image);
  std::string cfg = TempDir::Read(Config() + "/cfg.ini");
  const auto at = cfg.find("[Bat]");
  ASSERT_NE(at, std::string::npos);
  cfg.insert(at, "[Bat]\nTotalNum=3\nAct0=0\nBase0=0x40000\nFile0=" + imagePath +
                     "\nAct1=1\nBase1=0x80000\nLenth1=4096\nAct2=2\nBase2=0x40000\nLenth2=5000\nFile2=" +
                     dir.File("batch-dump.bin") + "\n\n");
  dir.Write("config/cfg.ini", cfg);
  ASSERT_EQ(Run({"-p", device, "batch"}), 0) << Report();
  const auto lines = Lines(host->Out());
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "compelete."), 1);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "erase ok."), 2);  // the program's and the erase's
  EXPECT_EQ(lines.back(), "compelete.");
  EXPECT_TRUE(TempDir::Read(dir.File("batch-dump.bin")) == std::string(image.begin(), image.end())) << Report();
}

TEST_F(CliTest, VerifyReportsTheFirstDifference) {
  // The simulated flash drops a bit when it programs this address.
  const auto device = StartSim({"--corrupt-flash", "0x50123"});
  const auto imagePath = dir.WriteBytes("image.bin", Image(10000, 3));
  EXPECT_EQ(Run({"-p", device, "program", "0x50000", imagePath, "--verify"}), 1) << Report();
  EXPECT_NE(host->Out().find("verify failed: first difference at offset 0x123"), std::string::npos) << Report();
}

TEST_F(CliTest, UsageAndPortFailures) {
  EXPECT_EQ(Run({"erase", "0x10", "12x"}), 2);
  EXPECT_NE(host->Err().find("bad LENGTH"), std::string::npos);
  EXPECT_EQ(Run({"dump", "0", "0", dir.File("d.bin")}), 2);
  EXPECT_NE(host->Err().find("error!!ActLenth = 0!"), std::string::npos);
  EXPECT_EQ(Run({"--timeout", "nan", "erase", "0", "4096"}), 2);
  EXPECT_EQ(Run({"--timeout", "1e10", "erase", "0", "4096"}), 2);
  EXPECT_EQ(Run({"erase", "0", "0x80000000"}), 2);
  // Files that cannot be read or written are failures, not usage errors.
  EXPECT_EQ(Run({"program", "0", dir.File("missing.bin")}), 1);
  EXPECT_EQ(Run({"dump", "0", "4096", dir.File("no/such/folder/d.bin")}), 1);
  EXPECT_EQ(Run({"--chip", "NoSuchChip", "erase", "0", "4096"}), 2);
  EXPECT_EQ(Run({"frobnicate"}), 2);
  EXPECT_EQ(Run({"-p", dir.File("no-such-device"), "erase", "0", "4096"}), 3);
  // Said once, with the device and the reason; the window's message box is not repeated.
  EXPECT_NE(host->Err().find("cannot open the port " + dir.File("no-such-device") + ": no such device"),
            std::string::npos);
  EXPECT_EQ(host->Err().find("Can't open port!"), std::string::npos);
}

TEST_F(CliTest, PortsListsWithoutTouchingAnyDevice) {
  EXPECT_EQ(Run({"ports"}, 10s), 0) << Report();
  EXPECT_EQ(Run({"--version"}, 10s), 0);
  EXPECT_NE(host->Out().find("V1.22"), std::string::npos);
}

TEST_F(CliTest, TenNegativeAcknowledgesFail) {
  const auto device = StartSim({"--nak", "boot:10"});
  ASSERT_EQ(Run({"-p", device, "erase", "0", "4096"}), 1) << Report();
  const auto out = host->Out();
  EXPECT_NE(out.find("check error 9 time"), std::string::npos);
  EXPECT_NE(out.find("Retry Failed"), std::string::npos);
  EXPECT_EQ(out.find("compelete."), std::string::npos);
}

TEST_F(CliTest, SilentChipGivesUpAfterTheTimeout) {
  const auto device = StartSim({"--silent", "boot"});
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Run({"-p", device, "--timeout", "2", "erase", "0", "4096"}), 4) << Report();
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, 3s + 500ms);
  EXPECT_GE(took, 2s);
}

TEST_F(CliTest, ChipResetDuringADumpFailsInsteadOfTakingItsRequestsForData) {
  // After the first block the chip resets; its boot loader's request, every
  // 50 ms or every 1 ms, fills the last 30 bytes of the range and follows it.
  for (const char* repeat : {"50", "1"}) {
    const auto device = StartSim({"--reset", "dump:4096", "--repeat", repeat});
    dir.Write("reset.bin", "an older dump");
    EXPECT_EQ(Run({"-p", device, "dump", "0", "4126", dir.File("reset.bin")}, 20s), 1) << repeat << Report();
    EXPECT_EQ(TempDir::Read(dir.File("reset.bin")), "an older dump");
    EXPECT_EQ(host->Out().find("dump ok."), std::string::npos) << Report();
    sim.reset();
    fs::remove(dir.File("sim.out"));
  }
}

TEST_F(CliTest, LineSlowerThanItsSettingProgramsEachChunkOnce) {
  // The chip's side runs at 9600 baud, the host believes 115200: a 4 KiB
  // chunk takes over 4 s on the line, longer than the prescribed 2 s.
  const auto device = StartSim({"--baud", "9600"});
  const auto image = Image(4096 + 500, 6);
  const auto imagePath = dir.WriteBytes("slow.bin", image);
  ASSERT_EQ(Run({"-p", device, "program", "0x60000", imagePath, "--verify"}, 150s), 0) << Report();
  EXPECT_EQ(host->Out().find("Ack TimerOut"), std::string::npos) << Report();
  EXPECT_EQ(sim->Err().find("8192 of"), std::string::npos) << "a chunk was taken twice" << Report();
}

TEST_F(CliTest, DeviceVanishingMidDumpFailsAndKeepsThePartialDumpBesideTheFile) {
  const auto device = StartSim({"--vanish", "dump:5000"});
  // What the file held before a failed dump stays; the bytes received are in FILE.part.
  dir.Write("cut.bin", "an older dump");
  ::chmod(dir.File("cut.bin").c_str(), 0640);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Run({"-p", device, "dump", "0", "65536", dir.File("cut.bin")}, 20s), 1) << Report();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_EQ(TempDir::Read(dir.File("cut.bin")), "an older dump");
  const auto size = fs::file_size(dir.File("cut.bin.part"));
  EXPECT_GE(size, 4096u);
  EXPECT_LE(size, 5000u);
  EXPECT_NE(host->Out().find("cut.bin.part holds " + std::to_string(size) + " of 65536 bytes"), std::string::npos)
      << "file " << size << Report();
  EXPECT_NE(host->Err().find("the dump is incomplete: its " + std::to_string(size) + " bytes are in " +
                             dir.File("cut.bin.part") + "; " + dir.File("cut.bin") + " was left as it was"),
            std::string::npos)
      << Report();

  // A complete dump replaces the file, keeping its permissions, and leaves no .part behind.
  sim.reset();
  fs::remove(dir.File("sim.out"));
  const auto again = StartSim();
  ASSERT_EQ(Run({"-p", again, "dump", "0", "8192", dir.File("cut.bin")}, 20s), 0) << Report();
  EXPECT_EQ(fs::file_size(dir.File("cut.bin")), 8192u);
  EXPECT_FALSE(fs::exists(dir.File("cut.bin.part")));
  struct stat st {};
  ASSERT_EQ(::stat(dir.File("cut.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(CliTest, InterruptWhileWaitingForTheChip) {
  const auto device = StartSim({"--request-delay", "60000"});
  host = Start({"-p", device, "dump", "0", "4096", dir.File("never.bin")});
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (host->Out().find("Begin updating now.") == std::string::npos && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(20ms);
  host->Signal(SIGINT);
  ASSERT_EQ(host->Wait(5s), 130) << Report();
  EXPECT_FALSE(fs::exists(dir.File("never.bin")));
  EXPECT_FALSE(fs::exists(dir.File("never.bin.part")));
}

TEST_F(CliTest, InterruptClosesThePortAndTheDumpFile) {
  const auto device = StartLongDump(dir.File("long.bin"));
  host->Signal(SIGINT);
  ASSERT_EQ(host->Wait(5s), 130) << Report();
  EXPECT_FALSE(fs::exists(dir.File("long.bin")));  // an interrupted dump is not the file
  const auto size = fs::file_size(dir.File("long.bin.part"));
  EXPECT_GT(size, 0u);
  EXPECT_NE(host->Out().find("holds " + std::to_string(size) + " of 1048576 bytes"), std::string::npos) << Report();
  // The port is free again: the next run opens it and works with the chip.
  EXPECT_EQ(Run({"-p", device, "--timeout", "10", "erase", "0", "4096"}, 30s), 0) << Report();
}

TEST_F(CliTest, InterruptWhileTheLastChunkIsOnTheWireErasesNothing) {
  // At 9600 baud the image's one chunk takes about 4.2 s on the line; the
  // Ctrl-C comes a second before the chip acknowledges it.
  const auto device = StartSim({"--baud", "9600"});
  const auto imagePath = dir.WriteBytes("last.bin", Image(4000, 7));
  host = Start({"-p", device, "program", "0x70000", imagePath, "--no-verify"});
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (host->Out().find("AppFile length") == std::string::npos && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(20ms);
  std::this_thread::sleep_for(3200ms);
  host->Signal(SIGINT);
  ASSERT_EQ(host->Wait(20s), 130) << Report();
  EXPECT_NE(host->Out().find("stopped before erase."), std::string::npos) << Report();
  // The erase command follows this line at once: it was never handed to the port.
  EXPECT_EQ(host->Out().find("app file receive ok."), std::string::npos) << Report();
  EXPECT_EQ(sim->Err().find("erase:"), std::string::npos) << "the range was erased" << Report();
}

}  // namespace
