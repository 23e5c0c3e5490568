// The platform's file helpers keep every byte: a text-mode file on Windows
// would write "\n" as "\r\n" and end a read at the first 0x1A byte.
#include "core/Config.h"
#include "core/platform/HostFiles.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// Line breaks of both kinds, the DOS end-of-file byte, a NUL and bytes above 0x7F.
const std::string kTrapBytes = std::string("one\r\ntwo\nthree\x1a" "after\0nul\r\r\n\xff\x80\x1a", 27);

TEST(HostFiles, ReadGivesEveryByteAsWritten) {
  TempDir dir;
  const std::string path = dir.Write("bytes.bin", kTrapBytes);
  std::string got;
  ASSERT_TRUE(host::ReadRegularFile(path, got));
  EXPECT_EQ(got, kTrapBytes);
  uint64_t size = 0;
  int err = 0;
  ASSERT_TRUE(host::RegularFileSize(path, size, err));
  EXPECT_EQ(size, kTrapBytes.size());
}

TEST(HostFiles, ReplaceOverwritesAnExistingFileByteForByteAndLeavesNothingBeside) {
  TempDir dir;
  const std::string path = dir.Write("cfg.ini", std::string(5000, 'x'));
  // rename() of the Windows C library would refuse here: the target exists.
  ASSERT_TRUE(host::ReplaceFileWith(path, kTrapBytes));
  EXPECT_EQ(TempDir::Read(path), kTrapBytes);
  ASSERT_TRUE(host::ReplaceFileWith(path, "short"));
  EXPECT_EQ(TempDir::Read(path), "short");
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.Path())) ++entries;
  EXPECT_EQ(entries, 1u) << "a temporary file was left in the folder";
}

TEST(HostFiles, ReplaceCreatesAMissingFileAndFailsInAMissingFolder) {
  TempDir dir;
  EXPECT_TRUE(host::ReplaceFileWith(dir.File("new.ini"), "[a]\r\n"));
  EXPECT_EQ(TempDir::Read(dir.File("new.ini")), "[a]\r\n");
  EXPECT_FALSE(host::ReplaceFileWith(dir.File("no/such/folder.ini"), "x"));
}

