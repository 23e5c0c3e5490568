#include "cli/CliArgs.h"
#include "cli/CliSession.h"

#include <sstream>

#include <gtest/gtest.h>

namespace {

// The syntax itself is ParseDecOrHex32's (tests/core/NumbersTest.cpp): a
// leading 0 stays decimal, "0x" needs digits, nothing past 32 bits.
TEST(CliNumbers, DecimalOrHexadecimalThirtyTwoBits) {
  EXPECT_EQ(ParseNumberOperand("4096"), 4096u);
  EXPECT_EQ(ParseNumberOperand("010"), 10u);
  EXPECT_EQ(ParseNumberOperand("0XfFfFfFfF"), 0xFFFFFFFFu);
  for (const char* bad : {"", "0x", "0x100000000", " 7"}) EXPECT_FALSE(ParseNumberOperand(bad)) << bad;
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

// An empty value (an unset variable in a script) would read as "not given"
// and fall back to the remembered port, the default folder, no report.
TEST(CliArgs, EmptyValuesAndEmptyPortEntriesAreRefused) {
  const auto parse = [](std::vector<const char*> args, std::string& said) {
    args.insert(args.begin(), "tqupdate");
    CliOptions o;
    std::ostringstream out, err;
    const auto status = ParseCliArguments(static_cast<int>(args.size()), args.data(), o, out, err);
    said = err.str();
    return status;
  };
  std::string said;
  EXPECT_EQ(parse({"-p", "", "erase", "0", "1"}, said), 2);
  EXPECT_NE(said.find("-p: an empty port name"), std::string::npos) << said;
  for (const char* list : {"a,,b", "a,", ",a"}) {
    EXPECT_EQ(parse({"-p", "/dev/x", "-p", list, "erase", "0", "1"}, said), 2) << list;
    EXPECT_NE(said.find("an empty port in \"" + std::string(list) + "\""), std::string::npos) << said;
  }
  for (const char* option : {"--report", "--log", "-c", "--chip", "--flash-model", "-b"}) {
    EXPECT_EQ(parse({option, "", "erase", "0", "1"}, said), 2) << option;
    EXPECT_NE(said.find("an empty value"), std::string::npos) << option << ": " << said;
  }
  // Comma lists and repeated -p come out as one port each, in order.
  CliOptions o;
  std::ostringstream out, err;
  const char* args[] = {"tqupdate", "-p", "/dev/a,/dev/b", "-p", "3", "erase", "0", "1"};
  ASSERT_EQ(ParseCliArguments(8, args, o, out, err), std::nullopt) << err.str();
  EXPECT_EQ(o.ports, (std::vector<std::string>{"/dev/a", "/dev/b", "3"}));
}

}  // namespace
