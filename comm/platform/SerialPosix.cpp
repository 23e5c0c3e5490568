// Serial devices over POSIX termios (Linux): exclusive open, raw line and
// non-blocking transfers. The monitor's wait is in SerialWaiterPosix.cpp.
#include "comm/platform/SerialPlatform.h"
#include "SerialSpeedLinux.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace serial {

namespace {

int Fd(PortHandle h) { return static_cast<int>(h); }

void MakeRaw(termios& t) {
  cfmakeraw(&t);
  // Modem lines do not gate the line (CLOCAL), the receiver is on, and
  // neither hardware nor software flow control is used.
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~CRTSCTS;
  t.c_iflag &= ~(IXON | IXOFF | IXANY);
  // With O_NONBLOCK a read returns at once with whatever is there; VMIN 1
  // (not 0) makes "nothing there" an EAGAIN, so that a read of 0 bytes can
  // only mean end of file.
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
}

}  // namespace

std::string DeviceNameForNumber(int32_t n) { return "/dev/ttyS" + std::to_string(n - 1); }

PortHandle OpenDevice(const std::string& path, int& err) {
  err = 0;
  if (path.empty()) {
    err = ENOENT;
    return kNoPort;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    err = errno;  // EBUSY here: another holder has set exclusive mode
    return kNoPort;
  }
  termios t{};
  if (!isatty(fd) || tcgetattr(fd, &t) != 0) {
    // Never treat a plain file or some other device as a serial line: a
    // write to it would do damage.
    err = ENOTTY;
    ::close(fd);
    return kNoPort;
  }
  // The advisory lock keeps out every co-operating program, root included;
  // TIOCEXCL keeps out further opens by anyone but root.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    err = (errno == EWOULDBLOCK) ? EBUSY : errno;
    ::close(fd);
    return kNoPort;
  }
  if (ioctl(fd, TIOCEXCL) != 0) {
    err = errno;
    ::close(fd);
    return kNoPort;
  }
  MakeRaw(t);
  if (tcsetattr(fd, TCSANOW, &t) != 0) {
    err = errno;
    CloseDevice(fd);
    return kNoPort;
  }
  return fd;
}

void CloseDevice(PortHandle h) {
  if (h == kNoPort) return;
  // Exclusive mode belongs to the terminal, not to our descriptor: if another
  // holder keeps the device open (a simulator's pseudo-terminal), it would
  // outlive us and refuse every later open by an ordinary user.
  ioctl(Fd(h), TIOCNXCL);
  flock(Fd(h), LOCK_UN);
  ::close(Fd(h));
}

bool PurgeDevice(PortHandle h, bool input, bool output) {
  if (!input && !output) return true;
  const int which = (input && output) ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
  return tcflush(Fd(h), which) == 0;
}

bool GetLine(PortHandle h, LineSettings& out) {
  termios t{};
  uint32_t baud = 0;
  if (tcgetattr(Fd(h), &t) != 0 || !linux_speed::GetSpeed(Fd(h), baud)) return false;
  out.baud = baud;
  switch (t.c_cflag & CSIZE) {
    case CS5: out.byteSize = 5; break;
    case CS6: out.byteSize = 6; break;
    case CS7: out.byteSize = 7; break;
    default: out.byteSize = 8; break;
  }
  if (!(t.c_cflag & PARENB)) {
    out.parity = NOPARITY;
  } else if (t.c_cflag & CMSPAR) {
    out.parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
  } else {
    out.parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
  }
  if (!(t.c_cflag & CSTOPB)) {
    out.stopBits = ONESTOPBIT;
  } else {
    out.stopBits = (out.byteSize == 5) ? ONE5STOPBITS : TWOSTOPBITS;
  }
  return true;
}

bool SetLine(PortHandle h, const LineSettings& line) {
  // The combinations a UART can make: 1.5 stop bits only with 5 data bits,
  // 2 stop bits only with 6 to 8.
  if (line.byteSize < 5 || line.byteSize > 8 || line.parity > SPACEPARITY || line.stopBits > TWOSTOPBITS ||
      line.baud == 0)
    return false;
  if (line.stopBits == ONE5STOPBITS && line.byteSize != 5) return false;
  if (line.stopBits == TWOSTOPBITS && line.byteSize == 5) return false;

  termios t{};
  if (tcgetattr(Fd(h), &t) != 0) return false;
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= kSizes[line.byteSize - 5] | CLOCAL | CREAD;
  t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
  switch (line.parity) {
    case ODDPARITY: t.c_cflag |= PARENB | PARODD; break;
    case EVENPARITY: t.c_cflag |= PARENB; break;
    case MARKPARITY: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case SPACEPARITY: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  // With parity on, let the driver check it so that errors are counted.
  if (line.parity != NOPARITY) t.c_iflag |= INPCK;
  if (line.stopBits != ONESTOPBIT) t.c_cflag |= CSTOPB;
  if (tcsetattr(Fd(h), TCSANOW, &t) != 0) return false;
  return linux_speed::SetSpeed(Fd(h), line.baud);
}

long ReadDevice(PortHandle h, void* buf, size_t n, int& err) {
  err = 0;
  for (;;) {
    const ssize_t got = ::read(Fd(h), buf, n);
    if (got > 0) return static_cast<long>(got);
    if (got == 0) {
      // O_NONBLOCK turns "nothing there" into EAGAIN, so 0 is end of file:
      // the line has been hung up.
      if (n == 0) return 0;
      err = EIO;
      return -1;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    err = errno;
    return -1;
  }
}

long WriteDevice(PortHandle h, const void* buf, size_t n, int& err) {
  err = 0;
  for (;;) {
    const ssize_t put = ::write(Fd(h), buf, n);
    if (put >= 0) return static_cast<long>(put);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    err = errno;
    return -1;
  }
}

bool GetErrorCounts(PortHandle h, LineErrorCounts& out) {
  serial_icounter_struct ic{};
  if (ioctl(Fd(h), TIOCGICOUNT, &ic) != 0) return false;
  out.frame = static_cast<uint32_t>(ic.frame);
  out.overrun = static_cast<uint32_t>(ic.overrun);
  out.parity = static_cast<uint32_t>(ic.parity);
  out.brk = static_cast<uint32_t>(ic.brk);
  out.bufOverrun = static_cast<uint32_t>(ic.buf_overrun);
  return true;
}

bool GetModemStatus(PortHandle h, uint32_t& msFlags) {
  int bits = 0;
  if (ioctl(Fd(h), TIOCMGET, &bits) != 0) return false;
  msFlags = 0;
  if (bits & TIOCM_CTS) msFlags |= MS_CTS_ON;
  if (bits & TIOCM_DSR) msFlags |= MS_DSR_ON;
  if (bits & TIOCM_RNG) msFlags |= MS_RING_ON;
  if (bits & TIOCM_CAR) msFlags |= MS_RLSD_ON;
  return true;
}

bool OutputPending(PortHandle h, size_t& bytes) {
  int queued = 0;
  if (ioctl(Fd(h), TIOCOUTQ, &queued) != 0 || queued < 0) return false;
  bytes = static_cast<size_t>(queued);
  return true;
}

}  // namespace serial
