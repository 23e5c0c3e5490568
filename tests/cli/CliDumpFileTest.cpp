// What a dump leaves on disk: FILE.part is always a new file of this run,
// never a link's target or another name of someone's file; a batch's dump
// entries go through FILE.part too; and `dump --verify` turns a line that
// changes bytes into a right file or a failure, never a wrong file and exit 0.
#include "tests/cli/CliFixture.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace clitest;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class CliDumpFileTest : public CliTest {
protected:
  // A second chip on a fresh device, after the first one vanished.
  std::string RestartSim(std::vector<std::string> extra = {}) {
    sim.reset();
    fs::remove(dir.File("sim.out"));
    return StartSim(std::move(extra));
  }
  void AddBatch(const std::string& entries) {
    std::string cfg = TempDir::Read(Config() + "/cfg.ini");
    const auto at = cfg.find("[Bat]");
    ASSERT_NE(at, std::string::npos);
    dir.Write("config/cfg.ini", cfg.insert(at, "[Bat]\n" + entries + "\n\n"));
  }
};

TEST_F(CliDumpFileTest, PartFileThatIsALinkIsReplacedNeverWrittenThrough) {
  const std::string victim = dir.Write("victim.txt", "someone else's file");
  dir.Write("d.bin", "the older dump");
  ASSERT_EQ(::symlink(victim.c_str(), dir.File("d.bin.part").c_str()), 0);

  // A dump that fails part way leaves the link's target alone.
  const auto device = StartSim({"--vanish", "dump:5000"});
  ASSERT_EQ(Run({"-p", device, "dump", "0", "65536", dir.File("d.bin")}, 30s), 1) << Report();
  EXPECT_TRUE(TempDir::Read(victim) == "someone else's file");
  EXPECT_TRUE(TempDir::Read(dir.File("d.bin")) == "the older dump");
  EXPECT_FALSE(fs::is_symlink(dir.File("d.bin.part")));

  // So does one that succeeds, and FILE becomes a plain file with the dump.
  ::unlink(dir.File("d.bin.part").c_str());
  ASSERT_EQ(::symlink(victim.c_str(), dir.File("d.bin.part").c_str()), 0);
  const auto again = RestartSim();
  ASSERT_EQ(Run({"-p", again, "dump", "0", "8192", dir.File("d.bin")}, 30s), 0) << Report();
  EXPECT_TRUE(TempDir::Read(victim) == "someone else's file");
  EXPECT_FALSE(fs::is_symlink(dir.File("d.bin")));
  EXPECT_TRUE(TempDir::Read(dir.File("d.bin")) == Flash(0, 8192));
  EXPECT_FALSE(fs::exists(dir.File("d.bin.part")));
}

TEST_F(CliDumpFileTest, PartFileWithASecondNameIsNotWrittenInto) {
  // A hard link: FILE.part and the other file are one file.
  const std::string other = dir.Write("other.txt", "another name of the same file");
  ASSERT_EQ(::link(other.c_str(), dir.File("d.bin.part").c_str()), 0);
  const auto device = StartSim();
  ASSERT_EQ(Run({"-p", device, "dump", "0", "4096", dir.File("d.bin")}, 30s), 0) << Report();
  EXPECT_TRUE(TempDir::Read(other) == "another name of the same file");
  EXPECT_TRUE(TempDir::Read(dir.File("d.bin")) == Flash(0, 4096));
}

