// tqupdate against a chip that refuses, resets, chatters or sits on a slow
// line: a run ends in success only when the act was really done.
#include "tests/cli/CliFixture.h"

#include <optional>


namespace {

using namespace clitest;

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Finds `pattern` in `text`, where "{N}" in the pattern stands for a decimal
// number; returns that number as written ("" when the pattern has none), or
// nothing when the pattern is not there.
std::optional<std::string> Find(const std::string& text, const std::string& pattern) {
  const size_t hole = pattern.find("{N}");
  if (hole == std::string::npos) return Has(text, pattern) ? std::optional<std::string>("") : std::nullopt;
  const std::string before = pattern.substr(0, hole), after = pattern.substr(hole + 3);
  for (size_t at = text.find(before); at != std::string::npos; at = text.find(before, at + 1)) {
    size_t end = at + before.size();
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    const std::string number = text.substr(at + before.size(), end - at - before.size());
    if (!number.empty() && text.compare(end, after.size(), after) == 0) return number;
  }
  return std::nullopt;
}

TEST_F(CliTest, RefusedDumpCommandIsSentAgain) {
  // The chip answers the dump command with a lone 'Y' and waits for it again.
  const auto device = StartSim({"--nak", "dump:1"});
  ASSERT_EQ(Run({"-p", device, "dump", "0", "8192", dir.File("back.bin")}), 0) << Report();
  EXPECT_EQ(Lines(host->Out()),
            Concat(kBootLines, {"Send dump Lenth = 0x2000", "check error 1 time", "dump ok.", "compelete."}));
  EXPECT_TRUE(TempDir::Read(dir.File("back.bin")) == Flash(0, 8192));
}

// A chip reset part way through an act sends its boot loader's requests:
// they must not pass for the end of the act, nor for dump data.
struct ResetCase {
  const char* name;
  std::vector<std::string> sim;
  std::vector<std::string> command;  // "IMAGE" and "FILE" stand for paths in the test's folder
  const char* okLine;                // the success line of the act, which must not come
  const char* line;                  // what the log says instead; {N}: a number
};

void PrintTo(const ResetCase& c, std::ostream* os) { *os << c.name; }

class ChipResetTest : public CliTest, public ::testing::WithParamInterface<ResetCase> {};

TEST_P(ChipResetTest, EndsAsFailedAndSaysHowFarTheActGot) {
  const ResetCase& c = GetParam();
  const auto device = StartSim(c.sim);
  std::vector<std::string> args{"-p", device};
  for (const std::string& a : c.command)
    args.push_back(a == "IMAGE" ? dir.WriteBytes("image.bin", Image(20000, 4)) : a == "FILE" ? dir.File("d.bin") : a);
  ASSERT_EQ(Run(args, 90s), 1) << Report();
  const std::string out = host->Out();
  EXPECT_FALSE(Has(out, c.okLine) || Has(out, "compelete.")) << Report();
  const auto stoppedAt = Find(out, c.line);
  ASSERT_TRUE(stoppedAt.has_value()) << Report();
  if (c.command[0] != "dump" || stoppedAt->empty()) return;
  // What came before the chip stopped is kept beside the file, and the log says where.
  const auto held = fs::file_size(dir.File("d.bin.part"));
  EXPECT_EQ(std::to_string(held), *stoppedAt);
  EXPECT_TRUE(Has(out, "holds " + *stoppedAt + " of 65536 bytes")) << Report();
  EXPECT_FALSE(fs::exists(dir.File("d.bin")));
}

INSTANTIATE_TEST_SUITE_P(
    Acts, ChipResetTest,
    ::testing::Values(
        ResetCase{"Erase", {"--silent", "erase:1", "--hang-idle", "2000"}, {"erase", "0", "65536"}, "erase ok.",
                  "erase ended after 0 of 16 blocks."},
        ResetCase{"Program", {"--silent", "program:1", "--hang-idle", "2000"}, {"program", "0", "IMAGE"}, "programe ok.",
                  "program ended after 0 of 5 blocks."},
        ResetCase{"DumpNeverStarted", {"--silent", "dump:1"}, {"dump", "0", "65536", "FILE"}, "dump ok.",
                  "dump data stopped at byte 0 of 65536."},
        // A byte the chip drops leaves a block short; the chip waits for an
        // acknowledge that never comes and gives up.
        ResetCase{"DumpLostAByte", {"--drop-tx", "0.001", "--seed", "2"}, {"dump", "0", "65536", "FILE"}, "dump ok.",
                  "dump data stopped at byte {N} of 65536."}),
    [](const ::testing::TestParamInfo<ResetCase>& info) { return std::string(info.param.name); });

TEST_F(CliTest, TimeoutIsTimeWithoutProgressNotTimeWithoutBytes) {
  // Hung after the boot image, the chip prints a prompt every 100 ms.
  const auto device = StartSim({"--silent", "boot", "--chatter", "100"});
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Run({"-p", device, "--timeout", "2", "erase", "0", "4096"}, 30s), 4) << Report();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
}

TEST_F(CliTest, ProgramReadsBackUnlessToldNotTo) {
  const auto device = StartSim();
  const auto image = Image(5000, 5);
  const auto imagePath = dir.WriteBytes("image.bin", image);
  ASSERT_EQ(Run({"-p", device, "program", "0x20000", imagePath}), 0) << Report();
  auto lines = Lines(host->Out());
  EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()),
            (std::vector<std::string>{"programe ok.", "dump ok.", "compelete.", "verify ok."}));

  ASSERT_EQ(Run({"-p", device, "program", "0x20000", imagePath, "--no-verify"}), 0) << Report();
  lines = Lines(host->Out());
  EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
            (std::vector<std::string>{"programe ok.", "compelete.", "not verified: --no-verify skipped the read-back."}));
  EXPECT_TRUE(Flash(0x20000, 5000) == Text(image));
}

TEST_F(CliTest, SlowLineNeverEndsInAFalseSuccess) {
  // The chip's line runs at 14400 baud while the host sets 115200: a 4 KiB
  // chunk takes 2.9 s to arrive, longer than the acknowledge timer. A
  // pseudo-terminal takes the chunk at once, so the host cannot see it still
  // on its way and may send it twice; the read-back then tells.
  const auto device = StartSim({"--baud", "14400"});
  const auto image = Image(8192, 6);
  const int status = Run({"-p", device, "program", "0x10000", dir.WriteBytes("image.bin", image)}, 120s);
  const bool flashRight = Flash(0x10000, image.size()) == Text(image);
  if (status == 0) {
    EXPECT_TRUE(flashRight) << Report();
  } else {
    EXPECT_EQ(status, 1) << Report();
    EXPECT_TRUE(Has(host->Out(), "verify failed")) << Report();
  }
}

TEST_F(CliTest, EmptyBootOrLoaderImageIsRefusedByName) {
  for (const char* name : {"boot.bin", "flash.bin"}) {
    fs::copy_file(kBin + "/config/boot.bin", Config() + "/boot.bin", fs::copy_options::overwrite_existing);
    fs::copy_file(kBin + "/config/flash.bin", Config() + "/flash.bin", fs::copy_options::overwrite_existing);
    dir.Write(std::string("config/") + name, "");
    const auto device = StartSim();
    EXPECT_EQ(Run({"-p", device, "erase", "0", "4096"}), 1) << Report();
    EXPECT_TRUE(Has(host->Out(), Config() + "/" + name + " is empty.")) << Report();
  }
}

}  // namespace
