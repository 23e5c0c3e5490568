// --chatter: a prompt every so often from a chip in its boot ROM or hung,
// and none while it works.
#include <gtest/gtest.h>

#include <string>

#include "sim/ChipCore.h"
#include "tests/support/TempDir.h"

namespace {

constexpr int64_t kMs = 1000;

std::string Out(CChipCore& core) {
  const auto bytes = core.TakeBytes();
  return std::string(bytes.begin(), bytes.end());
}

TEST(ChipChatterTest, PromptsWhileWaitingNoneOnceTheDownloadRuns) {
  TempDir dir;
  SimOptions opt;
  opt.m_nFlashSize = 1u << 16;
  opt.m_nChatterMs = 100;
  SimImages images;
  CSimLog log;
  log.Silence();
  CFlashStore flash;
  std::string error;
  ASSERT_TRUE(flash.Open(dir.File("flash.bin"), opt.m_nFlashSize, &error)) << error;
  CChipCore core(opt, images, flash, log);
  core.Start(0);
  EXPECT_EQ(Out(core), "X");
  EXPECT_EQ(core.NextDeadline(), 100 * kMs);
  core.Advance(100 * kMs);
  EXPECT_EQ(Out(core), "boot> ");
  core.SetLineBacklog(6);  // not read yet: no second prompt on top
  core.Advance(200 * kMs);
  EXPECT_EQ(Out(core), "");
  core.SetLineBacklog(0);
  core.Advance(300 * kMs);
  EXPECT_EQ(Out(core), "boot> ");

  const uint8_t reply = 0x18;
  core.Feed(&reply, 1, 310 * kMs);  // taking the boot block now
  core.Advance(900 * kMs);
  EXPECT_EQ(Out(core), "");
}

}  // namespace
