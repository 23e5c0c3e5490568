// The dump file's buffer, over a C-library descriptor; the same on every
// platform (the descriptor is opened in binary mode by the platform's file
// access).
#include "comm/FileAccess.h"

#include <cerrno>
#include <cstring>
#include <system_error>
#include <unistd.h>

namespace {
std::string ErrnoText(int err) { return std::generic_category().message(err); }
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
