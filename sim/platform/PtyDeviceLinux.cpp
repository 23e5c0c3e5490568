// The pseudo-terminal on Linux: posix_openpt, termios for the host's line
// rate, FIONREAD for its unread bytes and TIOCGEXCL for its exclusive mode.
#include "sim/PtyDevice.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace {

std::string Errno(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

int SpeedToBaud(speed_t speed) {
  static const struct {
    speed_t code;
    int baud;
  } kRates[] = {{B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},       {B150, 150},
                {B200, 200},       {B300, 300},       {B600, 600},       {B1200, 1200},     {B1800, 1800},
                {B2400, 2400},     {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
                {B57600, 57600},   {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600}};
  for (const auto& r : kRates)
    if (r.code == speed) return r.baud;
  return 0;
}

}  // namespace

CPtyDevice::~CPtyDevice() { Close(); }

bool CPtyDevice::Open(std::string* error) {
  Close();
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) {
    *error = Errno("posix_openpt");
    return false;
  }
  char name[128];
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) {
    *error = Errno("preparing the pseudo-terminal");
    ::close(master);
    return false;
  }
  // The host may run as another, unprivileged user.
  if (::chmod(name, 0666) != 0) {
    *error = Errno("chmod of the device");
    ::close(master);
    return false;
  }
  const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    *error = Errno("opening the device");
    ::close(master);
    return false;
  }
  // Raw until the host says otherwise: no echo, no line editing, 8 bits.
  struct termios tio {};
  if (::tcgetattr(slave, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    ::tcsetattr(slave, TCSANOW, &tio);
  }
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  m_hMaster = master;
  m_hSlave = slave;
  m_strPath = name;
  return true;
}

bool CPtyDevice::Link(const std::string& path, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status st = fs::symlink_status(path, ec);
  if (fs::exists(st)) {
    if (!fs::is_symlink(st)) {
      *error = path + " exists and is not a symlink";
      return false;
    }
    fs::remove(path, ec);
  }
  fs::create_symlink(m_strPath, path, ec);
  if (ec) {
    *error = "cannot create the symlink " + path + ": " + ec.message();
    return false;
  }
  m_strLink = path;
  return true;
}

void CPtyDevice::Close() {
  if (!m_strLink.empty()) {
    namespace fs = std::filesystem;
    std::error_code ec;
    // Only our own link: another run may have taken the name since.
    if (fs::is_symlink(m_strLink, ec) && fs::read_symlink(m_strLink, ec) == m_strPath) fs::remove(m_strLink, ec);
    m_strLink.clear();
  }
  if (m_hSlave >= 0) ::close(m_hSlave);
  if (m_hMaster >= 0) ::close(m_hMaster);
  m_hSlave = m_hMaster = -1;
}

int CPtyDevice::LineBaud() const {
  struct termios tio {};
  if (m_hSlave < 0 || ::tcgetattr(m_hSlave, &tio) != 0) return 0;
  return SpeedToBaud(::cfgetospeed(&tio));
}

size_t CPtyDevice::UnreadByHost() const {
  int n = 0;
  if (m_hSlave < 0 || ::ioctl(m_hSlave, FIONREAD, &n) != 0 || n < 0) return 0;
  return static_cast<size_t>(n);
}

bool CPtyDevice::ClearExclusive() {
  int exclusive = 0;
  if (m_hSlave >= 0 && ::ioctl(m_hSlave, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
    ::ioctl(m_hSlave, TIOCNXCL);
    return true;
  }
  return false;
}

size_t CPtyDevice::ReadFromHost(uint8_t* out, size_t capacity) {
  const ssize_t n = m_hMaster >= 0 ? ::read(m_hMaster, out, capacity) : -1;
  return n > 0 ? static_cast<size_t>(n) : 0;
}

size_t CPtyDevice::WriteToHost(const uint8_t* data, size_t length) {
  const ssize_t n = m_hMaster >= 0 ? ::write(m_hMaster, data, length) : -1;
  return n > 0 ? static_cast<size_t>(n) : 0;
}

bool CPtyDevice::WaitForHost(int64_t waitNs, bool forWriting) {
  struct pollfd pfd {m_hMaster, static_cast<short>(POLLIN | (forWriting ? POLLOUT : 0)), 0};
  struct timespec ts {static_cast<time_t>(waitNs / 1'000'000'000), static_cast<long>(waitNs % 1'000'000'000)};
  return !(::ppoll(&pfd, 1, &ts, nullptr) > 0 && (pfd.revents & (POLLHUP | POLLERR)) != 0);
}
