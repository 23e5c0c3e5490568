// chipsim's command line: what each option sets, the order in which
// overlapping options apply, the defaults, and what is refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/SimOptions.h"
#include "tests/support/TempDir.h"

namespace {

struct Parsed {
  bool ok = false;
  SimOptions options;
  std::string help;
  std::string error;
};

Parsed Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "chipsim");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  Parsed p;
  p.ok = ParseSimOptions(static_cast<int>(args.size()), argv.data(), &p.options, &p.help, &p.error);
  return p;
}

TEST(SimOptionsTest, FaultsAndImagesFromTheCommandLine) {
  TempDir dir;
  dir.Write("boot.bin", "b");
  dir.Write("flash.bin", "l");
  const Parsed p = Parse({"--config", dir.Path(), "--nak", "data:3", "--silent", "erase", "--vanish", "program:100",
                          "--baud", "line", "--corrupt", "0.25", "--reset", "dump:4126"});
  ASSERT_TRUE(p.ok) << p.error;
  const SimOptions& o = p.options;
  EXPECT_EQ(o.m_strBootFile, dir.File("boot.bin"));
  EXPECT_EQ(o.m_strLoaderFile, dir.File("flash.bin"));
  EXPECT_EQ(o.m_nNak[static_cast<size_t>(SimStage::Data)], 3);
  EXPECT_EQ(o.m_nSilent[static_cast<size_t>(SimStage::Erase)], -1);
  EXPECT_EQ(o.m_vanishStage, SimStage::Program);
  EXPECT_EQ(o.m_nVanishAfter, 100);
  EXPECT_EQ(o.m_nResetDumpAfter, 4126);
  EXPECT_TRUE(o.m_bBaudFromLine);
  EXPECT_DOUBLE_EQ(o.m_fCorruptRx, 0.25);
  EXPECT_TRUE(p.help.empty());
}

TEST(SimOptionsTest, EveryValueLandsInItsField) {
  const Parsed p = Parse({"--no-match", "--link", "/tmp/ttyX", "--max-loader", "0x100", "--settings",
                          "01:02 03,0405060708090a", "--flash-file", "f.bin", "--flash-size", "65536", "--baud", "9600",
                          "--request-delay", "5", "--repeat", "010", "--rx-timeout", "7", "--end-idle", "8",
                          "--hang-idle", "0", "--sessions", "2", "--erase-delay", "3", "--program-delay", "4",
                          "--drop", "0.5", "--corrupt-tx", "1", "--drop-tx", "0", "--corrupt-flash", "0x10",
                          "--corrupt-flash", "17", "--seed", "18446744073709551615", "--log", "sim.log",
                          "--verbose", "--console", "--clear-exclusive"});
  ASSERT_TRUE(p.ok) << p.error;
  const SimOptions& o = p.options;
  EXPECT_EQ(o.m_strLink, "/tmp/ttyX");
  EXPECT_TRUE(o.m_strBootFile.empty() && o.m_strLoaderFile.empty());  // --no-match
  EXPECT_EQ(o.m_nMaxLoader, 0x100u);
  EXPECT_EQ(o.m_byExpectSettings, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 0x0A}));
  EXPECT_EQ(o.m_strFlashFile, "f.bin");
  EXPECT_EQ(o.m_nFlashSize, 65536u);
  EXPECT_EQ(o.m_nBaud, 9600);
  EXPECT_FALSE(o.m_bBaudFromLine);
  EXPECT_EQ(o.m_nRequestDelayMs, 5);
  EXPECT_EQ(o.m_nRepeatMs, 8);  // a leading 0 is octal, as in C
  EXPECT_EQ(o.m_nRxTimeoutMs, 7);
  EXPECT_EQ(o.m_nEndIdleMs, 8);
  EXPECT_EQ(o.m_nHangIdleMs, 0);
  EXPECT_EQ(o.m_nSessions, 2);
  EXPECT_EQ(o.m_nEraseDelayMs, 3);
  EXPECT_EQ(o.m_nProgramDelayMs, 4);
  EXPECT_DOUBLE_EQ(o.m_fDropRx, 0.5);
  EXPECT_DOUBLE_EQ(o.m_fCorruptTx, 1.0);
  EXPECT_DOUBLE_EQ(o.m_fDropTx, 0.0);
  EXPECT_EQ(o.m_badCells, (std::vector<uint32_t>{0x10, 17}));
  EXPECT_EQ(o.m_nSeed, UINT64_MAX);
  EXPECT_EQ(o.m_strLogFile, "sim.log");
  EXPECT_TRUE(o.m_bVerbose && o.m_bConsole && o.m_bClearExclusive);
}

