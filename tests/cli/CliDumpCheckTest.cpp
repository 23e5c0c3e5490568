// dump --verify without a chip: the reads are handed to the check as the
// update would write them, some with bytes changed on the way.
#include "prod/DumpCheck.h"
#include "prod/BoardPlan.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace {

constexpr int32_t kBase = 0x10000;
constexpr int64_t kBlock = CDumpReadCheck::kBlock;

class DumpCheckTest : public ::testing::Test {
protected:
  void Start(int64_t length) {
    flash.resize(static_cast<size_t>(length));
    for (size_t i = 0; i < flash.size(); ++i) flash[i] = static_cast<uint8_t>(i * 31 + i / 4096);
    files.KeepDumpsInMemory();
    files.AddWorkingFile(part, WorkingFilePlan{DumpRecord{kBase, static_cast<uint32_t>(length), "now"}, -1, 0});
    check = std::make_unique<CDumpReadCheck>(files, part, kReadBackName, kBase, static_cast<int32_t>(length));
  }
  // What the chip sends for an entry, with the byte at each of `spoiled`
  // (offsets in the range) changed by `by`.
  std::vector<uint8_t> Sent(const BatchEntry& e, std::vector<int64_t> spoiled = {}, uint8_t by = 1) const {
    const auto from = flash.begin() + (e.base - kBase);
    std::vector<uint8_t> out(from, from + e.length);
    for (int64_t at : spoiled)
      if (at >= e.base - kBase && at < e.base - kBase + e.length) out[static_cast<size_t>(at - (e.base - kBase))] ^= by;
    return out;
  }
  // Runs entry `index` as the update does: asks for it (twice, as after a
  // refused control info), then writes what the chip sent into its file.
  BatchEntry Read(int32_t index, std::vector<int64_t> spoiled = {}, uint8_t by = 1) {
    if (index > 0) {
      EXPECT_TRUE(check->HasEntry(index));
    }
    check->Entry(index);
    const BatchEntry e = check->Entry(index);
    std::string error;
    auto sink = files.CreateDump(e.file, error);
    const auto bytes = Sent(e, std::move(spoiled), by);
    EXPECT_TRUE(sink && sink->Write(bytes.data(), bytes.size(), error) && sink->Close(error)) << error;
    return e;
  }
  std::vector<uint8_t> Part() const { return TempDir::ReadBytes(part); }

  TempDir dir;
  CPosixFileAccess system;
  CBoardFileAccess files{system};
  const std::string part = dir.File("d.bin.part");
  std::vector<uint8_t> flash;
  std::unique_ptr<CDumpReadCheck> check;
};

TEST_F(DumpCheckTest, AgreeingReadsAskForNothingMore) {
  Start(3 * kBlock + 100);
  Read(0);
  Read(1);
  EXPECT_FALSE(check->HasEntry(2));
  std::string error;
  const DumpCheckReport report = check->Finish(error);
  EXPECT_TRUE(report.settled) << error;
  EXPECT_EQ(DumpCheckLine(report, CDumpReadCheck::kMaxReads), "verify ok.");
  EXPECT_EQ(Part(), flash);
}

TEST_F(DumpCheckTest, TheBlockTwoReadsAgreeOnIsWhatTheFileHolds) {
  Start(3 * kBlock + 100);
  // The first read (the file) is wrong in block 1, the second in the short last block.
  Read(0, {kBlock + 5});
  Read(1, {3 * kBlock + 99});
  const BatchEntry third = Read(2);
  EXPECT_EQ(third.base, kBase + kBlock);
  EXPECT_EQ(third.length, 2 * kBlock + 100);  // blocks 1 to 3 in one request
  EXPECT_EQ(third.file, kReadBackName);
  EXPECT_FALSE(check->HasEntry(3));
  std::string error;
  const DumpCheckReport report = check->Finish(error);
  ASSERT_TRUE(report.settled) << error;
  EXPECT_EQ(report.blocksReadAgain, 2u);
  EXPECT_EQ(report.blocksCorrected, 1u);
  EXPECT_EQ(DumpCheckLine(report, CDumpReadCheck::kMaxReads), "verify ok: 2 blocks read again, 1 corrected.");
  EXPECT_EQ(Part(), flash);
}

