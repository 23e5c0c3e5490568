// Windows: the report's SHA-256 (the system's CNG provider), its
// append-only file and the log file.
#include "prod/Report.h"

#include <windows.h>
#include <bcrypt.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kDigestSize = 32;

// One SHA-256 computation; fed in pieces, read once.
class CSha256 {
public:
  CSha256() {
    m_ok = BCryptOpenAlgorithmProvider(&m_alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0 &&
           BCryptCreateHash(m_alg, &m_hash, nullptr, 0, nullptr, 0, 0) == 0;
  }
  ~CSha256() {
    if (m_hash) BCryptDestroyHash(m_hash);
    if (m_alg) BCryptCloseAlgorithmProvider(m_alg, 0);
  }
  void Add(const uint8_t* data, size_t length) {
    if (m_ok) m_ok = BCryptHashData(m_hash, const_cast<PUCHAR>(data), static_cast<ULONG>(length), 0) == 0;
  }
  std::optional<std::string> Hex() {
    unsigned char digest[kDigestSize];
    if (!m_ok || BCryptFinishHash(m_hash, digest, kDigestSize, 0) != 0) return std::nullopt;
    return HexDigest(digest, kDigestSize);
  }

private:
  BCRYPT_ALG_HANDLE m_alg = nullptr;
  BCRYPT_HASH_HANDLE m_hash = nullptr;
  bool m_ok = false;
};

// True when the path names something that exists and is no regular file (a
// device such as NUL or COM1, a pipe, a folder): nothing to append records or
// log lines to.
bool NamesNonRegularFile(const std::string& path) {
  struct _stat64 st {};
  return ::_stat64(path.c_str(), &st) == 0 && (st.st_mode & _S_IFMT) != _S_IFREG;
}

}  // namespace

std::string Sha256Hex(const uint8_t* data, size_t length) {
  CSha256 sha;
  sha.Add(data, length);
  return sha.Hex().value_or("");
}

std::optional<std::string> Sha256OfFile(const std::string& path, std::string& error) {
  FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) {
    error = std::strerror(errno);
    return std::nullopt;
  }
  CSha256 sha;
  uint8_t buffer[65536];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) sha.Add(buffer, n);
  const bool failed = std::ferror(in) != 0;
  std::fclose(in);
  if (failed) {
    error = "read error";
    return std::nullopt;
  }
  return sha.Hex();
}

CRecordFile::~CRecordFile() {
  if (m_fd >= 0) ::_close(m_fd);
}

bool CRecordFile::Open(const std::string& path, std::string& error) {
  if (NamesNonRegularFile(path)) {
    error = "not a regular file";
    return false;
  }
  m_fd = ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
  if (m_fd < 0) error = std::strerror(errno);
  return m_fd >= 0;
}

bool CRecordFile::Append(const std::string& line, std::string& error) {
  std::lock_guard lock(m_mutex);
  if (m_fd < 0) {
    error = "no report file";
    return false;
  }
  // A full disk can take part of the line: the file is cut back to where it
  // ended, so that it holds whole records only.
  const long long before = ::_filelengthi64(m_fd);
  const int n = ::_write(m_fd, line.data(), static_cast<unsigned>(line.size()));
  if (n != static_cast<int>(line.size())) {
    error = n < 0 ? std::strerror(errno) : "short write (the disk may be full)";
    if (n > 0 && (before < 0 || ::_chsize_s(m_fd, before) != 0)) {
      ::_close(m_fd);
      m_fd = -1;
      error += "; part of the record stays at the end of the file";
    }
    return false;
  }
  if (::_commit(m_fd) != 0) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}


FILE* OpenLogForAppend(const std::string& path, std::string& error) {
  if (NamesNonRegularFile(path)) {
    error = "not a regular file";
    return nullptr;
  }
  // Text mode on purpose: a log read with the system's own tools. N: not inherited.
  FILE* log = std::fopen(path.c_str(), "aN");
  if (!log) error = std::strerror(errno);
  return log;
}
