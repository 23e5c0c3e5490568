#include "core/Profile.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(Profile, ReadsValuesIgnoringCaseOfSectionAndKey) {
  TempDir dir;
  auto ini = dir.Write("cfg.ini",
                      "; comment\n[PFLASH]\nModelA = 5\n\n[Other]\nname= \"quoted text\" \nneg=-12\nhex=0x1F\nbad=abc\n");
  EXPECT_EQ(ReadProfileInt("PFlash", "modela", 0, ini), 5);
  EXPECT_EQ(ReadProfileInt("pflash", "MODELA", 0, ini), 5);
  EXPECT_EQ(ReadProfileString("OTHER", "Name", "d", 100, ini), "quoted text");
  EXPECT_EQ(ReadProfileString("Other", "name", "d", 7, ini), "quoted");  // cut to capacity - 1
  EXPECT_EQ(ReadProfileInt("Other", "neg", 0, ini), -12);
  EXPECT_EQ(ReadProfileInt("Other", "hex", 0, ini), 31);
  EXPECT_EQ(ReadProfileInt("Other", "bad", 7, ini), 0);
  EXPECT_EQ(ReadProfileInt("Other", "missing", 7, ini), 7);
  EXPECT_EQ(ReadProfileInt("Nope", "ModelA", 9, ini), 9);
  EXPECT_EQ(ReadProfileString("Other", "missing", "dflt", 100, ini), "dflt");
}

TEST(Profile, MissingFolderOrUnreadableFileGivesDefaults) {
  TempDir dir;
  EXPECT_EQ(ReadProfileInt("S", "k", 3, dir.File("none.ini")), 3);
  EXPECT_TRUE(ReadProfileSection("S", dir.File("none.ini")).empty());
  // A cfg.ini that is a folder.
  ::mkdir(dir.File("cfg.ini").c_str(), 0755);
  EXPECT_EQ(ReadProfileInt("S", "k", 3, dir.File("cfg.ini")), 3);
  EXPECT_TRUE(ReadProfileSection("S", dir.File("cfg.ini")).empty());
  EXPECT_FALSE(WriteProfileString("S", "k", "1", dir.File("cfg.ini")));
  // A FIFO in place of cfg.ini: defaults at once, no waiting for a writer.
  ASSERT_EQ(::mkfifo(dir.File("fifo.ini").c_str(), 0644), 0);
  EXPECT_EQ(ReadProfileInt("S", "k", 3, dir.File("fifo.ini")), 3);
  // Writing into a folder that does not exist fails without creating anything.
  EXPECT_FALSE(WriteProfileString("S", "k", "1", dir.File("no/such/cfg.ini")));
}

TEST(Profile, UnreadableFileGivesDefaults) {
  TempDir dir;
  auto ini = dir.Write("cfg.ini", "[S]\nk=5\n");
  ::chmod(ini.c_str(), 0);
  ::chmod(dir.Path().c_str(), 0755);
  // Root reads any file: check as an ordinary user in a child process.
  const int status = RunInChildProcess([&] {
    if (::geteuid() == 0 && ::setuid(65534) != 0) return 2;
    return ReadProfileInt("S", "k", 3, ini) == 3 && ReadProfileSection("S", ini).empty() ? 0 : 1;
  });
  EXPECT_EQ(status, 0);
}

TEST(Profile, SectionLinesKeepFileOrderAndRespectTheBudget) {
  TempDir dir;
  std::string body = "[COM]\nCOM1\n  COM3  \n; hidden\nkey=value\n\n[Next]\nx\n";
  auto ini = dir.Write("cfg.ini", body);
  EXPECT_EQ(ReadProfileSection("com", ini), (std::vector<std::string>{"COM1", "COM3", "key=value"}));

  // 300 lines of 10 characters (+1 terminator each) = 3300 bytes: only the
  // lines that fit into 3000 bytes survive, in order.
  std::string big = "[Big]\n";
  for (int i = 0; i < 300; ++i) {
    char line[16];
    std::snprintf(line, sizeof line, "L%09d\n", i);
    big += line;
  }
  auto ini2 = dir.Write("big.ini", big);
  auto lines = ReadProfileSection("Big", ini2);
  ASSERT_EQ(lines.size(), 272u);  // 272 * 11 = 2992 <= 3000 < 273 * 11
  EXPECT_EQ(lines.front(), "L000000000");
  EXPECT_EQ(lines.back(), "L000000271");
}

