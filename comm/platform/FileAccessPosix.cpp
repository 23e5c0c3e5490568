#include "comm/FileAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace {

std::string ErrnoText(int err) { return std::generic_category().message(err); }

// Closes a descriptor when the scope ends.
class FdGuard {
public:
  explicit FdGuard(int fd) : m_fd(fd) {}
  ~FdGuard() {
    if (m_fd >= 0) ::close(m_fd);
  }
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;
  int Get() const { return m_fd; }
  void Release() { m_fd = -1; }

private:
  int m_fd;
};

// Opens without waiting (a FIFO would block until a writer came) and takes
// only files whose data can be read at will: no FIFOs or sockets.
int OpenNoWait(const std::string& path, int flags, std::string& error) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    error = ErrnoText(errno);
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || S_ISDIR(st.st_mode)) {
    error = "not a regular file";
    ::close(fd);
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

int OpenReadOnly(const std::string& path, std::string& error) { return OpenNoWait(path, O_RDONLY, error); }

}  // namespace

bool CHostFileAccess::FileSize(const std::string& path, uint64_t& size, std::string& error) {
  FdGuard fd(OpenReadOnly(path, error));
  if (fd.Get() < 0) return false;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) {
    error = ErrnoText(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = "not a regular file";
    return false;
  }
  size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool CHostFileAccess::ReadAt(const std::string& path, uint64_t offset, uint8_t* buffer, size_t length,
                              size_t& got, std::string& error) {
  got = 0;
  FdGuard fd(OpenReadOnly(path, error));
  if (fd.Get() < 0) return false;
  while (got < length) {
    const ssize_t n = ::pread(fd.Get(), buffer + got, length - got, static_cast<off_t>(offset + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      error = ErrnoText(errno);
      return false;
    }
    if (n == 0) break;  // end of file
    got += static_cast<size_t>(n);
  }
  return true;
}

std::unique_ptr<IDumpSink> CHostFileAccess::CreateDump(const std::string& path, std::string& error) {
  const int fd = OpenNoWait(path, O_RDWR | O_CREAT | O_TRUNC, error);
  if (fd < 0) return nullptr;
  return std::make_unique<CBufferedDumpSink>(fd);
}

std::unique_ptr<IDumpSink> CHostFileAccess::CreateFreshDump(const std::string& path, std::string& error) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    error = ErrnoText(errno);
    return nullptr;
  }
  // O_EXCL also refuses a link that appeared at the path since.
  const int fd = OpenNoWait(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, error);
  if (fd < 0) return nullptr;
  return std::make_unique<CBufferedDumpSink>(fd);
}

std::unique_ptr<IDumpSink> CHostFileAccess::ContinueDump(const std::string& path, uint64_t keep, std::string& error) {
  FdGuard fd(OpenNoWait(path, O_WRONLY | O_NOFOLLOW, error));
  if (fd.Get() < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != ::geteuid()) {
    error = "not a regular file of this user with one name";
    return nullptr;
  }
  if (::ftruncate(fd.Get(), static_cast<off_t>(keep)) != 0 || ::lseek(fd.Get(), 0, SEEK_END) < 0) {
    error = ErrnoText(errno);
    return nullptr;
  }
  const int owned = fd.Get();
  fd.Release();
  return std::make_unique<CBufferedDumpSink>(owned);
}
