// The profile file reader and writer on files of any content: every read
// stays within its limits, and a write of a clean key is read back while
// every other line of the file keeps its bytes.
#include "core/Config.h"
#include "core/Profile.h"
#include "tests/fuzz/FuzzSupport.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A folder of its own for the whole run, removed at exit; in memory where the
// machine has /dev/shm, since every write syncs the file to its disk.
struct ScratchFolder {
  ScratchFolder() {
    std::error_code ec;
    std::string name = std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : "/tmp";
    name += "/tqfuzz-profile.XXXXXX";
    if (::mkdtemp(name.data()) == nullptr) std::abort();
    path = name;
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string path;
};

std::string Folder() {
  static const ScratchFolder folder;
  return folder.path;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// Names and values as the program itself writes them: no line breaks, no
// blanks at either end, keys without '=' that do not look like a comment or
// a section header, sections without brackets, values not quoted.
std::string Clean(std::string s, bool isKey, bool isSection) {
  std::string out;
  for (char c : s) {
    if (c == '\n' || c == '\r' || c == '\0') continue;
    if (isKey && c == '=') continue;
    if (isSection && (c == '[' || c == ']')) continue;
    out.push_back(c);
  }
  while (!out.empty() && IsBlank(out.front())) out.erase(out.begin());
  while (!out.empty() && IsBlank(out.back())) out.pop_back();
  if (isKey && (out.empty() || out[0] == ';' || out[0] == '#' || out[0] == '[')) out = 'k' + out;
  if (!isKey && !isSection && out.size() >= 2 && (out[0] == '"' || out[0] == '\'') && out.back() == out[0])
    out.push_back('v');
  return out;
}

// Lines with their terminators, the last one possibly without.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t nl = text.find('\n', pos);
    const size_t next = nl == std::string::npos ? text.size() : nl + 1;
    out.push_back(text.substr(pos, next - pos));
    pos = next;
  }
  return out;
}

std::string Body(const std::string& line) {
  std::string b = line;
  if (!b.empty() && b.back() == '\n') b.pop_back();
  if (!b.empty() && b.back() == '\r') b.pop_back();
  return b;
}

std::string Ending(const std::string& line) { return line.substr(Body(line).size()); }

// The new file is the old one with one key line replaced, or with the key line
// (and its section header) inserted; an unterminated last line may have
// gained its line break. Nothing else may differ.
void CheckOtherLinesKept(const std::string& before, const std::string& after, const std::string& section,
                         const std::string& keyLine) {
  const auto a = Lines(before), b = Lines(after);
  const std::string eol = before.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  size_t p = 0;
  while (p < a.size() && p < b.size() &&
         (a[p] == b[p] || (p + 1 == a.size() && a[p].back() != '\n' && b[p] == a[p] + eol)))
    ++p;
  size_t s = 0;
  while (s < a.size() - p && s < b.size() - p && a[a.size() - 1 - s] == b[b.size() - 1 - s]) ++s;
  const std::vector<std::string> oldMid(a.begin() + static_cast<long>(p), a.end() - static_cast<long>(s));
  const std::vector<std::string> newMid(b.begin() + static_cast<long>(p), b.end() - static_cast<long>(s));
  const std::string context = "before:\n" + Escaped(before) + "\nafter:\n" + Escaped(after);
  if (oldMid.size() == 1) {
    FUZZ_CHECK(newMid.size() == 1 && Body(newMid[0]) == keyLine && Ending(newMid[0]) == Ending(oldMid[0]), context);
    FUZZ_CHECK(EqualNoCase(ProfileKeyPart(Body(oldMid[0])), ProfileKeyPart(keyLine)), context);
    return;
  }
  FUZZ_CHECK(oldMid.empty(), context);
  if (newMid.empty()) return;  // the line held that value already
  const bool keyOnly = newMid.size() == 1 && newMid[0] == keyLine + eol;
  const bool withHeader = newMid.size() == 2 && newMid[0] == "[" + section + "]" + eol && newMid[1] == keyLine + eol;
  FUZZ_CHECK(keyOnly || withHeader, context);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const std::string section = Clean(in.Text(16), false, true);
  const std::string key = Clean(in.Text(16), true, false);
  const std::string value = Clean(in.Text(24), false, false);
  const std::string content = in.Rest();
  const std::string path = Folder() + "/cfg.ini";
  {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
  }

  // Reads of whatever the file holds: the section budget holds, nothing breaks.
  size_t used = 0;
  for (const std::string& line : ReadProfileSection(section, path)) used += line.size() + 1;
  FUZZ_CHECK(used <= PROFILE_SECTION_BUDGET, "section budget");
  FUZZ_CHECK(ReadProfileString(section, key, "", 8, path).size() <= 7, "string capacity");
  (void)ReadProfileInt(section, key, 0, path);
  const CConfigFile config(path);
  (void)config.ChipNumbers(key);
  (void)config.ReadSetting();
  (void)config.BatEntry(0);
  (void)config.PortMapPath(1);

  FUZZ_CHECK(WriteProfileString(section, key, value, path), "write failed");
  const std::string after = ReadAll(path);
  FUZZ_CHECK(ReadProfileString(section, key, "\x01missing", 4096, path) == value,
             Escaped("read back [" + section + "] " + key + "=" + value + " from:\n" + after));
  CheckOtherLinesKept(content, after, section, key + "=" + value);
  return 0;
}