TEST_F(CliDumpFileTest, BatchDumpCutShortLeavesItsFileAsItWas) {
  dir.Write("b.bin", "the older dump");
  AddBatch("TotalNum=2\nAct0=2\nBase0=0\nLenth0=8192\nFile0=" + dir.File("a.bin") +
           "\nAct1=2\nBase1=0x10000\nLenth1=65536\nFile1=" + dir.File("b.bin"));
  // The chip vanishes in the second entry's dump, after 8192 + 5000 bytes.
  const auto device = StartSim({"--vanish", "dump:13192"});
  ASSERT_EQ(Run({"-p", device, "batch"}, 30s), 1) << Report();
  EXPECT_TRUE(TempDir::Read(dir.File("b.bin")) == "the older dump");
  const auto held = fs::file_size(dir.File("b.bin.part"));
  EXPECT_LT(held, 65536u);
  EXPECT_TRUE(Has(host->Err(), "the dump is incomplete: its " + std::to_string(held) + " bytes are in " +
                                   dir.File("b.bin.part") + "; " + dir.File("b.bin") + " was left as it was"))
      << Report();
  // The first entry's dump was complete: it is in its file.
  EXPECT_TRUE(TempDir::Read(dir.File("a.bin")) == Flash(0, 8192)) << Report();
  EXPECT_FALSE(fs::exists(dir.File("a.bin.part")));

  const auto again = RestartSim();
  ASSERT_EQ(Run({"-p", again, "batch"}, 30s), 0) << Report();
  EXPECT_TRUE(TempDir::Read(dir.File("b.bin")) == Flash(0x10000, 65536));
  EXPECT_FALSE(fs::exists(dir.File("b.bin.part")));
}

// The simulated line flips a bit of about one byte in ten thousand that the
// chip sends: most 64 KiB dumps come out wrong, yet end in "dump ok.".
TEST_F(CliDumpFileTest, VerifiedDumpOverACorruptingLineIsRightOrFails) {
  const auto device = StartSim({"--corrupt-tx", "1e-4", "--seed", "7"});
  ASSERT_EQ(Run({"-p", device, "dump", "0", "65536", dir.File("plain.bin")}, 60s), 0) << Report();
  const bool plainWrong = TempDir::Read(dir.File("plain.bin")) != Flash(0, 65536);

  ASSERT_EQ(Run({"-p", device, "dump", "0", "65536", dir.File("checked.bin"), "--verify"}, 90s), 0) << Report();
  EXPECT_TRUE(TempDir::Read(dir.File("checked.bin")) == Flash(0, 65536)) << Report();
  // The second read disagreed somewhere and the blocks were read again.
  EXPECT_TRUE(Has(host->Out(), " blocks read again, ")) << Report();
  EXPECT_TRUE(plainWrong) << "the line corrupted nothing; the case shows nothing";

  // A line that spoils every block never gives two agreeing reads.
  dir.Write("never.bin", "the older dump");
  const auto worse = RestartSim({"--corrupt-tx", "2e-3", "--seed", "3"});
  ASSERT_EQ(Run({"-p", worse, "dump", "0", "8192", dir.File("never.bin"), "--verify"}, 90s), 1) << Report();
  EXPECT_TRUE(Has(host->Out(), "verify failed: the block at offset 0x")) << Report();
  EXPECT_TRUE(TempDir::Read(dir.File("never.bin")) == "the older dump");
}

// --resume after a chip that vanished 20000 bytes into a 64 KiB dump: FILE.part
// holds four whole blocks, so the chip is asked again from the fourth.
class CliResumeTest : public CliDumpFileTest {
protected:
  void CutAt20000(const std::string& base = "0") {
    const auto device = StartSim({"--vanish", "dump:20000", "--baud", "115200"});
    ASSERT_EQ(Run({"-p", device, "dump", base, "65536", dir.File("r.bin")}, 30s), 1) << Report();
    ASSERT_EQ(fs::file_size(dir.File("r.bin.part")), 20000u);
    heldBefore = TempDir::Read(dir.File("r.bin.part"));
    recordBefore = TempDir::Read(dir.File("r.bin.part.json"));
  }
  void ExpectPartUntouched() {
    EXPECT_TRUE(TempDir::Read(dir.File("r.bin.part")) == heldBefore);
    EXPECT_EQ(TempDir::Read(dir.File("r.bin.part.json")), recordBefore);
    EXPECT_FALSE(fs::exists(dir.File("r.bin")));
  }
  std::string heldBefore, recordBefore;
};

