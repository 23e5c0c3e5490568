// The flash file through POSIX descriptors: positioned reads and writes, so
// that the store keeps no file position of its own.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim/FlashStore.h"

namespace {

// Repeats a positioned read or write until all `length` bytes are through.
template <typename Byte, typename Transfer>
bool TransferAll(Transfer transfer, int fd, Byte* data, size_t length, off_t offset) {
  while (length > 0) {
    const ssize_t n = transfer(fd, data, length, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

}  // namespace

bool CFlashStore::Open(const std::string& path, uint32_t size, std::string* error) {
  Close();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = "cannot open flash file " + path + ": " + std::strerror(errno);
    return false;
  }
  m_hFile = fd;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || (st.st_size < static_cast<off_t>(size) && !FillErased(st.st_size, size))) {
    *error = "cannot prepare flash file " + path + ": " + std::strerror(errno);
    Close();
    return false;
  }
  m_nSize = size;
  return true;
}

void CFlashStore::Close() {
  if (m_hFile >= 0) ::close(m_hFile);
  m_hFile = -1;
  m_nSize = 0;
}

bool CFlashStore::ReadCells(uint64_t offset, uint8_t* out, size_t length) const {
  return TransferAll(::pread, m_hFile, out, length, static_cast<off_t>(offset));
}

bool CFlashStore::WriteCells(uint64_t offset, const uint8_t* data, size_t length) {
  return TransferAll(::pwrite, m_hFile, data, length, static_cast<off_t>(offset));
}
