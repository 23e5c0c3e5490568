// The POSIX file access: sizes and reads by name, and the buffered dump file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "comm/FileAccess.h"
#include "tests/support/TempDir.h"
#include "tests/update/EngineFixture.h"

namespace {

class FileAccessTest : public ::testing::Test {
protected:
  void Put(const std::string& name, const Bytes& data) { temp.WriteBytes(name, data); }
  Bytes Get(const std::string& name) { return TempDir::ReadBytes(temp.File(name)); }

  TempDir temp;
  const std::string dir = temp.Path();
  CPosixFileAccess files;
  std::string error;
};

TEST_F(FileAccessTest, FifosAndFoldersAreRefusedWithoutWaiting) {
  ASSERT_EQ(::mkfifo((dir + "/pipe").c_str(), 0644), 0);
  uint64_t size = 0;
  EXPECT_FALSE(files.FileSize(dir + "/pipe", size, error));
  EXPECT_EQ(error, "not a regular file");
  EXPECT_EQ(files.CreateDump(dir + "/pipe", error), nullptr);
  EXPECT_FALSE(files.FileSize(dir, size, error));
  EXPECT_EQ(files.CreateDump(dir, error), nullptr);
}

TEST_F(FileAccessTest, SizesAndReadsByName) {
  const Bytes data = Pattern(10000);
  Put("image.bin", data);
  uint64_t size = 0;
  ASSERT_TRUE(files.FileSize(dir + "/image.bin", size, error));
  EXPECT_EQ(size, 10000u);

  Bytes buffer(4096);
  size_t got = 0;
  ASSERT_TRUE(files.ReadAt(dir + "/image.bin", 8192, buffer.data(), buffer.size(), got, error));
  EXPECT_EQ(got, 1808u);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 1808, data.begin() + 8192));
  ASSERT_TRUE(files.ReadAt(dir + "/image.bin", 20000, buffer.data(), buffer.size(), got, error));
  EXPECT_EQ(got, 0u);

  EXPECT_FALSE(files.FileSize(dir + "/absent.bin", size, error));
  EXPECT_EQ(error, "No such file or directory");
  EXPECT_FALSE(files.ReadAt(dir + "/absent.bin", 0, buffer.data(), 1, got, error));
  EXPECT_FALSE(files.FileSize(dir, size, error));
  EXPECT_EQ(error, "not a regular file");
}

TEST_F(FileAccessTest, DumpKeepsEveryByteInOrderThroughTheBuffer) {
  Put("dump.bin", Pattern(500000));  // older, longer contents are emptied
  auto sink = files.CreateDump(dir + "/dump.bin", error);
  ASSERT_NE(sink, nullptr);
  EXPECT_TRUE(Get("dump.bin").empty());

  Bytes expected;
  const Bytes big = Pattern(200000, 9);
  for (int round = 0; round < 3; ++round) {
    for (uint8_t b : Pattern(5000, static_cast<uint8_t>(round))) {
      ASSERT_TRUE(sink->Write(&b, 1, error));
      expected.push_back(b);
    }
    ASSERT_TRUE(sink->Write(big.data(), big.size(), error));  // larger than the buffer
    expected.insert(expected.end(), big.begin(), big.end());
  }
  ASSERT_TRUE(sink->Write(big.data(), 10, error));
  expected.insert(expected.end(), big.begin(), big.begin() + 10);
  ASSERT_TRUE(sink->Flush(error));
  EXPECT_EQ(Get("dump.bin"), expected);
  ASSERT_TRUE(sink->Close(error));
  EXPECT_TRUE(sink->Close(error));
  EXPECT_FALSE(sink->Write(big.data(), 1, error));
  EXPECT_EQ(Get("dump.bin"), expected);
}

TEST_F(FileAccessTest, DumpThatCannotBeCreatedSaysWhy) {
  EXPECT_EQ(files.CreateDump(dir + "/no/such/folder/dump.bin", error), nullptr);
  EXPECT_EQ(error, "No such file or directory");
}

TEST_F(FileAccessTest, FullDiskFailsAndStaysFailed) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is not available";
  auto sink = files.CreateDump("/dev/full", error);
  ASSERT_NE(sink, nullptr);
  const Bytes data = Pattern(100);
  EXPECT_TRUE(sink->Write(data.data(), data.size(), error));  // still in the buffer
  EXPECT_FALSE(sink->Flush(error));
  EXPECT_EQ(error, "No space left on device");
  // Nothing may land after a gap.
  error.clear();
  EXPECT_FALSE(sink->Write(data.data(), data.size(), error));
  EXPECT_EQ(error, "No space left on device");
  EXPECT_FALSE(sink->Close(error));
}

}  // namespace
