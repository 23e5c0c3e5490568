#include "core/Profile.h"

#include "core/Numbers.h"
#include "core/Text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Reads the whole file; false when it is missing, not a regular file or unreadable.
bool ReadWholeFile(const std::string& path, std::string& out) {
  out.clear();
  // O_NONBLOCK: a FIFO in place of the file must not hang the program; the
  // regular-file check below then turns it away.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

// One physical line of the file: where its text starts and ends (without the
// line break) and where the next line starts.
struct LineSpan {
  size_t begin;
  size_t end;
  size_t next;
};

std::vector<LineSpan> SplitLines(const std::string& text) {
  std::vector<LineSpan> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    size_t next = nl == std::string::npos ? text.size() : nl + 1;
    size_t end = nl == std::string::npos ? text.size() : nl;
    if (end > pos && text[end - 1] == '\r') --end;
    lines.push_back({pos, end, next});
    pos = next;
  }
  return lines;
}

// The section name of a header line "[name]", or false for any other line.
bool SectionHeader(std::string_view trimmed, std::string& name) {
  if (trimmed.empty() || trimmed.front() != '[') return false;
  size_t close = trimmed.find(']');
  name = Trim(trimmed.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
  return true;
}

bool IsComment(std::string_view trimmed) {
  return !trimmed.empty() && (trimmed.front() == ';' || trimmed.front() == '#');
}

// Indices (into `lines`) of the body of the first section with this name:
// [first, last). Returns false when there is no such section.
bool FindSection(const std::string& text, const std::vector<LineSpan>& lines, const std::string& section,
                 size_t& header, size_t& first, size_t& last) {
  bool inside = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string t(Trim(std::string_view(text).substr(lines[i].begin, lines[i].end - lines[i].begin)));
    std::string name;
    if (SectionHeader(t, name)) {
      if (inside) {
        last = i;
        return true;
      }
      if (EqualNoCase(name, section)) {
        inside = true;
        header = i;
        first = i + 1;
      }
    }
  }
  if (inside) last = lines.size();
  return inside;
}

// Looks up a key in the first section of that name. `lineIndex` tells where it stands.
bool FindKey(const std::string& text, const std::vector<LineSpan>& lines, size_t first, size_t last,
             const std::string& key, size_t& lineIndex, std::string& value) {
  if (Trim(key).empty()) return false;
  for (size_t i = first; i < last; ++i) {
    std::string_view line = std::string_view(text).substr(lines[i].begin, lines[i].end - lines[i].begin);
    std::string t(Trim(line));
    if (t.empty() || IsComment(t)) continue;
    size_t eq = t.find('=');
    if (eq == std::string::npos) continue;
    if (!EqualNoCase(Trim(std::string_view(t).substr(0, eq)), Trim(key))) continue;
    value = Trim(std::string_view(t).substr(eq + 1));
    lineIndex = i;
    return true;
  }
  return false;
}

bool LookupValue(const std::string& section, const std::string& key, const std::string& path, std::string& value) {
  std::string text;
  if (!ReadWholeFile(path, text)) return false;
  auto lines = SplitLines(text);
  size_t header = 0, first = 0, last = 0, at = 0;
  if (!FindSection(text, lines, section, header, first, last)) return false;
  return FindKey(text, lines, first, last, key, at, value);
}

// Writes `data` to a fresh file beside `path` and renames it over `path`.
bool ReplaceFile(const std::string& path, const std::string& data) {
  namespace fs = std::filesystem;
  fs::path target(path);
  std::error_code ec;
  // A cfg.ini that is a symbolic link is written through to the file it
  // names, so the link stays a link.
  if (fs::is_symlink(target, ec)) {
    fs::path real = fs::canonical(target, ec);
    if (!ec) target = real;
  }
  fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  if (!fs::is_directory(folder, ec)) return false;
  if (fs::exists(target, ec) && !fs::is_regular_file(target, ec)) return false;

  std::string tmpl = (folder / (target.filename().string() + ".XXXXXX")).string();
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  mode_t mode = 0644;
  if (::stat(target.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
    // Keep the owner where we may (a root-run write must not take the file).
    if (::fchown(fd, st.st_uid, st.st_gid) != 0) { /* an ordinary user keeps its own */ }
  }
  ::fchmod(fd, mode);
  size_t done = 0;
  bool ok = true;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(name.data(), target.c_str()) != 0) ok = false;
  if (!ok) ::unlink(name.data());
  return ok;
}

}  // namespace

int32_t ReadProfileInt(const std::string& section, const std::string& key, int32_t defaultValue,
                       const std::string& path) {
  std::string value;
  if (!LookupValue(section, key, path, value)) return defaultValue;
  return ParseLeadingDecOrHex(value);
}

std::string ReadProfileString(const std::string& section, const std::string& key, const std::string& defaultValue,
                              size_t capacity, const std::string& path) {
  std::string value;
  if (!LookupValue(section, key, path, value)) value = defaultValue;
  else if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  if (capacity == 0) return {};
  if (value.size() > capacity - 1) value.resize(capacity - 1);
  return value;
}

std::vector<std::string> ReadProfileSection(const std::string& section, const std::string& path, size_t budget) {
  std::vector<std::string> result;
  std::string text;
  if (!ReadWholeFile(path, text)) return result;
  auto lines = SplitLines(text);
  size_t header = 0, first = 0, last = 0;
  if (!FindSection(text, lines, section, header, first, last)) return result;
  size_t used = 0;
  for (size_t i = first; i < last; ++i) {
    std::string t(Trim(std::string_view(text).substr(lines[i].begin, lines[i].end - lines[i].begin)));
    if (t.empty() || IsComment(t)) continue;
    if (used + t.size() + 1 > budget) break;  // the rest no longer fits
    used += t.size() + 1;
    result.push_back(std::move(t));
  }
  return result;
}

bool WriteProfileString(const std::string& section, const std::string& key, const std::string& value,
                        const std::string& path) {
  std::string text;
  if (!ReadWholeFile(path, text)) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) return false;  // there, but a folder or unreadable
    text.clear();
  }
  const std::string eol = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  const std::string newLine = std::string(Trim(key)) + "=" + value;
  auto lines = SplitLines(text);
  size_t header = 0, first = 0, last = 0, at = 0;
  std::string old;
  std::string out;
  if (FindSection(text, lines, section, header, first, last)) {
    if (FindKey(text, lines, first, last, key, at, old)) {
      // Replace the text of that one line; its line break and everything else stay.
      out = text.substr(0, lines[at].begin) + newLine + text.substr(lines[at].end);
    } else {
      // Insert after the section's last non-blank line.
      size_t after = header;
      for (size_t i = first; i < last; ++i)
        if (!Trim(std::string_view(text).substr(lines[i].begin, lines[i].end - lines[i].begin)).empty()) after = i;
      size_t insertAt = lines[after].next;
      std::string prefix = text.substr(0, insertAt);
      if (!prefix.empty() && prefix.back() != '\n') prefix += eol;
      out = prefix + newLine + eol + text.substr(insertAt);
    }
  } else {
    out = text;
    if (!out.empty() && out.back() != '\n') out += eol;
    out += "[" + section + "]" + eol + newLine + eol;
  }
  return ReplaceFile(path, out);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string ProfileKeyPart(const std::string& line) {
  size_t eq = line.find('=');
  return eq == std::string::npos ? line : std::string(Trim(std::string_view(line).substr(0, eq)));
}