TEST(SimOptionsTest, LaterOptionsOverrideEarlierOnesInCommandLineOrder) {
  Parsed p = Parse({"--no-match", "--erase-delay", "5", "--flash-delay", "7", "--program-delay", "9"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.options.m_nEraseDelayMs, 7);
  EXPECT_EQ(p.options.m_nProgramDelayMs, 9);
  p = Parse({"--no-match", "--nak", "data:2", "--nak", "erase:1", "--nak", "data:4", "--seed", "3", "--seed", "4"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.options.m_nNak[static_cast<size_t>(SimStage::Data)], 4);
  EXPECT_EQ(p.options.m_nNak[static_cast<size_t>(SimStage::Erase)], 1);
  EXPECT_EQ(p.options.m_nSeed, 4u);
  // Switches may come more than once.
  p = Parse({"--no-match", "--verbose", "--console", "--verbose", "--no-match"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_TRUE(p.options.m_bVerbose && p.options.m_bConsole);
}

TEST(SimOptionsTest, DefaultsWithoutOptions) {
  const Parsed p = Parse({"--no-match"});
  ASSERT_TRUE(p.ok) << p.error;
  const SimOptions& o = p.options;
  EXPECT_EQ(o.m_strFlashFile, "chipsim-flash.bin");
  EXPECT_EQ(o.m_nFlashSize, 16u << 20);
  EXPECT_EQ(o.m_nMaxLoader, 4u << 20);
  EXPECT_EQ(o.m_nBaud, 0);
  EXPECT_EQ(o.m_nRxTimeoutMs, 1000);
  EXPECT_EQ(o.m_nEndIdleMs, 1000);
  EXPECT_EQ(o.m_nHangIdleMs, 5000);
  EXPECT_EQ(o.m_nSeed, 1u);
  EXPECT_EQ(o.m_nVanishAfter, -1);
  EXPECT_TRUE(o.m_byExpectSettings.empty() && o.m_badCells.empty() && o.m_strLogFile.empty());
}

TEST(SimOptionsTest, RefusesBadValuesUnknownOptionsAndMissingImages) {
  const std::vector<std::vector<std::string>> bad = {
      {"--nak", "settings:1"},  {"--nak", "data"},           {"--nak", "data:-1"},       {"--vanish", "boot:1"},
      {"--reset", "program:5"}, {"--reset", "dump:-1"},
      {"--silent", "nowhere"},  {"--corrupt", "1.5"},        {"--drop", "x"},            {"--config", "/nonexistent"},
      {"--repeat"},             {"--repeat", "-5"},          {"--repeat", "2147483648"}, {"--rx-timeout", "0"},
      {"--end-idle", "0"},      {"--flash-size", "0"},       {"--max-loader", "0x100000000"},
      {"--settings", "0102"},   {"--settings", "0x01020304050607080"}, {"--baud", "fast"},
      {"--seed", "18446744073709551616"}, {"--corrupt-flash", "0x100000000"}, {"--bogus"}, {"stray"}};
  for (const auto& args : bad) {
    const Parsed p = Parse(args);
    EXPECT_FALSE(p.ok) << args[0] << (args.size() > 1 ? " " + args[1] : "");
    EXPECT_FALSE(p.error.empty()) << args[0];
  }
  EXPECT_EQ(Parse({"--seed", "abc"}).error, "bad value for --seed: abc");
}

TEST(SimOptionsTest, HelpListsEveryOption) {
  const Parsed p = Parse({"--seed", "3", "--help"});
  ASSERT_TRUE(p.ok) << p.error;
  for (const char* option :
       {"--link", "--config", "--boot", "--loader", "--no-match", "--max-loader", "--settings", "--clear-exclusive",
        "--flash-file", "--flash-size", "--baud", "--request-delay", "--repeat", "--console", "--chatter", "--rx-timeout",
        "--end-idle", "--hang-idle", "--sessions", "--erase-delay", "--program-delay", "--flash-delay", "--nak",
        "--silent", "--corrupt", "--drop", "--corrupt-tx", "--drop-tx", "--vanish", "--reset", "--corrupt-flash", "--seed",
        "--log", "--verbose", "SIGUSR1", "Exit status"})
    EXPECT_NE(p.help.find(option), std::string::npos) << option;
  EXPECT_EQ(Parse({"-h"}).help, p.help);
}

}  // namespace
