// Files, the program's path and local time on a POSIX system (Linux).
#include "core/platform/HostFiles.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace host {

namespace {

// Opens without waiting (a FIFO would block until a writer came) and keeps
// only regular files; -1 with `err` set otherwise.
int OpenRegular(const std::string& path, int& err) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    err = errno;
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    err = EISDIR;
    ::close(fd);
    return -1;
  }
  return fd;
}

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool ReadRegularFile(const std::string& path, std::string& out) {
  out.clear();
  int err = 0;
  const int fd = OpenRegular(path, err);
  if (fd < 0) return false;
  char buf[65536];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return ok;
}

bool RegularFileSize(const std::string& path, uint64_t& size, int& err) {
  err = 0;
  const int fd = OpenRegular(path, err);
  if (fd < 0) return false;
  struct stat st {};
  const bool ok = ::fstat(fd, &st) == 0;
  if (ok) size = static_cast<uint64_t>(st.st_size);
  else err = errno;
  ::close(fd);
  return ok;
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool RecordedSize(const std::string& path, uint64_t& size) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  size = static_cast<uint64_t>(st.st_size);
  return true;
}

int AccessError(const std::string& path, Access what) {
  const int mode = what == Access::Read ? R_OK : what == Access::Write ? W_OK : R_OK | W_OK;
  return ::access(path.c_str(), mode) == 0 ? 0 : errno;
}

bool CreateEmptyFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool ReplaceFileWith(const std::filesystem::path& target, const std::string& data) {
  const std::string tmpl = target.string() + ".XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  mode_t mode = 0644;
  if (::stat(target.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
    // Keep the owner where we may (a root-run write must not take the file).
    if (::fchown(fd, st.st_uid, st.st_gid) != 0) { /* an ordinary user keeps its own */ }
  }
  ::fchmod(fd, mode);
  bool ok = WriteAll(fd, data);
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(name.data(), target.c_str()) != 0) ok = false;
  if (!ok) ::unlink(name.data());
  return ok;
}

bool MoveFileOver(const std::string& source, const std::string& target, std::string& error) {
  // The source is opened without following a link: what is moved is a file
  // of ours, never something a link points to.
  const int fd = ::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = fd < 0 ? std::strerror(errno) : "not a regular file";
    if (fd >= 0) ::close(fd);
    return false;
  }
  struct stat old {};
  if (::stat(target.c_str(), &old) == 0) {
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) { /* an ordinary user keeps its own */ }
    ::fchmod(fd, old.st_mode & 07777);
  }
  const bool synced = ::fsync(fd) == 0;
  const int syncErr = errno;
  ::close(fd);
  if (!synced) {
    error = std::strerror(syncErr);
    return false;
  }
  if (::rename(source.c_str(), target.c_str()) != 0) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

std::string FileGroupName(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  group entry{};
  group* found = nullptr;
  char buffer[4096];
  if (::getgrgid_r(st.st_gid, &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr) return {};
  return found->gr_name;
}

std::filesystem::path ExecutablePath() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : exe;
}

bool LocalTime(std::time_t t, std::tm& out) { return ::localtime_r(&t, &out) != nullptr; }

bool UtcTime(std::time_t t, std::tm& out) { return ::gmtime_r(&t, &out) != nullptr; }

}  // namespace host
