#include "core/Config.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace {

TEST(ChipNumbers, ReadEachItemByItsOwnBase) {
  auto v = SplitChipNumbers("1,0x10,010,4,5,6,7,8,9,10,11");
  EXPECT_EQ(v, (std::array<int32_t, 9>{1, 16, 8, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(SplitChipNumbers("3, x ,5"), (std::array<int32_t, 9>{3, 0, 5, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(SplitChipNumbers(""), (std::array<int32_t, 9>{}));
}

TEST(ChipNumbers, LinesThatWouldSendZerosAreNamedAndRefused) {
  EXPECT_EQ(ChipLineProblem("A", "1,0x10,010,4,5,6,7,8,9"), std::nullopt);
  EXPECT_EQ(ChipLineProblem("A", "1, 2 ,3"), std::nullopt);  // fewer than nine: the rest are 0
  EXPECT_EQ(ChipLineProblem("A", "1,2,3,4,5,6,7,8,9,junk"), std::nullopt);  // past the ninth: unused
  EXPECT_EQ(ChipLineProblem("TQ2210", "abc,def"),
            "the ChipModel line \"TQ2210=abc,def\": item 1 \"abc\" is not a number");
  EXPECT_EQ(ChipLineProblem("A", "1,,3"), "the ChipModel line \"A=1,,3\": item 2 \"\" is not a number");
  EXPECT_EQ(ChipLineProblem("A", "1,2,3,4,5,6,7,8,9x"),
            "the ChipModel line \"A=1,2,3,4,5,6,7,8,9x\": item 9 \"9x\" is not a number");
  EXPECT_EQ(ChipLineProblem("TQ2210", ""),
            "the ChipModel line \"TQ2210\" has no numbers: it should read TQ2210=n0,n1,...,n8");

  // A line without '=' has a key and no value; the file is named too.
  TempDir dir;
  dir.Write("cfg.ini", "[ChipModel]\nGood=1,2,3\nBare\nWords=abc,def\n");
  const auto cfg = CConfigFile::InFolder(dir.Path());
  EXPECT_EQ(cfg.ChipLineProblem("good"), std::nullopt);
  const auto bare = cfg.ChipLineProblem("Bare");
  ASSERT_TRUE(bare.has_value());
  EXPECT_NE(bare->find("\"Bare\" has no numbers"), std::string::npos) << *bare;
  EXPECT_NE(bare->find(cfg.Path()), std::string::npos) << *bare;
  EXPECT_TRUE(cfg.ChipLineProblem("Words").has_value());
}

TEST(ConfigFile, ListsKeysAndLookups) {
  TempDir dir;
  dir.Write("cfg.ini",
            "[COM]\nCOM1\nCOM3\n[ChipModel]\nChipA=1,0x10,010,4,5,6,7,8,9\nChipB\n"
            "[PFLASH]\nM5=5\nM7=7\n[SFLASH]\nM5=5\n[PortMap]\nCOM2=/dev/pts/9\n");
  auto cfg = CConfigFile::InFolder(dir.Path());
  EXPECT_EQ(cfg.Lines("COM"), (std::vector<std::string>{"COM1", "COM3"}));
  EXPECT_EQ(cfg.Keys("ChipModel"), (std::vector<std::string>{"ChipA", "ChipB"}));
  EXPECT_EQ(cfg.ChipNumbers("chipa")[1], 16);
  EXPECT_EQ(cfg.ChipNumbers("Unknown"), (std::array<int32_t, 9>{}));
  EXPECT_EQ(cfg.FlashModelCode(0, "M5"), 5);
  EXPECT_EQ(cfg.FlashModelCode(1, "M5"), 133);
  EXPECT_EQ(cfg.FlashModelCode(1, "nothing"), 128);
  EXPECT_EQ(cfg.FlashModelCode(0, "nothing"), 0);
  EXPECT_EQ(cfg.PortMapPath(2).value_or(""), "/dev/pts/9");
  EXPECT_FALSE(cfg.PortMapPath(1).has_value());
}

TEST(ConfigFile, SettingRoundTripsAndBatchDefaults) {
  TempDir dir;
  auto cfg = CConfigFile::InFolder(dir.Path());
  EXPECT_EQ(cfg.ReadSetting(), SavedSelections{});  // no file: all 0
  SavedSelections s{1, 2, 3, 4, 5, 6, 1, 8};
  ASSERT_TRUE(cfg.WriteSetting(s));
  EXPECT_EQ(cfg.ReadSetting(), s);
  EXPECT_EQ(cfg.ReadSettingFlashModel(), 8);

  EXPECT_EQ(cfg.BatTotalNum(), 0);
  BatchEntry e = cfg.BatEntry(0);
  EXPECT_EQ(e.act, 255);
  EXPECT_EQ(e.base, 0);
  EXPECT_EQ(e.length, 0);
  EXPECT_EQ(e.file, "");
  dir.Write("cfg.ini", "[Bat]\nTotalNum=2\nAct1=2\nBase1=0x10000\nLenth1=4096\nFile1=/tmp/out.bin\n");
  EXPECT_EQ(cfg.BatTotalNum(), 2);
  e = cfg.BatEntry(1);
  EXPECT_EQ(e.act, 2);
  EXPECT_EQ(e.base, 0x10000);
  EXPECT_EQ(e.length, 4096);
  EXPECT_EQ(e.file, "/tmp/out.bin");
}

TEST(ConfigFile, WritingSettingKeepsAHandWrittenFile) {
  TempDir dir;
  const std::string before =
      "# bench 3\n[COM]\nCOM1\n\n[Setting]\nPort=0\nBaudRate=0\n; note\nChipModel=0\n"
      "RamType=0\nSdramSize=0\nXtal=0\nFlashType=0\nFlashModel=0\n\n[Bat]\nTotalNum=1\n";
  dir.Write("cfg.ini", before);
  auto cfg = CConfigFile::InFolder(dir.Path());
  ASSERT_TRUE(cfg.WriteSetting(SavedSelections{1, 0, 0, 0, 0, 0, 0, 0}));
  std::string expected = before;
  expected.replace(expected.find("Port=0"), 6, "Port=1");
  EXPECT_EQ(TempDir::Read(cfg.Path()), expected);
  EXPECT_EQ(cfg.ReadSetting().port, 1);
}

}  // namespace
