#include "sim/FlashStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

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

bool WriteAll(int fd, const uint8_t* data, size_t length, off_t offset) {
  return TransferAll(::pwrite, fd, data, length, offset);
}

bool ReadAll(int fd, uint8_t* data, size_t length, off_t offset) {
  return TransferAll(::pread, fd, data, length, offset);
}

bool FillErased(int fd, off_t from, off_t to) {
  const std::vector<uint8_t> erased(64 * 1024, 0xFF);
  while (from < to) {
    const size_t n = static_cast<size_t>(std::min<off_t>(to - from, static_cast<off_t>(erased.size())));
    if (!WriteAll(fd, erased.data(), n, from)) return false;
    from += static_cast<off_t>(n);
  }
  return true;
}

}  // namespace

CFlashStore::~CFlashStore() { Close(); }

bool CFlashStore::Open(const std::string& path, uint32_t size, std::string* error) {
  Close();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = "cannot open flash file " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || (st.st_size < static_cast<off_t>(size) && !FillErased(fd, st.st_size, size))) {
    *error = "cannot prepare flash file " + path + ": " + std::strerror(errno);
    ::close(fd);
    return false;
  }
  m_hFile = fd;
  m_nSize = size;
  return true;
}

void CFlashStore::Close() {
  if (m_hFile >= 0) ::close(m_hFile);
  m_hFile = -1;
  m_nSize = 0;
}

bool CFlashStore::InRange(uint32_t address, size_t length) const {
  return m_hFile >= 0 && static_cast<uint64_t>(address) + length <= m_nSize;
}

bool CFlashStore::Read(uint32_t address, uint8_t* out, size_t length) const {
  return InRange(address, length) && ReadAll(m_hFile, out, length, address);
}

bool CFlashStore::Erase(uint32_t address, size_t length) {
  return InRange(address, length) && FillErased(m_hFile, address, static_cast<off_t>(address + length));
}

bool CFlashStore::HitsBadCell(uint32_t address, size_t length) const {
  for (uint32_t bad : m_badCells)
    if (bad >= address && bad - address < length) return true;
  return false;
}

bool CFlashStore::Program(uint32_t address, const uint8_t* data, size_t length) {
  if (!InRange(address, length)) return false;
  std::vector<uint8_t> cells(length);
  if (!ReadAll(m_hFile, cells.data(), length, address)) return false;
  for (size_t i = 0; i < length; ++i) cells[i] &= data[i];
  for (uint32_t bad : m_badCells)
    if (bad >= address && bad - address < length) cells[bad - address] ^= 0x01;
  return WriteAll(m_hFile, cells.data(), length, address);
}
