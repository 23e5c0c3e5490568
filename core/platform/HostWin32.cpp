// Files, the program's path and local time on Windows. Files go through the
// Win32 API, which knows nothing of text mode: bytes are read and written as
// they are (the C library's text mode would turn "\n" into "\r\n" and stop a
// read at a 0x1A byte). Paths are in the ANSI code page, as argv is.
#include "core/platform/HostFiles.h"

#include <windows.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>

namespace host {

namespace {

// Closes a handle when the scope ends.
class HandleGuard {
public:
  explicit HandleGuard(HANDLE h) : m_h(h) {}
  ~HandleGuard() {
    if (Valid()) ::CloseHandle(m_h);
  }
  HandleGuard(const HandleGuard&) = delete;
  HandleGuard& operator=(const HandleGuard&) = delete;
  bool Valid() const { return m_h != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return m_h; }
  void Close() {
    if (Valid()) ::CloseHandle(m_h);
    m_h = INVALID_HANDLE_VALUE;
  }

private:
  HANDLE m_h;
};

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME: return ENOENT;
    case ERROR_ACCESS_DENIED: return EACCES;
    case ERROR_SHARING_VIOLATION: return EBUSY;
    default: return EIO;
  }
}

// Opens an existing regular file for reading; anything else (a folder, a
// pipe, a device such as COM1 or CON) is refused with EISDIR.
HANDLE OpenRegular(const std::string& path, int& err) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    err = EISDIR;
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    err = ErrnoOf(::GetLastError());
    return h;
  }
  if (::GetFileType(h) != FILE_TYPE_DISK) {
    ::CloseHandle(h);
    err = EISDIR;
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

bool WriteAll(HANDLE h, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 20));
    DWORD put = 0;
    if (!::WriteFile(h, data.data() + done, chunk, &put, nullptr) || put == 0) return false;
    done += put;
  }
  return true;
}

// A fresh file beside `target` that no one else has: target.tmp<pid>-<n>.
HANDLE CreateTemporary(const std::filesystem::path& target, std::string& name) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = target.string() + ".tmp" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter++);
    HANDLE h = ::CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) return h;
  }
  return INVALID_HANDLE_VALUE;
}

// The system's words for an error code, without the closing line break.
std::string SystemText(DWORD code) {
  char buffer[512] = {};
  const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                                   sizeof buffer, nullptr);
  std::string text(buffer, n);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text.empty() ? "error " + std::to_string(code) : text;
}

}  // namespace

bool ReadRegularFile(const std::string& path, std::string& out) {
  out.clear();
  int err = 0;
  HandleGuard file(OpenRegular(path, err));
  if (!file.Valid()) return false;
  char buf[65536];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.Get(), buf, sizeof buf, &got, nullptr)) return false;
    if (got == 0) return true;
    out.append(buf, got);
  }
}

bool RegularFileSize(const std::string& path, uint64_t& size, int& err) {
  err = 0;
  HandleGuard file(OpenRegular(path, err));
  if (!file.Valid()) return false;
  LARGE_INTEGER li{};
  if (!::GetFileSizeEx(file.Get(), &li)) {
    err = ErrnoOf(::GetLastError());
    return false;
  }
  size = static_cast<uint64_t>(li.QuadPart);
  return true;
}

bool IsRegularFile(const std::string& path) {
  struct _stat64 st {};
  return ::_stat64(path.c_str(), &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG;
}

bool RecordedSize(const std::string& path, uint64_t& size) {
  struct _stat64 st {};
  if (::_stat64(path.c_str(), &st) != 0) return false;
  size = static_cast<uint64_t>(st.st_size);
  return true;
}

int AccessError(const std::string& path, Access what) {
  // The C library's modes: 4 read, 2 write, 6 both.
  const int mode = what == Access::Read ? 4 : what == Access::Write ? 2 : 6;
  return ::_access(path.c_str(), mode) == 0 ? 0 : errno;
}

bool CreateEmptyFile(const std::string& path) {
  HandleGuard file(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.Valid();
}

bool ReplaceFileWith(const std::filesystem::path& target, const std::string& data) {
  std::string name;
  HandleGuard file(CreateTemporary(target, name));
  if (!file.Valid()) return false;
  bool ok = WriteAll(file.Get(), data) && ::FlushFileBuffers(file.Get());
  file.Close();
  // rename() of the C library refuses to replace an existing file here;
  // MoveFileEx replaces it in one step.
  if (ok) ok = ::MoveFileExA(name.c_str(), target.string().c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) ::DeleteFileA(name.c_str());
  return ok;
}

bool MoveFileOver(const std::string& source, const std::string& target, std::string& error) {
  const DWORD attributes = ::GetFileAttributesA(source.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
    error = attributes == INVALID_FILE_ATTRIBUTES ? SystemText(::GetLastError()) : "not a regular file";
    return false;
  }
  // rename() of the C library refuses to replace an existing file here;
  // MoveFileEx replaces it in one step.
  if (::MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  error = SystemText(::GetLastError());
  return false;
}

std::string FileGroupName(const std::string&) { return {}; }

std::filesystem::path ExecutablePath() {
  std::string buf(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return std::filesystem::path(buf.substr(0, n));
    if (buf.size() >= 32768) return {};
    buf.resize(buf.size() * 2);
  }
}

bool LocalTime(std::time_t t, std::tm& out) { return ::localtime_s(&out, &t) == 0; }

bool UtcTime(std::time_t t, std::tm& out) { return ::gmtime_s(&out, &t) == 0; }

}  // namespace host
