// Platform calls live in platform files: a POSIX or Win32 system header
// included anywhere in the product's source folders outside a folder named
// `platform` fails here. bench/ and tests/ are exempt: they drive the
// programs through fork, pseudo-terminals and signals as a user would.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

const char* const kProductFolders[] = {"core", "update", "comm", "app", "prod", "cli", "sim"};

// Headers of the operating system rather than of C++, compared in lower case
// (Windows file names are not case-sensitive).
const std::set<std::string> kSystemHeaders = {
    // POSIX and Linux
    "unistd.h", "fcntl.h", "termios.h", "poll.h", "signal.h", "pthread.h", "dirent.h", "pty.h", "grp.h", "pwd.h",
    "dlfcn.h", "sched.h", "semaphore.h", "spawn.h", "syslog.h", "libgen.h", "glob.h", "fnmatch.h", "utime.h",
    "utmp.h", "strings.h",
    // Win32 and the Microsoft C runtime's own
    "windows.h", "winbase.h", "winioctl.h", "winreg.h", "winsock2.h", "ws2tcpip.h", "io.h", "share.h", "bcrypt.h",
    "direct.h", "process.h", "conio.h", "tchar.h", "setupapi.h", "cfgmgr32.h", "devguid.h", "shlobj.h", "shellapi.h",
    "ntddser.h", "winternl.h", "ntstatus.h", "fileapi.h", "handleapi.h", "synchapi.h", "processthreadsapi.h"};
const char* const kSystemHeaderFolders[] = {"sys/", "linux/", "asm/", "netinet/", "arpa/", "net/", "mach/"};

bool IsSystemHeader(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  if (kSystemHeaders.count(name) > 0) return true;
  return std::any_of(std::begin(kSystemHeaderFolders), std::end(kSystemHeaderFolders),
                     [&](const char* folder) { return name.rfind(folder, 0) == 0; });
}

// The header a line includes, if it is an include line: blanks, '#',
// blanks, "include", blanks, then <name> or "name".
std::string IncludedName(const std::string& line) {
  size_t at = line.find_first_not_of(" \t");
  if (at == std::string::npos || line[at] != '#') return {};
  at = line.find_first_not_of(" \t", at + 1);
  if (at == std::string::npos || line.compare(at, 7, "include") != 0) return {};
  at = line.find_first_not_of(" \t", at + 7);
  if (at == std::string::npos || (line[at] != '<' && line[at] != '"')) return {};
  const size_t end = line.find_first_of(">\"", at + 1);
  return end == std::string::npos || end == at + 1 ? std::string() : line.substr(at + 1, end - at - 1);
}

// The system headers a source text includes, one "line N: <name>" each.
std::vector<std::string> SystemIncludes(const std::string& text) {
  std::vector<std::string> found;
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    const std::string name = IncludedName(line);
    if (!name.empty() && IsSystemHeader(name)) found.push_back("line " + std::to_string(number) + ": <" + name + ">");
  }
  return found;
}

// Relative to the source root, with forward slashes.
bool InPlatformFolder(const std::string& relative) {
  const fs::path folder = fs::path(relative).parent_path();
  return std::any_of(folder.begin(), folder.end(), [](const fs::path& part) { return part == "platform"; });
}

bool IsSource(const fs::path& file) {
  static const std::set<std::string> kExtensions = {".cpp", ".cc", ".cxx", ".h", ".hpp", ".hh", ".inl"};
  return kExtensions.count(file.extension().string()) > 0;
}

struct Finding {
  std::string file;  // relative to the root
  std::vector<std::string> includes;
};

// Every product source file outside a platform folder that includes a system header.
std::vector<Finding> ScanProduct(const fs::path& root) {
  std::vector<Finding> findings;
  for (const char* folder : kProductFolders) {
    std::error_code ec;
    if (!fs::is_directory(root / folder, ec)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
      if (!entry.is_regular_file() || !IsSource(entry.path())) continue;
      const std::string relative = fs::relative(entry.path(), root).generic_string();
      if (InPlatformFolder(relative)) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      std::vector<std::string> includes = SystemIncludes(text);
      if (!includes.empty()) findings.push_back({relative, std::move(includes)});
    }
  }
  std::sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) { return a.file < b.file; });
  return findings;
}