TEST_F(CliResumeTest, CutDumpGoesOnFromOneBlockBeforeWhatIsHeld) {
  CutAt20000();
  const auto device = RestartSim();
  ASSERT_EQ(Run({"-p", device, "--report", dir.File("r.jsonl"), "dump", "--resume", "0", "65536", dir.File("r.bin")},
                30s),
            0)
      << Report();
  EXPECT_TRUE(TempDir::Read(dir.File("r.bin")) == Flash(0, 65536));
  EXPECT_FALSE(fs::exists(dir.File("r.bin.part")));
  EXPECT_FALSE(fs::exists(dir.File("r.bin.part.json")));
  // 20000 rounded down to whole blocks is 16384; one block before that.
  EXPECT_TRUE(Has(sim->Err(), "dump: 0x00003000, 53248 bytes")) << Report();
  EXPECT_FALSE(Has(sim->Err(), "dump: 0x00000000")) << Report();
  EXPECT_TRUE(Has(TempDir::Read(dir.File("r.jsonl")), "\"resumed_from\":12288")) << TempDir::Read(dir.File("r.jsonl"));
}

TEST_F(CliResumeTest, VerifiedResumeReadsTheWholeRangeTheSecondTime) {
  CutAt20000();
  const auto device = RestartSim();
  ASSERT_EQ(Run({"-p", device, "dump", "--resume", "--verify", "0", "65536", dir.File("r.bin")}, 60s), 0) << Report();
  EXPECT_TRUE(TempDir::Read(dir.File("r.bin")) == Flash(0, 65536));
  const std::string log = sim->Err();
  const auto rest = log.find("dump: 0x00003000, 53248 bytes");
  ASSERT_NE(rest, std::string::npos) << Report();
  EXPECT_NE(log.find("dump: 0x00000000, 65536 bytes", rest), std::string::npos) << Report();
  EXPECT_TRUE(Has(host->Out(), "verify ok.")) << Report();
}

TEST_F(CliResumeTest, FlashThatChangedSinceIsRefusedAndThePartStays) {
  CutAt20000();
  // The block read again (0x3000 to 0x4000) is no longer what FILE.part holds.
  std::string flash = TempDir::Read(dir.File("flash.img"));
  flash[0x3005] = static_cast<char>(~flash[0x3005]);
  dir.Write("flash.img", flash);
  const auto device = RestartSim();
  ASSERT_EQ(Run({"-p", device, "dump", "--resume", "0", "65536", dir.File("r.bin")}, 30s), 1) << Report();
  EXPECT_TRUE(Has(host->Err(), "cannot resume: the flash at 0x3005 differs from the byte " + dir.File("r.bin.part")))
      << Report();
  ExpectPartUntouched();
}

TEST_F(CliResumeTest, PartOfAnotherDumpIsRefusedBeforeThePort) {
  CutAt20000();
  sim.reset();
  for (const auto& [base, length] : {std::pair{"0x1000", "65536"}, std::pair{"0", "0x20000"}}) {
    EXPECT_EQ(Run({"-p", "/nonexistent/tty", "dump", "--resume", base, length, dir.File("r.bin")}), 1) << Report();
    EXPECT_TRUE(Has(host->Err(), "cannot resume from " + dir.File("r.bin.part") +
                                     ": it holds part of another dump: 65536 bytes at 0x0, begun "))
        << Report();
    ExpectPartUntouched();
  }
  // Without its record nothing says what FILE.part holds.
  fs::remove(dir.File("r.bin.part.json"));
  EXPECT_EQ(Run({"-p", "/nonexistent/tty", "dump", "--resume", "0", "65536", dir.File("r.bin")}), 1) << Report();
  EXPECT_TRUE(Has(host->Err(), "no record of what it holds")) << Report();
  EXPECT_TRUE(TempDir::Read(dir.File("r.bin.part")) == heldBefore);
}

}  // namespace
