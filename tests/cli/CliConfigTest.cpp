// tqupdate with a configuration that would send the chip made-up values or
// run a batch that does nothing: refused before the port is opened.
#include "tests/cli/CliFixture.h"

namespace {

using namespace clitest;

class CliConfigTest : public CliTest {
protected:
  // A run that must be refused before any port is asked for: the device
  // named does not exist, so a run that got as far as the port ends with 3.
  int RunRefused(std::vector<std::string> args) {
    args.insert(args.begin(), {"-p", dir.File("no-such-device")});
    return Run(std::move(args), 20s);
  }
  bool ErrHas(const std::string& text) const { return host->Err().find(text) != std::string::npos; }
};

TEST_F(CliConfigTest, RememberedPositionsWithoutAnEntryAreRefused) {
  const struct {
    const char* from;
    const char* to;
    const char* says;
  } cases[] = {
      {"ChipModel=0", "ChipModel=3", "no chip model: cfg.ini's Setting ChipModel=3 names no entry of the list "
                                     "ChipModel, which has 3 entries; use --chip"},
      {"RamType=0", "RamType=-1", "Setting RamType=-1 names no entry of the list RAMType, which has 2 entries"},
      {"SdramSize=1", "SdramSize=4", "Setting SdramSize=4 names no entry of the list RAMSize, which has 4 entries"},
      {"Xtal=0", "Xtal=9", "Setting Xtal=9 names no entry of the list XTAL, which has 4 entries; use --xtal"},
      {"FlashType=1", "FlashType=2", "no flash type: cfg.ini's Setting FlashType=2"},
      {"FlashModel=0", "FlashModel=4", "Setting FlashModel=4 names no entry of the list SFLASH, which has 4 entries"},
  };
  const std::string original = TempDir::Read(Config() + "/cfg.ini");
  for (const auto& c : cases) {
    dir.Write("config/cfg.ini", original);
    EditConfig(c.from, c.to);
    EXPECT_EQ(RunRefused({"erase", "0", "4096"}), 2) << c.to << Report();
    EXPECT_TRUE(ErrHas(c.says)) << c.to << Report();
  }
  // An option that names an entry stands in for the remembered position.
  dir.Write("config/cfg.ini", original);
  EditConfig("Xtal=0", "Xtal=9");
  EXPECT_EQ(RunRefused({"--xtal", "0", "erase", "0", "4096"}), 3) << Report();

  // The port is needed only when no device or COM number is given.
  dir.Write("config/cfg.ini", original);
  EditConfig("Port=0", "Port=4");
  EXPECT_EQ(Run({"erase", "0", "4096"}, 20s), 2) << Report();
  EXPECT_TRUE(ErrHas("Setting Port=4 names no entry of the list COM, which has 4 entries; use --port")) << Report();
}

TEST_F(CliConfigTest, EmptyOrGarbageConfigurationIsRefusedEvenWithABaudRate) {
  for (const char* content : {"", "\x01\x02garbage\n[[[\n=;=\n"}) {
    dir.Write("config/cfg.ini", content);
    EXPECT_EQ(RunRefused({"-b", "115200", "erase", "0", "4096"}), 2) << Report();
    EXPECT_TRUE(ErrHas("no chip model: cfg.ini's Setting ChipModel=0 names no entry of the list ChipModel, which "
                       "has 0 entries"))
        << Report();
  }
}

TEST_F(CliConfigTest, CrystalChoosesTheBaudEntryAtItsPosition) {
  // Setting BaudRate=0 remembers 115200; crystal entry 1 goes with 57600.
  const auto device = StartSim({"--baud", "line", "--verbose"});
  ASSERT_EQ(Run({"-p", device, "--xtal", "1", "erase", "0", "4096"}), 0) << Report();
  EXPECT_NE(sim->Err().find("line rate now 57600 baud"), std::string::npos) << Report();
  EXPECT_EQ(sim->Err().find("line rate now 38400 baud"), std::string::npos) << Report();
  // --baud wins over the crystal's entry.
  ASSERT_EQ(Run({"-p", device, "--xtal", "1", "-b", "38400", "erase", "0", "4096"}), 0) << Report();
  EXPECT_NE(sim->Err().find("line rate now 38400 baud"), std::string::npos) << Report();
  // A crystal whose position has no baud entry is refused.
  EditConfig("[BaudRate]\n115200\n57600\n38400\n19200\n", "[BaudRate]\n115200\n");
  EXPECT_EQ(RunRefused({"--xtal", "2", "erase", "0", "4096"}), 2) << Report();
  EXPECT_TRUE(ErrHas("no baud rate: crystal entry 2 goes with the BaudRate entry at the same position, but that "
                     "list has 1 entry; use --baud"))
      << Report();
}

TEST_F(CliConfigTest, BatchListIsCheckedBeforeThePort) {
  const auto image = dir.WriteBytes("image.bin", Image(100, 4));
  const struct {
    std::string bat;
    int status;
    const char* says;
  } cases[] = {
      {"TotalNum=0\n", 2, "the Bat list of cfg.ini is empty (TotalNum=0): nothing to do"},
      {"TotalNum=-3\n", 2, "the Bat list of cfg.ini is empty (TotalNum=-3)"},
      {"TotalNum=2\nAct0=1\nLenth0=4096\nAct1=7\n", 2,
       "Bat entry 1: Act1=7 is not 0 (program), 1 (erase) or 2 (dump)"},
      {"TotalNum=2\nAct0=1\nLenth0=4096\n", 2, "Bat entry 1: Act1=255 is not 0"},
      {"TotalNum=1\nAct0=2\nFile0=" + dir.File("d.bin") + "\n", 2, "Bat entry 0: Lenth0=0: an erase or a dump"},
      {"TotalNum=1\nAct0=0\n", 2, "Bat entry 0: File0 is missing"},
      {"TotalNum=1\nAct0=0\nFile0=" + dir.File("none.bin") + "\n", 1, "Bat entry 0: cannot read File0"},
      {"TotalNum=2\nAct0=0\nFile0=" + image + "\nAct1=2\nLenth1=9\nFile1=" + dir.File("no/dir/d.bin") + "\n", 1,
       "Bat entry 1: cannot write the dump file"},
  };
  for (const auto& c : cases) {
    dir.Write("config/cfg.ini", "[BaudRate]\n115200\n[ChipModel]\nC=1\n[RAMType]\nSDRAM\n[RAMSize]\n8MB\n"
                                "[XTAL]\n27MHz\n[PFLASH]\nM=1\n[Bat]\n" + c.bat);
    EXPECT_EQ(RunRefused({"batch"}), c.status) << c.bat << Report();
    EXPECT_TRUE(ErrHas(c.says)) << c.bat << Report();
  }
}

}  // namespace
