// A small scripted host for driving the simulator: the download and the
// acts of an update, byte for byte as the updater sends them, over either
// an in-memory line to a CChipCore (virtual time) or a pseudo-terminal.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "sim/ChipCore.h"
#include "tests/support/Bytes.h"
#include "update/Frame.h"
#include "update/Protocol.h"

class CLine {
public:
  virtual ~CLine() = default;
  virtual void Send(const Bytes& bytes) = 0;
  // One byte from the chip, or false when none came within the time.
  virtual bool Read(uint8_t* byte, int timeoutMs) = 0;
  // The host closes the device and opens it again at 115200 baud.
  virtual void Reopen() {}
};

// The chip core behind an in-memory line. Time only moves when the host
// waits for a byte that is not there.
class CCoreLine : public CLine {
public:
  explicit CCoreLine(CChipCore& core) : m_core(core) {}
  void Start() { m_core.Start(m_nowUs); }
  void Send(const Bytes& bytes) override {
    m_nowUs += 100;
    m_core.Feed(bytes.data(), bytes.size(), m_nowUs);
  }
  bool Read(uint8_t* byte, int timeoutMs) override {
    Pull();
    if (m_pending.empty()) {
      m_nowUs += int64_t{timeoutMs} * 1000;
      m_core.Advance(m_nowUs);
      Pull();
    }
    if (m_pending.empty()) return false;
    *byte = m_pending.front();
    m_pending.pop_front();
    return true;
  }
  void Wait(int ms) {
    m_nowUs += int64_t{ms} * 1000;
    m_core.Advance(m_nowUs);
  }
  // Everything the chip has sent and the host has not read.
  Bytes Drain() {
    Pull();
    Bytes out(m_pending.begin(), m_pending.end());
    m_pending.clear();
    return out;
  }
  int64_t NowUs() const { return m_nowUs; }

private:
  void Pull() {
    const Bytes out = m_core.TakeBytes();
    m_pending.insert(m_pending.end(), out.begin(), out.end());
  }
  CChipCore& m_core;
  std::deque<uint8_t> m_pending;
  int64_t m_nowUs = 0;
};

// The host's end of a pseudo-terminal, opened raw like the updater's port.
class CDeviceLine : public CLine {
public:
  explicit CDeviceLine(std::string path) : m_path(std::move(path)) { Open(B38400); }
  ~CDeviceLine() override { Close(); }
  bool IsOpen() const { return m_fd >= 0; }
  void Send(const Bytes& bytes) override {
    size_t done = 0;
    while (m_fd >= 0 && done < bytes.size()) {
      const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        return;
      } else {
        pollfd pfd{m_fd, POLLOUT, 0};
        ::poll(&pfd, 1, 10);
      }
    }
  }
  bool Read(uint8_t* byte, int timeoutMs) override {
    if (m_fd < 0) return false;
    pollfd pfd{m_fd, POLLIN, 0};
    if (::poll(&pfd, 1, timeoutMs) <= 0 || (pfd.revents & POLLIN) == 0) return false;
    return ::read(m_fd, byte, 1) == 1;
  }
  // Like the updater, give the settings time to leave before the close
  // purges what is still queued.
  void Reopen() override {
    ::usleep(100'000);
    Close();
    Open(B115200);
  }
  void Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
  }

private:
  void Open(speed_t speed) {
    m_fd = ::open(m_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0) return;
    termios t{};
    ::tcgetattr(m_fd, &t);
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    ::tcsetattr(m_fd, TCSANOW, &t);
    ::tcflush(m_fd, TCIOFLUSH);
  }
  std::string m_path;
  int m_fd = -1;
};

class CScriptedHost {
public:
  explicit CScriptedHost(CLine& line, int timeoutMs = 2000) : m_line(line), m_timeoutMs(timeoutMs) {}

