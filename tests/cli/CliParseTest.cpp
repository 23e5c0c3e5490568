#include "cli/CliSession.h"

#include <gtest/gtest.h>

namespace {

// The syntax itself is ParseDecOrHex32's (tests/core/NumbersTest.cpp): a
// leading 0 stays decimal, "0x" needs digits, nothing past 32 bits.
TEST(CliNumbers, DecimalOrHexadecimalThirtyTwoBits) {
  EXPECT_EQ(ParseCliNumber("4096"), 4096u);
  EXPECT_EQ(ParseCliNumber("010"), 10u);
  EXPECT_EQ(ParseCliNumber("0XfFfFfFfF"), 0xFFFFFFFFu);
  for (const char* bad : {"", "0x", "0x100000000", " 7"}) EXPECT_FALSE(ParseCliNumber(bad)) << bad;
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
