#include "core/Config.h"
#include "core/Profile.h"
#include "comm/CommSettings.h"
#include "sim/ChipCore.h"
#include "tests/support/TempDir.h"
#include "tests/update/EngineFixture.h"

#include <gtest/gtest.h>

#include <random>

namespace {

constexpr int kRounds = 300;

// Text made of the pieces that matter to the INI syntax, with random bytes between.
std::string RandomIni(std::mt19937& rng) {
  static const char* pieces[] = {"[", "]", "=", "\n", "\r\n", ";", "#", " ", "\t", "Setting", "Bat", "TotalNum",
                                 "Port", "\"", "0x", "-", "PFLASH", "pflash", "\0", "\xff"};
  std::string s;
  const int n = std::uniform_int_distribution<int>(0, 200)(rng);
  for (int i = 0; i < n; ++i) {
    if (rng() % 4 == 0) s.push_back(static_cast<char>(rng() & 0xFF));
    else s += pieces[rng() % std::size(pieces)];
  }
  return s;
}

TEST(FuzzReplay, ProfileFilesOfAnyShape) {
  TempDir dir;
  std::mt19937 rng(20261207);
  for (int round = 0; round < kRounds; ++round) {
    const std::string path = dir.Write("cfg.ini", RandomIni(rng));
    const std::string section = RandomIni(rng).substr(0, 12), key = RandomIni(rng).substr(0, 8);
    (void)ReadProfileInt(section, key, 7, path);
    (void)ReadProfileString(section, key, "d", 64, path);
    auto lines = ReadProfileSection(section, path);
    size_t used = 0;
    for (const auto& l : lines) used += l.size() + 1;
    EXPECT_LE(used, PROFILE_SECTION_BUDGET);
    (void)CConfigFile(path).ChipNumbers(key);

    // A clean key written into any file reads back, and the file still parses.
    ASSERT_TRUE(WriteProfileString("Setting", "FlashModel", std::to_string(round), path));
    EXPECT_EQ(ReadProfileInt("setting", "flashmodel", -1, path), round) << TempDir::Read(path);
  }
}

TEST(FuzzReplay, PortSettingsTexts) {
  std::mt19937 rng(7);
  static const char* pieces[] = {"115200", ",", "N", "E", "O", "8", "7", "1", "2", "1.5", "baud=", " ", "=", "x",
                                 "data=", "parity=", "stop=", "-", "99999999999999"};
  for (int round = 0; round < kRounds * 3; ++round) {
    std::string text;
    const int n = std::uniform_int_distribution<int>(0, 12)(rng);
    for (int i = 0; i < n; ++i) text += pieces[rng() % std::size(pieces)];
    serial::LineSettings line;
    line.baud = 9600;  // fields the text leaves out keep what the line had
    if (ParseCommSettings(text.c_str(), line)) {
      EXPECT_GT(line.baud, 0u) << text;
      EXPECT_GE(line.byteSize, 5) << text;
      EXPECT_LE(line.byteSize, 8) << text;
    }
  }
}

class EngineFuzz : public EngineTest {};

TEST_F(EngineFuzz, RandomChipBytesAndTicksKeepTheUpdateConsistent) {
  std::mt19937 rng(1234);
  files.files["/img/app.bin"] = Pattern(9000, 3);
  files.files["/img/empty.bin"] = {};
  batch.total = 3;
  batch.entries = {BatchEntry{0, 0, 0, "/img/app.bin"}, BatchEntry{2, 0, 5000, "/out/b.bin"},
                   BatchEntry{1, 0x1000, 0, "/img/empty.bin"}};
  const uint8_t alphabet[] = {'X', 'X', 'X', 'Y', 'E', 'P', 'A', 0x00, 0xFF, 0x18};
  for (int round = 0; round < kRounds; ++round) {
    UpdateSettings s = BaseSettings(static_cast<int32_t>(rng() % 5));
    s.m_nLength = static_cast<int32_t>(rng() % 3 == 0 ? 0 : rng() % 20000);
    if (rng() % 5 == 0) s.m_strAppFile = "/img/empty.bin";
    engine.OnUpdateStart(s);
    Clear();
    const int steps = std::uniform_int_distribution<int>(1, 400)(rng);
    for (int i = 0; i < steps; ++i) {
      const uint32_t pick = rng() % 100;
      if (pick < 80) {
        Bytes chunk(1 + rng() % 8);
        for (auto& b : chunk) b = rng() % 3 ? alphabet[rng() % std::size(alphabet)] : static_cast<uint8_t>(rng());
        Feed(chunk);
      } else if (pick < 95) {
        clock.now += rng() % 2500;
        engine.OnUpdateTick(1 + rng() % 3);
      } else if (pick < 98) {
        engine.OnUpdateStop();
      } else {
        engine.OnPortLost("gone");
      }
      ASSERT_LE(engine.Stage(), STAGE_DUMP);
    }
    for (int32_t p : view.Progress()) {
      EXPECT_GE(p, 0);
      EXPECT_LE(p, 100);
    }
    // Every end leaves the update idle until it is started again.
    if (Ended() && trace.events.back() == kEndEvent) {
      EXPECT_EQ(engine.Stage(), STAGE_IDLE);
    }
    engine.OnUpdateStop();
  }
}

TEST(FuzzReplay, SimulatedChipTakesAnyHostBytes) {
  TempDir dir;
  SimOptions opt;
  opt.m_nFlashSize = 1u << 16;
  SimImages images;
  CSimLog log;
  log.Silence();
  CFlashStore flash;
  std::string error;
  ASSERT_TRUE(flash.Open(dir.File("flash.bin"), opt.m_nFlashSize, &error)) << error;
  CChipCore core(opt, images, flash, log);
  std::mt19937 rng(99);
  int64_t now = 0;
  core.Start(now);
  for (int round = 0; round < kRounds * 10; ++round) {
    Bytes chunk(1 + rng() % 64);
    for (auto& b : chunk) b = rng() % 4 == 0 ? 0xFF : static_cast<uint8_t>(rng());
    core.Feed(chunk.data(), chunk.size(), now);
    now += rng() % 3000000;
    core.Advance(now);
    if (rng() % 50 == 0) core.Reset(now);
  }
}

}  // namespace