  // The chip's next protocol answer ('X' or 'Y'), counting 'E' and 'P'
  // ticks and keeping console text on the way; 0 when the chip says nothing.
  uint8_t Answer() {
    uint8_t b = 0;
    while (m_line.Read(&b, m_timeoutMs)) {
      if (b == 'X' || b == 'Y') return b;
      if (b == 'E') ++m_nErase;
      else if (b == 'P') ++m_nProgram;
      else m_console += static_cast<char>(b);
    }
    return 0;
  }

  static Bytes Frame(uint8_t type, const Bytes& payload = {}) { return BuildFrame(type, payload.data(), payload.size()); }
  static Bytes ControlInfo(uint8_t act, uint32_t base, uint32_t length) {
    Bytes p = {act, 1, 1, 0x81};
    for (uint32_t v : {base, length})
      for (int shift = 24; shift >= 0; shift -= 8) p.push_back(static_cast<uint8_t>(v >> shift));
    return Frame(FRAME_CONTROL_INFO, p);
  }
  static Bytes BootBlock(const Bytes& boot) {
    Bytes block(BOOT_BLOCK_SIZE, 0x55);
    std::copy(boot.begin(), boot.end(), block.begin());
    return block;
  }

  // Request, boot block, settings, reopen, loader length and body; true
  // when every acknowledge came.
  bool Download(const Bytes& boot, const Bytes& loader, const Bytes& settings = Bytes(CHIP_SETTINGS_SIZE, 0)) {
    if (Answer() != 'X') return false;
    m_line.Send({BYTE_UPDATE_REPLY});
    m_line.Send(BootBlock(boot));
    if (Answer() != 'X') return false;
    m_line.Send(settings);
    m_line.Reopen();
    const auto n = static_cast<uint32_t>(loader.size());
    m_line.Send({static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8),
                 static_cast<uint8_t>(n)});
    for (size_t at = 0; at < loader.size(); at += 4096)
      m_line.Send(Bytes(loader.begin() + static_cast<ptrdiff_t>(at),
                        loader.begin() + static_cast<ptrdiff_t>(std::min(at + 4096, loader.size()))));
    return Answer() == 'X';
  }

  bool Program(uint32_t base, const Bytes& image) {
    m_line.Send(ControlInfo(0, base, static_cast<uint32_t>(image.size())));
    if (Answer() != 'X') return false;
    for (size_t at = 0; at < image.size(); at += 4096) {
      const size_t n = std::min<size_t>(4096, image.size() - at);
      m_line.Send(Frame(FRAME_APP_DATA, Bytes(image.begin() + static_cast<ptrdiff_t>(at),
                                              image.begin() + static_cast<ptrdiff_t>(at + n))));
      if (Answer() != 'X') return false;
    }
    m_nErase = m_nProgram = 0;
    m_line.Send(Frame(FRAME_ERASE));
    if (Answer() != 'X') return false;
    m_line.Send(Frame(FRAME_PROGRAM));
    return Answer() == 'X';
  }

  bool Erase(uint32_t base, uint32_t length) {
    m_line.Send(ControlInfo(1, base, length));
    if (Answer() != 'X') return false;
    m_nErase = 0;
    m_line.Send(Frame(FRAME_ERASE));
    return Answer() == 'X';
  }

  // Receives the dump as the updater does: 'X' after every 4096 bytes.
  bool Dump(uint32_t base, uint32_t length, Bytes* data) {
    m_line.Send(ControlInfo(2, base, length));
    if (Answer() != 'X') return false;
    m_line.Send(Frame(FRAME_DUMP));
    data->clear();
    uint8_t b = 0;
    while (data->size() < length && m_line.Read(&b, m_timeoutMs)) {
      data->push_back(b);
      if (data->size() % 4096 == 0) m_line.Send({'X'});
    }
    return data->size() == length && Answer() == 'X';
  }

  int m_nErase = 0;
  int m_nProgram = 0;
  std::string m_console;

private:
  CLine& m_line;
  int m_timeoutMs;
};
