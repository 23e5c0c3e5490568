// The update's files (image and loader read by offset, dump written through
// a buffer) hold exactly the bytes that went in, text-mode traps included.
#include "comm/FileAccess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// Every byte value, CR LF pairs, lone LFs and 0x1A bytes, at odd sizes.
std::vector<uint8_t> TrapPattern(size_t n) {
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>((i * 7 + i / 256) & 0xFF);
  for (size_t i = 0; i + 3 < n; i += 97) {
    out[i] = 0x1A;
    out[i + 1] = '\n';
    out[i + 2] = '\r';
    out[i + 3] = '\n';
  }
  return out;
}

TEST(BinaryFileAccess, DumpHoldsExactlyTheBytesWritten) {
  TempDir dir;
  CHostFileAccess files;
  std::string error;
  const auto data = TrapPattern(200001);
  auto sink = files.CreateDump(dir.File("dump.bin"), error);
  ASSERT_NE(sink, nullptr) << error;
  // Small writes through the buffer and one larger than the buffer.
  for (size_t at = 0; at < 1000; at += 10) ASSERT_TRUE(sink->Write(data.data() + at, 10, error));
  ASSERT_TRUE(sink->Write(data.data() + 1000, data.size() - 1000, error));
  ASSERT_TRUE(sink->Close(error)) << error;
  const std::string onDisk = TempDir::Read(dir.File("dump.bin"));
  ASSERT_EQ(onDisk.size(), data.size());
  EXPECT_TRUE(std::equal(data.begin(), data.end(), reinterpret_cast<const uint8_t*>(onDisk.data())));
}

TEST(BinaryFileAccess, FreshDumpNeverWritesThroughWhatWasAtThePath) {
  TempDir dir;
  CHostFileAccess files;
  std::string error;
  const uint8_t bytes[] = {1, 2, 3};
  const auto writeFresh = [&](const std::string& name) {
    auto sink = files.CreateFreshDump(dir.File(name), error);
    return sink && sink->Write(bytes, 3, error) && sink->Close(error);
  };
  // An earlier run's file is replaced, not appended to.
  dir.Write("a.part", "an earlier run's bytes");
  ASSERT_TRUE(writeFresh("a.part")) << error;
  EXPECT_EQ(TempDir::Read(dir.File("a.part")), "\x01\x02\x03");

  // A link, or a second name of another file: that file keeps its bytes.
  const std::string other = dir.Write("other.txt", "not ours");
  std::error_code ec;
  std::filesystem::create_hard_link(other, dir.File("hard.part"), ec);
  if (!ec) {
    ASSERT_TRUE(writeFresh("hard.part")) << error;
    EXPECT_EQ(TempDir::Read(other), "not ours");
    EXPECT_EQ(TempDir::Read(dir.File("hard.part")), "\x01\x02\x03");
  }
  std::filesystem::create_symlink(other, dir.File("soft.part"), ec);
  if (!ec) {
    ASSERT_TRUE(writeFresh("soft.part")) << error;
    EXPECT_EQ(TempDir::Read(other), "not ours");
    EXPECT_FALSE(std::filesystem::is_symlink(dir.File("soft.part")));
  }

  // A folder is not removed.
  std::filesystem::create_directory(dir.File("folder.part"));
  EXPECT_EQ(files.CreateFreshDump(dir.File("folder.part"), error), nullptr);
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("folder.part")));
}

TEST(BinaryFileAccess, ReadsBySizeAndOffsetGoPastEndOfFileBytes) {
  TempDir dir;
  const auto data = TrapPattern(5000);
  const std::string path = dir.WriteBytes("image.bin", data);
  CHostFileAccess files;
  std::string error;
  uint64_t size = 0;
  ASSERT_TRUE(files.FileSize(path, size, error)) << error;
  EXPECT_EQ(size, data.size());
  std::vector<uint8_t> got(1000);
  size_t n = 0;
  ASSERT_TRUE(files.ReadAt(path, 3000, got.data(), got.size(), n, error)) << error;
  ASSERT_EQ(n, got.size());
  EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin() + 3000));
  // A read that runs past the end gives what is there.
  ASSERT_TRUE(files.ReadAt(path, 4500, got.data(), got.size(), n, error));
  EXPECT_EQ(n, 500u);
}

TEST(BinaryFileAccess, FoldersAreRefusedWithAReason) {
  TempDir dir;
  CHostFileAccess files;
  std::string error;
  uint64_t size = 0;
  EXPECT_FALSE(files.FileSize(dir.Path(), size, error));
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_EQ(files.CreateDump(dir.Path(), error), nullptr);
  EXPECT_FALSE(error.empty());
}

}  // namespace