TEST(HostFiles, MoveOverReplacesAnExistingFileOrFailsWithAReason) {
  TempDir dir;
  const std::string target = dir.Write("dump.bin", "an older dump");
  // rename() of the Windows C library would refuse here: the target exists.
  std::string error;
  ASSERT_TRUE(host::MoveFileOver(dir.Write("dump.bin.part", kTrapBytes), target, error)) << error;
  EXPECT_EQ(TempDir::Read(target), kTrapBytes);
  EXPECT_FALSE(std::filesystem::exists(dir.File("dump.bin.part")));
  ASSERT_TRUE(host::MoveFileOver(dir.Write("b.part", "x"), dir.File("new.bin"), error)) << error;
  EXPECT_EQ(TempDir::Read(dir.File("new.bin")), "x");

  EXPECT_FALSE(host::MoveFileOver(dir.File("missing.part"), target, error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(TempDir::Read(target), kTrapBytes);
  std::filesystem::create_directory(dir.File("folder"));
  error.clear();
  EXPECT_FALSE(host::MoveFileOver(dir.File("folder"), target, error));
  EXPECT_FALSE(error.empty());
}

TEST(HostFiles, MoveOverNeverMovesALinkIntoPlace) {
  TempDir dir;
  const std::string victim = dir.Write("victim.txt", "someone else's");
  const std::string target = dir.Write("dump.bin", "an older dump");
  std::error_code ec;
  std::filesystem::create_symlink(victim, dir.File("dump.bin.part"), ec);
  if (ec) GTEST_SKIP() << "no symbolic links here: " << ec.message();
  std::string error;
  EXPECT_FALSE(host::MoveFileOver(dir.File("dump.bin.part"), target, error));
  EXPECT_FALSE(std::filesystem::is_symlink(target));
  EXPECT_EQ(TempDir::Read(target), "an older dump");
}

TEST(HostFiles, FoldersAndMissingFilesAreRefused) {
  TempDir dir;
  std::string got = "stale";
  EXPECT_FALSE(host::ReadRegularFile(dir.Path(), got));
  EXPECT_FALSE(host::ReadRegularFile(dir.File("missing"), got));
  uint64_t size = 0;
  int err = 0;
  EXPECT_FALSE(host::RegularFileSize(dir.Path(), size, err));
  EXPECT_EQ(err, EISDIR);
  EXPECT_FALSE(host::RegularFileSize(dir.File("missing"), size, err));
  EXPECT_EQ(err, ENOENT);
}

TEST(HostFiles, LookingAtAPathTellsRegularFilesFromTheRestAndFollowsLinks) {
  TempDir dir;
  const std::string file = dir.Write("image.bin", kTrapBytes);
  uint64_t size = 0;
  EXPECT_TRUE(host::IsRegularFile(file));
  ASSERT_TRUE(host::RecordedSize(file, size));
  EXPECT_EQ(size, kTrapBytes.size());
  EXPECT_FALSE(host::IsRegularFile(dir.Path()));
  EXPECT_TRUE(host::RecordedSize(dir.Path(), size)) << "a folder is there to be looked at";
  EXPECT_FALSE(host::IsRegularFile(dir.File("missing")));
  EXPECT_FALSE(host::RecordedSize(dir.File("missing"), size));

  std::error_code ec;
  std::filesystem::create_symlink(file, dir.File("link.bin"), ec);
  if (ec) GTEST_SKIP() << "no symbolic links here: " << ec.message();
  EXPECT_TRUE(host::IsRegularFile(dir.File("link.bin")));
  ASSERT_TRUE(host::RecordedSize(dir.File("link.bin"), size));
  EXPECT_EQ(size, kTrapBytes.size()) << "the link's own size was given";
  std::filesystem::create_symlink(dir.File("gone.bin"), dir.File("dangling.bin"), ec);
  EXPECT_FALSE(host::IsRegularFile(dir.File("dangling.bin")));
  EXPECT_FALSE(host::RecordedSize(dir.File("dangling.bin"), size));
}

TEST(HostFiles, AccessAnswersAsAnOpenWould) {
  TempDir dir;
  const std::string file = dir.Write("port", "x");
  for (const auto what : {host::Access::Read, host::Access::Write, host::Access::ReadWrite}) {
    EXPECT_EQ(host::AccessError(file, what), 0);
    EXPECT_EQ(host::AccessError(dir.File("missing"), what), ENOENT);
    EXPECT_EQ(host::AccessError(dir.File("no/such/port"), what), ENOENT);
  }
  EXPECT_EQ(host::AccessError(dir.Path(), host::Access::Write), 0) << "the folder a dump goes into";

  // A read-only file: reading is allowed, and where an open for writing is
  // refused, writing is refused. (root on POSIX may write it all the same;
  // so may wine run as root, though it still answers by the file's
  // read-only attribute.)
  namespace fs = std::filesystem;
  fs::permissions(file, fs::perms::owner_read, fs::perm_options::replace);
  const bool opensForWriting = std::ofstream(file, std::ios::app).is_open();
  EXPECT_EQ(host::AccessError(file, host::Access::Read), 0);
  const int writeError = host::AccessError(file, host::Access::Write);
  if (!opensForWriting) {
    EXPECT_EQ(writeError, EACCES);
  }
  EXPECT_EQ(host::AccessError(file, host::Access::ReadWrite), writeError);
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
}

TEST(HostFiles, CreateEmptyFileEmptiesAnExistingOne) {
  TempDir dir;
  const std::string path = dir.Write("dump.bin", "old content");
  ASSERT_TRUE(host::CreateEmptyFile(path));
  EXPECT_EQ(TempDir::Read(path), "");
  EXPECT_FALSE(host::CreateEmptyFile(dir.File("no/such/dump.bin")));
}

TEST(HostFiles, ProgramFolderIsTheFolderOfThisTestProgram) {
  const std::filesystem::path exe = host::ExecutablePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_TRUE(exe.is_absolute());
  EXPECT_TRUE(std::filesystem::is_regular_file(exe));
  const std::string folder = ExecutableDirectory();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  // The program is found in that folder by its own name (the folder is where
  // config/ is looked for).
  EXPECT_TRUE(std::filesystem::is_regular_file(folder + exe.filename().string())) << folder;
}

TEST(HostFiles, LocalTimeRoundTripsThroughMktime) {
  const std::time_t t = 1700000000;  // November 2023
  std::tm local{};
  ASSERT_TRUE(host::LocalTime(t, local));
  EXPECT_EQ(local.tm_year, 123);
  EXPECT_EQ(std::mktime(&local), t);
}

}  // namespace
