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

CBufferedDumpSink::CBufferedDumpSink(int fd, size_t bufferSize)
    : m_fd(fd), m_buffer(bufferSize == 0 ? 1 : bufferSize) {}

CBufferedDumpSink::~CBufferedDumpSink() {
  std::string ignored;
  Close(ignored);
}

bool CBufferedDumpSink::WriteAll(const uint8_t* data, size_t length, std::string& error) {
  while (length > 0) {
    const ssize_t n = ::write(m_fd, data, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      m_failure = ErrnoText(errno);
      error = m_failure;
      return false;
    }
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

bool CBufferedDumpSink::Usable(std::string& error) const {
  if (m_fd < 0) error = "file is closed";
  else if (!m_failure.empty()) error = m_failure;
  else return true;
  return false;
}

bool CBufferedDumpSink::Write(const uint8_t* data, size_t length, std::string& error) {
  if (!Usable(error)) return false;
  if (m_used + length > m_buffer.size()) {
    if (!Flush(error)) return false;
    if (length >= m_buffer.size()) return WriteAll(data, length, error);
  }
  std::memcpy(m_buffer.data() + m_used, data, length);
  m_used += length;
  return true;
}

bool CBufferedDumpSink::Flush(std::string& error) {
  if (!Usable(error)) return false;
  const size_t used = m_used;
  m_used = 0;
  return WriteAll(m_buffer.data(), used, error);
}

bool CBufferedDumpSink::Close(std::string& error) {
  if (m_fd < 0) return true;
  bool ok = Flush(error);
  if (::close(m_fd) != 0 && ok) {
    // EINTR on close leaves the descriptor closed on Linux: do not retry.
    error = ErrnoText(errno);
    ok = false;
  }
  m_fd = -1;
  m_used = 0;
  return ok;
}

bool CPosixFileAccess::FileSize(const std::string& path, uint64_t& size, std::string& error) {
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

bool CPosixFileAccess::ReadAt(const std::string& path, uint64_t offset, uint8_t* buffer, size_t length,
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

std::unique_ptr<IDumpSink> CPosixFileAccess::CreateDump(const std::string& path, std::string& error) {
  const int fd = OpenNoWait(path, O_RDWR | O_CREAT | O_TRUNC, error);
  if (fd < 0) return nullptr;
  return std::make_unique<CBufferedDumpSink>(fd);
}
