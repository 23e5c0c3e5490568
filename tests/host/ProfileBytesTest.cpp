// A profile written on any platform is the old file with one line changed:
// CRLF line breaks stay CRLF and nothing after a 0x1A byte is lost.
#include "core/Profile.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kHead = "; hand-written\r\n[Setting]\r\nPort=3\r\n";
const std::string kTail = "Note=end\x1aof file for DOS\r\n[Bat]\r\nTotalNum=0\r\n";

TEST(ProfileBytes, WritingOneKeyChangesOnlyThatLine) {
  TempDir dir;
  const std::string path = dir.Write("cfg.ini", kHead + kTail);
  ASSERT_TRUE(WriteProfileString("Setting", "Port", "7", path));
  EXPECT_EQ(TempDir::Read(path), "; hand-written\r\n[Setting]\r\nPort=7\r\n" + kTail);
  // Again, now that the file exists in its written form.
  ASSERT_TRUE(WriteProfileString("Setting", "Port", "12", path));
  EXPECT_EQ(TempDir::Read(path), "; hand-written\r\n[Setting]\r\nPort=12\r\n" + kTail);
}

TEST(ProfileBytes, KeysAfterAnEndOfFileByteAreStillRead) {
  TempDir dir;
  const std::string path = dir.Write("cfg.ini", kHead + kTail);
  EXPECT_EQ(ReadProfileInt("Bat", "TotalNum", -1, path), 0);
  EXPECT_EQ(ReadProfileString("Setting", "Note", "", 100, path), "end\x1aof file for DOS");
}

TEST(ProfileBytes, NewKeysAndSectionsUseTheFilesLineBreaks) {
  TempDir dir;
  const std::string path = dir.Write("cfg.ini", kHead);
  ASSERT_TRUE(WriteProfileString("Setting", "Baud", "115200", path));
  ASSERT_TRUE(WriteProfileString("PortMap", "COM5", "\\\\.\\COM5", path));
  EXPECT_EQ(TempDir::Read(path), kHead + "Baud=115200\r\n[PortMap]\r\nCOM5=\\\\.\\COM5\r\n");
  const std::string lf = dir.Write("lf.ini", "[Setting]\nPort=3\n");
  ASSERT_TRUE(WriteProfileString("Setting", "Baud", "9600", lf));
  EXPECT_EQ(TempDir::Read(lf), "[Setting]\nPort=3\nBaud=9600\n");
}

}  // namespace