TEST_F(DumpCheckTest, ReReadsGoFromTheFirstUnsettledBlockOverItsNeighbours) {
  Start(20 * kBlock);
  Read(0);
  Read(1, {1 * kBlock, 3 * kBlock, 18 * kBlock, 19 * kBlock});
  // Block 3 comes wrong again, and differently: it stays unsettled.
  const BatchEntry third = Read(2, {3 * kBlock}, 2);
  EXPECT_EQ(third.base, kBase + kBlock);
  EXPECT_EQ(third.length, 3 * kBlock);  // 18 and 19 are too far off for one request
  const BatchEntry fourth = Read(3);
  EXPECT_EQ(fourth.base, kBase + 3 * kBlock);
  EXPECT_EQ(fourth.length, 16 * kBlock);  // 3 to 18
  const BatchEntry fifth = Read(4);
  EXPECT_EQ(fifth.base, kBase + 19 * kBlock);
  EXPECT_EQ(fifth.length, kBlock);
  EXPECT_FALSE(check->HasEntry(5));
  std::string error;
  EXPECT_TRUE(check->Finish(error).settled) << error;
  EXPECT_EQ(Part(), flash);
}

TEST_F(DumpCheckTest, ABlockThatNeverReadsTheSameTwiceFailsAtTheBound) {
  Start(2 * kBlock);
  Read(0, {kBlock + 7}, 1);
  int32_t index = 1;
  for (uint8_t by = 2; index < CDumpReadCheck::kMaxReads; ++index, by = static_cast<uint8_t>(by * 2))
    Read(index, {kBlock + 7}, by);
  EXPECT_LE(index, check->TotalNum());
  EXPECT_FALSE(check->HasEntry(index));
  const auto before = Part();
  std::string error;
  const DumpCheckReport report = check->Finish(error);
  EXPECT_FALSE(report.settled);
  EXPECT_EQ(report.unsettledOffset, static_cast<uint64_t>(kBlock));
  EXPECT_EQ(DumpCheckLine(report, CDumpReadCheck::kMaxReads),
            "verify failed: the block at offset 0x1000 read differently 6 times.");
  EXPECT_EQ(Part(), before);
}

TEST(DumpRecord, ReadsWhatItWritesAndNothingElse) {
  const DumpRecord record{0xFFFFF000u, 65536, "2026-01-02T03:04:05.006Z"};
  const auto back = ParseDumpRecord(DumpRecordText(record));
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->base, record.base);
  EXPECT_EQ(back->length, record.length);
  EXPECT_EQ(back->begun, record.begun);
  for (const char* bad : {"", "{}", R"({"base": 1, "length": 2})", R"({"base": 4294967296, "length": 2, "begun": ""})",
                          R"({"base": -1, "length": 2, "begun": ""})", R"({"base": 1, "length": 2, "begun": ""} x)"})
    EXPECT_FALSE(ParseDumpRecord(bad).has_value()) << bad;
}

// A resumed dump: the bytes from `continueAt` to `held` are compared before
// the file is opened; the file is then cut to `held` and the rest appended.
TEST(ContinuedDump, GoesOnOnlyAfterTheHeldBytesAreConfirmed) {
  TempDir dir;
  CPosixFileAccess system;
  CBoardFileAccess files(system);
  const std::string part = dir.Write("d.part", "AAAABBBBCC");  // two whole blocks of 4, and a piece
  files.AddWorkingFile(part, WorkingFilePlan{DumpRecord{0, 12, "then"}, 4, 8});
  std::string error;
  auto sink = files.CreateDump(part, error);
  ASSERT_NE(sink, nullptr) << error;
  const uint8_t wrong[] = {'B', 'B', 'x'};
  EXPECT_FALSE(sink->Write(wrong, 3, error));
  EXPECT_FALSE(sink->Close(error));
  EXPECT_EQ(files.WorkingFile(part).differsAt, 6);
  EXPECT_EQ(TempDir::Read(part), "AAAABBBBCC");

  sink = files.CreateDump(part, error);
  const uint8_t right[] = {'B', 'B', 'B', 'B', 'D', 'D', 'D', 'D'};
  ASSERT_TRUE(sink->Write(right, 2, error) && sink->Write(right + 2, 6, error)) << error;
  ASSERT_TRUE(sink->Close(error)) << error;
  EXPECT_EQ(TempDir::Read(part), "AAAABBBBDDDD");
  const WorkingFileState state = files.WorkingFile(part);
  EXPECT_TRUE(state.closed);
  EXPECT_EQ(state.bytes, 8u);
  EXPECT_EQ(state.differsAt, -1);
}

}  // namespace