TEST(Profile, WriteChangesOnlyItsKeyLine) {
  TempDir dir;
  const std::string original =
      "; hand-written\r\n[Setting]\r\nPort=0\r\n  ; keep me\r\nBaudRate = 2\r\n\r\nloose line\r\n[COM]\r\nCOM1\r\n";
  auto ini = dir.Write("cfg.ini", original);
  ASSERT_TRUE(WriteProfileString("setting", "baudrate", "3", ini));
  std::string after = TempDir::Read(ini);
  EXPECT_EQ(after, "; hand-written\r\n[Setting]\r\nPort=0\r\n  ; keep me\r\nbaudrate=3\r\n\r\nloose line\r\n[COM]\r\nCOM1\r\n");
  EXPECT_EQ(ReadProfileInt("Setting", "BaudRate", 0, ini), 3);

  // A new key goes after the section's last non-blank line; a new section at the end.
  ASSERT_TRUE(WriteProfileString("Setting", "Xtal", "1", ini));
  ASSERT_TRUE(WriteProfileString("Fresh", "k", "v", ini));
  after = TempDir::Read(ini);
  EXPECT_NE(after.find("loose line\r\nXtal=1\r\n[COM]"), std::string::npos) << after;
  EXPECT_NE(after.find("COM1\r\n[Fresh]\r\nk=v\r\n"), std::string::npos) << after;
  EXPECT_EQ(ReadProfileString("fresh", "K", "", 10, ini), "v");
}

TEST(Profile, WriteCreatesFileAndLeavesNoTemporaryBehind) {
  TempDir dir;
  auto ini = dir.File("cfg.ini");
  ASSERT_TRUE(WriteProfileString("Setting", "Port", "2", ini));
  EXPECT_EQ(TempDir::Read(ini), "[Setting]\nPort=2\n");
  size_t files = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.Path())) ++files;
  EXPECT_EQ(files, 1u);
}

TEST(Profile, WriteThroughASymbolicLinkKeepsTheLinkAndTheMode) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("shared"));
  auto real = dir.Write("shared/cfg.ini", "[Setting]\nPort=1\n");
  ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
  auto link = dir.File("cfg.ini");
  std::filesystem::create_symlink("shared/cfg.ini", link);

  ASSERT_TRUE(WriteProfileString("Setting", "Port", "4", link));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(TempDir::Read(real), "[Setting]\nPort=4\n");
  struct stat st {};
  ASSERT_EQ(::stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(ReadProfileInt("Setting", "Port", 0, link), 4);
}

TEST(Profile, HostileContentNeverCrashes) {
  TempDir dir;
  std::string junk = "no equals here\n=emptykey\n[\n[]\n[Sec\nk=1\n";
  junk += std::string(70000, 'A') + "\n";                 // a line over 64 KiB
  junk += std::string("x\0y=1\n", 6);                     // NUL byte
  junk += "\xff\xfe\xc3(=\x80\n[Setting]\nPort=\xff\n";  // not UTF-8
  auto ini = dir.Write("cfg.ini", junk);
  EXPECT_EQ(ReadProfileInt("Setting", "Port", 4, ini), 0);
  EXPECT_EQ(ReadProfileString("", "", "d", 10, ini), "d");
  EXPECT_EQ(ReadProfileInt("Sec", "k", 0, ini), 1);  // an unclosed header still names its section
  auto lines = ReadProfileSection("Sec", ini);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "k=1");
  EXPECT_TRUE(WriteProfileString("Setting", "Port", "1", ini));
  EXPECT_EQ(ReadProfileInt("Setting", "Port", 4, ini), 1);
  EXPECT_EQ(ProfileKeyPart("abc"), "abc");
  EXPECT_EQ(ProfileKeyPart("abc = 1=2"), "abc");
  EXPECT_EQ(ProfileKeyPart("=x"), "");
}

}  // namespace
