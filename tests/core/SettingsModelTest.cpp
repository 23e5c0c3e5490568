#include "core/SettingsModel.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace {

const char* kIni =
    "[COM]\nCOM1\nCOM3\n[BaudRate]\n115200\n57600\n[ChipModel]\nChipA=1,0x10,010,4,5,6,7,8,9\n"
    "[RAMType]\nSDRAM\nDDR\n[RAMSize]\n8M\n16M\n[XTAL]\n27M\n24M\n13.5M\n[ACT]\nProgram\nErase\nDump\nBatch\n"
    "[PFLASH]\nP0=1\nP1=5\n[SFLASH]\nS0=5\nS1=6\nS2=7\n"
    "[Setting]\nPort=1\nBaudRate=0\nChipModel=0\nRamType=0\nSdramSize=1\nXtal=2\nFlashType=1\nFlashModel=2\n";

class SettingsModelTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir.Write("cfg.ini", kIni);
    model.Load();
  }
  TempDir dir;
  CSettingsModel model{CConfigFile::InFolder(dir.Path())};
};

TEST_F(SettingsModelTest, LoadRestoresRememberedPositions) {
  EXPECT_EQ(model.m_ports.size(), 2u);
  EXPECT_EQ(model.m_sel.m_nPortSel, 1);
  EXPECT_EQ(model.PortNumber(), 2);  // the position, not the text "COM3", gives the number
  EXPECT_EQ(model.m_sel.m_nBaudSel, 0);  // not moved by the crystal position
  EXPECT_EQ(model.m_sel.m_nXtalSel, 2);
  EXPECT_EQ(model.m_sel.m_nFlashTypeSel, 1);
  EXPECT_EQ(model.m_flashModels, (std::vector<std::string>{"S0", "S1", "S2"}));
  EXPECT_EQ(model.m_sel.m_nFlashModelSel, 2);
  EXPECT_EQ(model.PortSettingsText(), "115200,N,8,1");
}

TEST_F(SettingsModelTest, FlashTypeSwitchAlwaysReselectsTheStoredModel) {
  model.m_sel.m_nFlashModelSel = 0;
  model.m_sel.m_nFlashTypeSel = 0;
  model.OnFlashTypeChanged();
  EXPECT_EQ(model.m_flashModels, (std::vector<std::string>{"P0", "P1"}));
  EXPECT_EQ(model.m_sel.m_nFlashModelSel, -1);  // stored position 2 lies beyond the list
  model.m_sel.m_nFlashTypeSel = 1;
  model.OnFlashTypeChanged();
  EXPECT_EQ(model.m_sel.m_nFlashModelSel, 2);
  model.m_sel.m_nFlashTypeSel = -1;  // no selection: nothing changes
  model.OnFlashTypeChanged();
  EXPECT_EQ(model.m_flashModels.size(), 3u);
}

TEST_F(SettingsModelTest, CrystalSelectsTheParallelBaudEntry) {
  model.m_sel.m_nXtalSel = 1;
  model.OnXtalChanged();
  EXPECT_EQ(model.m_sel.m_nBaudSel, 1);
  EXPECT_TRUE(model.HasBaudRate());
  model.m_sel.m_nXtalSel = 2;  // the baud list has only two entries
  model.OnXtalChanged();
  EXPECT_EQ(model.m_sel.m_nBaudSel, -1);
  // No baud entry: the model says so, and the settings text starts with its comma.
  EXPECT_FALSE(model.HasBaudRate());
  EXPECT_EQ(model.PortSettingsText(), ",N,8,1");
}

