// POSIX: the report's SHA-256 (OpenSSL's libcrypto), its append-only file
// and the log file.
#include "prod/Report.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opens a regular file for appending, creating it with `mode`, without
// waiting: a FIFO would block open() until a reader came, and a terminal or
// device is no file to keep. Never inherited by a program started later.
// -1 with the reason.
int OpenRegularForAppend(const std::string& path, mode_t mode, std::string& error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    error = "not a regular file";
    return -1;
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, mode);
  if (fd < 0) {
    error = std::strerror(errno);
    return -1;
  }
  // Checked again on what was opened: the path may have changed since.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = "not a regular file";
    ::close(fd);
    return -1;
  }
  // Writes block as usual once the file is known to be a regular one.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

}  // namespace

std::string Sha256Hex(const uint8_t* data, size_t length) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(data, length, digest, &size, EVP_sha256(), nullptr) != 1) return {};
  return HexDigest(digest, size);
}

std::optional<std::string> Sha256OfFile(const std::string& path, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = std::strerror(errno);
    return std::nullopt;
  }
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  bool ok = ctx && EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) == 1;
  uint8_t buffer[65536];
  ssize_t n = 0;
  while (ok && (n = ::read(fd, buffer, sizeof buffer)) > 0) ok = EVP_DigestUpdate(ctx.get(), buffer, static_cast<size_t>(n)) == 1;
  if (n < 0) error = std::strerror(errno);
  ::close(fd);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (!ok || n < 0 || EVP_DigestFinal_ex(ctx.get(), digest, &size) != 1) return std::nullopt;
  return HexDigest(digest, size);
}

CRecordFile::~CRecordFile() {
  if (m_fd >= 0) ::close(m_fd);
}

bool CRecordFile::Open(const std::string& path, std::string& error) {
  m_fd = OpenRegularForAppend(path, 0644, error);
  return m_fd >= 0;
}

bool CRecordFile::Append(const std::string& line, std::string& error) {
  std::lock_guard lock(m_mutex);
  if (m_fd < 0) {
    error = "no report file";
    return false;
  }
  // A full disk (or a file-size limit) can take part of the line: the file
  // is cut back to where it ended, so that it holds whole records only and a
  // later record does not run on from half of this one.
  struct stat before {};
  const bool sized = ::fstat(m_fd, &before) == 0;
  ssize_t n = -1;
  do {
    n = ::write(m_fd, line.data(), line.size());
  } while (n < 0 && errno == EINTR);
  if (n != static_cast<ssize_t>(line.size())) {
    error = n < 0 ? std::strerror(errno) : "short write (the disk may be full)";
    if (n > 0 && (!sized || ::ftruncate(m_fd, before.st_size) != 0)) {
      // Part of the record stays: later records would read as garbage after it.
      ::close(m_fd);
      m_fd = -1;
      error += "; part of the record stays at the end of the file";
    }
    return false;
  }
  if (::fsync(m_fd) != 0) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}


FILE* OpenLogForAppend(const std::string& path, std::string& error) {
  const int fd = OpenRegularForAppend(path, 0666, error);
  if (fd < 0) return nullptr;
  FILE* log = ::fdopen(fd, "a");
  if (!log) {
    error = std::strerror(errno);
    ::close(fd);
  }
  return log;
}
