#include "cli/CliSession.h"

#include <gtest/gtest.h>

namespace {

TEST(CliNumbers, DecimalOrHexadecimalThirtyTwoBits) {
  EXPECT_EQ(ParseCliNumber("0"), 0u);
  EXPECT_EQ(ParseCliNumber("4096"), 4096u);
  EXPECT_EQ(ParseCliNumber("0x10000"), 0x10000u);
  EXPECT_EQ(ParseCliNumber("0XfFfFfFfF"), 0xFFFFFFFFu);
  EXPECT_FALSE(ParseCliNumber("4294967296"));
  EXPECT_FALSE(ParseCliNumber("0x100000000"));
  for (const char* bad : {"", "-1", "+5", "12x", "0x", "1e3", " 7", "0x1G", "010z"}) EXPECT_FALSE(ParseCliNumber(bad)) << bad;
}

TEST(CliNumbers, ListChoiceByTextOrPosition) {
  const std::vector<std::string> list{"SDRAM", "DDR", "7"};
  EXPECT_EQ(ParseListChoice(list, "ddr"), 1);
  EXPECT_EQ(ParseListChoice(list, "0"), 0);
  EXPECT_EQ(ParseListChoice(list, "7"), 2);  // the text wins over the position
  EXPECT_FALSE(ParseListChoice(list, "3"));
  EXPECT_FALSE(ParseListChoice(list, "QDR"));
  EXPECT_FALSE(ParseListChoice({}, "0"));
}

}  // namespace
