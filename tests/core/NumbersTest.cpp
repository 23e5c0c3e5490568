// Each number syntax the program reads, and the one trim: where they accept
// the same text and where they part ways.
#include "core/Numbers.h"
#include "core/Text.h"

#include <gtest/gtest.h>

namespace {

TEST(Numbers, DecimalTakesDigitsOnlyUpToThirtyTwoBits) {
  EXPECT_EQ(ParseDecimal32("0"), 0u);
  EXPECT_EQ(ParseDecimal32("115200"), 115200u);
  EXPECT_EQ(ParseDecimal32("0009600"), 9600u);
  EXPECT_EQ(ParseDecimal32("4294967295"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseDecimal32("00000000000000000000042"), 42u);  // no length limit of its own
  for (const char* bad : {"", "4294967296", "99999999999999999999999", "0x10", "+5", "-5", " 5", "5 ", "1e3", "12a"})
    EXPECT_FALSE(ParseDecimal32(bad)) << bad;
}

TEST(Numbers, DecOrHexTakesAPrefixedHexOrADecimalNeverOctal) {
  EXPECT_EQ(ParseDecOrHex32("0"), 0u);
  EXPECT_EQ(ParseDecOrHex32("4096"), 4096u);
  EXPECT_EQ(ParseDecOrHex32("010"), 10u);
  EXPECT_EQ(ParseDecOrHex32("0x10000"), 0x10000u);
  EXPECT_EQ(ParseDecOrHex32("0XfFfFfFfF"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseDecOrHex32("0x000000000001"), 1u);
  for (const char* bad : {"", "0x", "0X", "4294967296", "0x100000000", "-1", "+5", " 7", "7 ", "0x1G", "12x", "1e3",
                          "x10", "0xx1", "010z"})
    EXPECT_FALSE(ParseDecOrHex32(bad)) << bad;
}

TEST(Numbers, CNumberReadsTheWholeLiteralWithinItsLimit) {
  EXPECT_EQ(ParseCNumber("0x10", 0xFF), 16u);
  EXPECT_EQ(ParseCNumber("010", 0xFF), 8u);  // octal
  EXPECT_EQ(ParseCNumber("255", 0xFF), 255u);
  EXPECT_EQ(ParseCNumber(" 7", 0xFF), 7u);   // leading blanks pass
  EXPECT_EQ(ParseCNumber("+7", 0xFF), 7u);
  EXPECT_EQ(ParseCNumber("18446744073709551615", UINT64_MAX), UINT64_MAX);
  EXPECT_FALSE(ParseCNumber("18446744073709551616", UINT64_MAX));
  for (const char* bad : {"", "256", "-1", " -1", "7 ", "0x", "09", "abc", "1.5"}) EXPECT_FALSE(ParseCNumber(bad, 0xFF)) << bad;
}

TEST(Numbers, LeadingCNumberReadsWhatStartsTheTextAndWraps) {
  EXPECT_EQ(ParseLeadingCNumber("0x10"), 16);
  EXPECT_EQ(ParseLeadingCNumber("010"), 8);
  EXPECT_EQ(ParseLeadingCNumber("  -7"), -7);
  EXPECT_EQ(ParseLeadingCNumber("+0X1f"), 31);
  EXPECT_EQ(ParseLeadingCNumber("12abc"), 12);
  EXPECT_EQ(ParseLeadingCNumber("abc"), 0);
  EXPECT_EQ(ParseLeadingCNumber(""), 0);
  EXPECT_EQ(ParseLeadingCNumber("0x1FF"), 0x1FF);  // only the low byte travels, the value stays whole
  EXPECT_EQ(ParseLeadingCNumber("0xFFFFFFFF"), -1);
  EXPECT_EQ(ParseLeadingCNumber("99999999999999999999999"), -1);  // clamps, then wraps to 32 bits
}

TEST(Numbers, LeadingDecOrHexReadsProfileValues) {
  EXPECT_EQ(ParseLeadingDecOrHex("5"), 5);
  EXPECT_EQ(ParseLeadingDecOrHex("010"), 10);  // not octal, unlike a chip-model number
  EXPECT_EQ(ParseLeadingDecOrHex(" \t-12"), -12);
  EXPECT_EQ(ParseLeadingDecOrHex("+0x1F"), 31);
  EXPECT_EQ(ParseLeadingDecOrHex("0x1Fz"), 31);
  EXPECT_EQ(ParseLeadingDecOrHex("0x"), 0);
  EXPECT_EQ(ParseLeadingDecOrHex("7 apples"), 7);
  EXPECT_EQ(ParseLeadingDecOrHex("abc"), 0);
  EXPECT_EQ(ParseLeadingDecOrHex("\n5"), 0);  // a line break is not a blank here
  EXPECT_EQ(ParseLeadingDecOrHex("4294967295"), -1);
  EXPECT_EQ(ParseLeadingDecOrHex("4294967297"), 1);  // wraps digit by digit
  EXPECT_EQ(ParseLeadingDecOrHex("0x123456789"), 0x23456789);
}

TEST(Numbers, WholeCNumberIsOneLiteralWithOnlyBlanksAround) {
  for (const char* good : {"0", "7", " 0x1F ", "\t010", "-3", "+0X10", "4294967297"})
    EXPECT_TRUE(IsWholeCNumber(good)) << good;
  // Each of these reads as 0 (or as its leading digits) when taken as a leading number.
  for (const char* bad : {"", "  ", "abc", "0x", "08", "1x", "0x1G", "- 3", "3 4", "+", "x10"})
    EXPECT_FALSE(IsWholeCNumber(bad)) << bad;
}

TEST(Text, TrimDropsWhiteSpaceOnBothEndsOnly) {
  EXPECT_EQ(Trim(" \t\r\n\v\fa b\t\r\n"), "a b");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim(""), "");
  EXPECT_EQ(Trim("x"), "x");
}

}  // namespace
