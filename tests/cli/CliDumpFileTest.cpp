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

}  // namespace
