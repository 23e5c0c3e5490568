// File access for the update on Windows, over C-library descriptors opened
// in binary mode: in the default text mode a read would stop at the first
// 0x1A byte of an image and every 0x0A of a dump would be written as 0x0D 0x0A.
// Only regular files are taken: a name such as COM1, CON or NUL opens a
// device, and a dump written to a serial line would do damage.
#include "comm/FileAccess.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace {

std::string ErrnoText(int err) { return std::generic_category().message(err); }

// Closes a descriptor when the scope ends.
class FdGuard {
public:
  explicit FdGuard(int fd) : m_fd(fd) {}
  ~FdGuard() {
    if (m_fd >= 0) ::_close(m_fd);
  }
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;
  int Get() const { return m_fd; }
  void Release() { m_fd = -1; }

private:
  int m_fd;
};

// Binary, not inherited by child processes, shared for reading; regular files only.
int OpenRegular(const std::string& path, int flags, std::string& error) {
  int fd = -1;
  const errno_t rc = ::_sopen_s(&fd, path.c_str(), flags | _O_BINARY | _O_NOINHERIT, _SH_DENYNO,
                                _S_IREAD | _S_IWRITE);
  if (rc != 0 || fd < 0) {
    error = ErrnoText(rc != 0 ? rc : errno);
    return -1;
  }
  struct _stat64 st {};
  if (::_fstat64(fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) {
    error = "not a regular file";
    ::_close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

bool CHostFileAccess::FileSize(const std::string& path, uint64_t& size, std::string& error) {
  FdGuard fd(OpenRegular(path, _O_RDONLY, error));
  if (fd.Get() < 0) return false;
  const __int64 end = ::_lseeki64(fd.Get(), 0, SEEK_END);
  if (end < 0) {
    error = ErrnoText(errno);
    return false;
  }
  size = static_cast<uint64_t>(end);
  return true;
}

bool CHostFileAccess::ReadAt(const std::string& path, uint64_t offset, uint8_t* buffer, size_t length,
                             size_t& got, std::string& error) {
  got = 0;
  FdGuard fd(OpenRegular(path, _O_RDONLY, error));
  if (fd.Get() < 0) return false;
  // The descriptor is this call's own, so seek-then-read is as good as pread.
  if (::_lseeki64(fd.Get(), static_cast<__int64>(offset), SEEK_SET) < 0) {
    error = ErrnoText(errno);
    return false;
  }
  while (got < length) {
    const unsigned chunk = static_cast<unsigned>(std::min<size_t>(length - got, 1u << 20));
    const int n = ::_read(fd.Get(), buffer + got, chunk);
    if (n < 0) {
      error = ErrnoText(errno);
      return false;
    }
    if (n == 0) break;  // end of file
    got += static_cast<size_t>(n);
  }
  return true;
}

std::unique_ptr<IDumpSink> CHostFileAccess::CreateDump(const std::string& path, std::string& error) {
  const int fd = OpenRegular(path, _O_RDWR | _O_CREAT | _O_TRUNC, error);
  if (fd < 0) return nullptr;
  return std::make_unique<CBufferedDumpSink>(fd);
}

std::unique_ptr<IDumpSink> CHostFileAccess::CreateFreshDump(const std::string& path, std::string& error) {
  // Removing a link removes the link; a missing file is no reason to stop.
  if (::_unlink(path.c_str()) != 0 && errno != ENOENT) {
    error = ErrnoText(errno);
    return nullptr;
  }
  // _O_EXCL fails on anything that appeared at the path since, a link included.
  const int fd = OpenRegular(path, _O_WRONLY | _O_CREAT | _O_EXCL, error);
  if (fd < 0) return nullptr;
  return std::make_unique<CBufferedDumpSink>(fd);
}

std::unique_ptr<IDumpSink> CHostFileAccess::ContinueDump(const std::string& path, uint64_t keep, std::string& error) {
  // A link or junction is a reparse point: never written through.
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    error = "not a regular file";
    return nullptr;
  }
  FdGuard fd(OpenRegular(path, _O_WRONLY, error));
  if (fd.Get() < 0) return nullptr;
  if (::_chsize_s(fd.Get(), static_cast<__int64>(keep)) != 0 || ::_lseeki64(fd.Get(), 0, SEEK_END) < 0) {
    error = ErrnoText(errno);
    return nullptr;
  }
  const int owned = fd.Get();
  fd.Release();
  return std::make_unique<CBufferedDumpSink>(owned);
}
