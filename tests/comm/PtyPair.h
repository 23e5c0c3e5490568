// A pseudo-terminal for port tests: the test plays the far end on the
// master side, the port under test opens the slave by its path.
#pragma once

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

class CPtyPair {
public:
  CPtyPair() {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_master >= 0 && grantpt(m_master) == 0 && unlockpt(m_master) == 0) {
      if (const char* name = ptsname(m_master)) m_slavePath = name;
    }
  }
  ~CPtyPair() { CloseMaster(); }
  CPtyPair(const CPtyPair&) = delete;
  CPtyPair& operator=(const CPtyPair&) = delete;

  bool Valid() const { return m_master >= 0 && !m_slavePath.empty(); }
  const std::string& SlavePath() const { return m_slavePath; }
  int Master() const { return m_master; }
  void CloseMaster() {
    if (m_master >= 0) ::close(m_master);
    m_master = -1;
  }

  // Sends all bytes to the port, waiting for room as needed.
  bool Send(const void* data, size_t n, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto* p = static_cast<const uint8_t*>(data);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (n > 0) {
      const ssize_t put = ::write(m_master, p, n);
      if (put > 0) {
        p += put;
        n -= static_cast<size_t>(put);
        continue;
      }
      if (put < 0 && errno != EAGAIN && errno != EINTR) return false;
      if (std::chrono::steady_clock::now() > deadline) return false;
      pollfd pfd{m_master, POLLOUT, 0};
      ::poll(&pfd, 1, 10);
    }
    return true;
  }
  bool Send(const std::string& s) { return Send(s.data(), s.size()); }

  // Reads what the port sent until `want` bytes have come or the time is up;
  // with `chunk` and `pause`, reads slowly, a little at a time.
  std::vector<uint8_t> Receive(size_t want, std::chrono::milliseconds limit = std::chrono::seconds(5),
                               size_t chunk = 65536, std::chrono::milliseconds pause = {}) {
    std::vector<uint8_t> got;
    std::vector<uint8_t> buf(chunk);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
      const ssize_t n = ::read(m_master, buf.data(), std::min(chunk, want - got.size()));
      if (n > 0) {
        got.insert(got.end(), buf.begin(), buf.begin() + n);
        if (pause.count() > 0) usleep(static_cast<useconds_t>(pause.count() * 1000));
        continue;
      }
      if (n < 0 && errno == EIO) {
        usleep(10000);  // no slave open at the moment: poll would not wait
        continue;
      }
      pollfd pfd{m_master, POLLIN, 0};
      ::poll(&pfd, 1, 10);
    }
    return got;
  }

private:
  int m_master = -1;
  std::string m_slavePath;
};