TEST_F(SettingsModelTest, CaptureFillsChipNumbersByRamTypeAndAddresses) {
  model.m_sel.m_nRamTypeSel = 0;
  model.m_sel.m_nBaseSel = {15, 15, 15};
  model.m_sel.m_nLengthSel = {0, 0, 1};
  UpdateSettings files;
  files.m_strAppFile = "/img.bin";
  files.m_nAppFileSize = 10;
  UpdateSettings s = model.Capture(files);
  EXPECT_EQ(s.m_nChipParam0, 1);
  EXPECT_EQ(s.m_nChipParam1, 16);
  EXPECT_EQ(s.m_nChipParam2, 8);
  EXPECT_EQ((std::array{s.m_nRamParam0, s.m_nRamParam1, s.m_nRamParam2}), (std::array{4, 5, 6}));
  EXPECT_EQ(s.m_nBase, 0xFFF000);
  EXPECT_EQ(s.m_nLength, 4096);
  EXPECT_EQ(s.m_nSdramSize, 1);
  EXPECT_EQ(s.m_nXtal, 2);
  EXPECT_EQ(s.m_nFlashType, 1);
  EXPECT_EQ(s.m_strAppFile, "/img.bin");

  model.m_sel.m_nRamTypeSel = 1;
  model.m_sel.m_nBaseSel = {0, 0, 0};
  s = model.Capture(files);
  EXPECT_EQ((std::array{s.m_nRamParam0, s.m_nRamParam1, s.m_nRamParam2}), (std::array{7, 8, 9}));
  EXPECT_EQ(s.m_nBase, 0);
  EXPECT_EQ(DigitsToAddress({1, 2, 3}), 0x123000);
}

TEST_F(SettingsModelTest, FlashModelCodeFollowsTheFlashType) {
  // S0 and P1 both hold 5.
  model.m_sel.m_nFlashTypeSel = 1;
  model.OnFlashTypeChanged();
  model.m_sel.m_nFlashModelSel = 0;
  EXPECT_EQ(model.FlashModelCode(), 133);
  model.m_sel.m_nFlashTypeSel = 0;
  model.OnFlashTypeChanged();
  model.m_sel.m_nFlashModelSel = 1;
  EXPECT_EQ(model.FlashModelCode(), 5);
}

TEST(LinkChecks, RunInOrderAndStopAtTheFirstFailure) {
  UpdateSettings s;
  EXPECT_EQ(CheckLink("Open", ACT_DUMP, s).value_or(""), "Please open com port.\n");
  EXPECT_EQ(CheckLink("Close", ACT_PROGRAM, s).value_or(""), "Please open application file.\n");
  s.m_strAppFile = "/x.bin";
  EXPECT_EQ(CheckLink("Close", ACT_PROGRAM, s).value_or(""), "error!!application file size = 0!\n");
  s.m_nAppFileSize = 1;
  EXPECT_FALSE(CheckLink("Close", ACT_PROGRAM, s));
  EXPECT_EQ(CheckLink("Close", ACT_ERASE, s).value_or(""), "error!!ActLenth = 0!\n");
  // Dump with length 0 and no dump file: the length text, not the dump-file text.
  EXPECT_EQ(CheckLink("Close", ACT_DUMP, s).value_or(""), "error!!ActLenth = 0!\n");
  s.m_nLength = 4096;
  EXPECT_EQ(CheckLink("Close", ACT_DUMP, s).value_or(""), "Please open dump file.\n");
  s.m_strDumpFile = "/d.bin";
  EXPECT_FALSE(CheckLink("Close", ACT_DUMP, s));
  EXPECT_FALSE(CheckLink("Close", ACT_ERASE, s));
  EXPECT_FALSE(CheckLink("Close", ACT_BATCH, UpdateSettings{}));  // the Bat list supplies files and lengths
  EXPECT_FALSE(CheckLink("Close", -1, UpdateSettings{}));
}

TEST(SettingsModel, MissingConfigGivesEmptyListsWithoutSelection) {
  TempDir dir;
  CSettingsModel model(CConfigFile::InFolder(dir.Path()));
  model.Load();
  EXPECT_TRUE(model.m_ports.empty());
  EXPECT_EQ(model.m_sel.m_nPortSel, -1);
  EXPECT_EQ(model.PortNumber(), 0);  // an open request for port 0 fails
  EXPECT_EQ(model.m_sel.m_nFlashTypeSel, 0);  // the fixed list keeps its first entry
  EXPECT_TRUE(model.m_flashModels.empty());
}

}  // namespace