std::vector<std::string> Unallowed(const std::vector<Finding>& findings) {
  std::vector<std::string> out;
  for (const Finding& f : findings)
    for (const std::string& include : f.includes) out.push_back(f.file + " " + include);
  return out;
}

std::string Lines(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += "  " + item + "\n";
  return text;
}

void WriteSource(const TempDir& dir, const std::string& relative, const std::string& text) {
  const fs::path path = fs::path(dir.Path()) / relative;
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

TEST(PlatformIncludes, SystemHeadersOnlyInPlatformFolders) {
  const std::vector<std::string> unallowed = Unallowed(ScanProduct(TQ_SOURCE_DIR));
  EXPECT_TRUE(unallowed.empty()) << "system headers outside a platform/ folder; move the calls behind the host "
                                    "layer (core/platform, comm/platform, cli/platform, sim/platform):\n"
                                 << Lines(unallowed);
}

TEST(PlatformIncludes, RecognisesEverySpellingOfASystemInclude) {
  const std::string text =
      "#include <unistd.h>\n"
      "  #  include <sys/stat.h>\n"
      "#include \"windows.h\"\n"
      "#include <Windows.h>\n"
      "\t#include<linux/serial.h>\n"
      "#include <sys\\types.h>\n";
  EXPECT_EQ(SystemIncludes(text),
            (std::vector<std::string>{"line 1: <unistd.h>", "line 2: <sys/stat.h>", "line 3: <windows.h>",
                                      "line 4: <Windows.h>", "line 5: <linux/serial.h>", "line 6: <sys\\types.h>"}));
}

TEST(PlatformIncludes, LeavesStandardAndOwnHeadersAlone) {
  const std::string text =
      "#include <cstdio>\n"
      "#include <csignal>\n"
      "#include <filesystem>\n"
      "#include \"sim/PtyDevice.h\"\n"
      "#include \"comm/platform/SerialPlatform.h\"\n"
      "#include <systemd_like.h>\n"
      "// unistd.h is not included here\n"
      "const char* kName = \"#include <unistd.h>\";\n";
  EXPECT_TRUE(SystemIncludes(text).empty());
}

TEST(PlatformIncludes, OnlyAFolderNamedPlatformIsExempt) {
  EXPECT_TRUE(InPlatformFolder("comm/platform/SerialPosix.cpp"));
  EXPECT_TRUE(InPlatformFolder("core/include/core/platform/HostFiles.h"));
  EXPECT_TRUE(InPlatformFolder("sim/platform/PtyDeviceLinux.cpp"));
  EXPECT_FALSE(InPlatformFolder("cli/CliPlatform.cpp"));
  EXPECT_FALSE(InPlatformFolder("cli/platforms/Posix.cpp"));
  EXPECT_FALSE(InPlatformFolder("platform.cpp"));
}

// A tree of its own: a command line file with a POSIX header fails, and so
// does one in any other layer, while bench/, tests/ and platform folders pass.
TEST(PlatformIncludes, ANewFileWithASystemHeaderIsFound) {
  TempDir root;
  WriteSource(root, "cli/CliRun.cpp", "#include <sys/stat.h>\n");
  WriteSource(root, "cli/CliProbe.cpp", "#include <string>\n#include <unistd.h>\n");
  WriteSource(root, "update/include/update/Probe.h", "#include <windows.h>\n");
  WriteSource(root, "sim/platform/PtyDeviceLinux.cpp", "#include <termios.h>\n");
  WriteSource(root, "bench/Bench.cpp", "#include <unistd.h>\n");
  WriteSource(root, "tests/sim/Pty.h", "#include <pty.h>\n");
  WriteSource(root, "cli/notes.txt", "#include <unistd.h>\n");
  EXPECT_EQ(Unallowed(ScanProduct(root.Path())),
            (std::vector<std::string>{"cli/CliProbe.cpp line 2: <unistd.h>", "cli/CliRun.cpp line 1: <sys/stat.h>",
                                      "update/include/update/Probe.h line 1: <windows.h>"}));
}

}  // namespace
