// The monitor's wait on a serial device over POSIX: poll() with an eventfd
// to wake it, and the gathering of input into blocks.
#include "comm/platform/SerialPlatform.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace serial {

namespace {
int Fd(PortHandle h) { return static_cast<int>(h); }
}  // namespace

CPortWaiter::CPortWaiter() : m_hWake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CPortWaiter::~CPortWaiter() {
  if (m_hWake >= 0) ::close(static_cast<int>(m_hWake));
}

bool CPortWaiter::IsValid() const { return m_hWake >= 0; }

void CPortWaiter::Wake() {
  const uint64_t one = 1;
  // A full counter (never in practice) still leaves the fd readable.
  [[maybe_unused]] ssize_t rc = ::write(static_cast<int>(m_hWake), &one, sizeof one);
}

void CPortWaiter::Reset() {
  uint64_t count = 0;
  [[maybe_unused]] ssize_t rc = ::read(static_cast<int>(m_hWake), &count, sizeof count);
}

namespace {

constexpr int64_t kNsPerMs = 1'000'000;
// A line that brings nothing new for this long after a wake-up has said what
// it had to say (a lone acknowledge): it is handed on without the rest of
// the gather time.
constexpr int64_t kQuietNs = 1 * kNsPerMs;
// As many bytes gathered as this mean a stream is coming in.
constexpr size_t kFlowingBytes = 16;

int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

size_t Queued(int fd) {
  int n = 0;
  return ioctl(fd, FIONREAD, &n) == 0 && n > 0 ? static_cast<size_t>(n) : 0;
}

// What poll() said of the device, as CPortWaiter bits; `err` set with kError.
uint32_t DeviceEvents(short rev, int& err) {
  uint32_t result = 0;
  if (rev & POLLIN) result |= CPortWaiter::kReadable;
  if (rev & POLLOUT) result |= CPortWaiter::kWritable;
  if (rev & POLLHUP) result |= CPortWaiter::kHangup;
  // A hang-up often comes with POLLERR as well; it is still a hang-up.
  if ((rev & POLLERR) && !(rev & POLLHUP)) {
    result |= CPortWaiter::kError;
    err = EIO;
  }
  if (rev & POLLNVAL) {
    result |= CPortWaiter::kError;
    err = EBADF;
  }
  return result;
}

// Sleeps on the wake-up descriptor and, when `devFd` is not negative, on the
// device's hang-up and errors: bytes on the line do not end it. kWoken (or
// the device's trouble) when that ended it, 0 when the time ran out,
// kFailed with `err`.
uint32_t SleepUnlessWoken(CPortWaiter& waiter, int wakeFd, int devFd, int64_t ns, int& err) {
  if (ns <= 0) return 0;
  pollfd fds[2] = {{wakeFd, POLLIN, 0}, {devFd, 0, 0}};
  const int64_t until = NowNs() + ns;
  for (;;) {
    const int64_t left = std::max<int64_t>(0, until - NowNs());
    timespec ts{static_cast<time_t>(left / 1'000'000'000), static_cast<long>(left % 1'000'000'000)};
    const int rc = ::ppoll(fds, devFd < 0 ? 1 : 2, &ts, nullptr);
    if (rc > 0) {
      uint32_t result = 0;
      if (fds[0].revents & POLLIN) {
        waiter.Reset();
        result |= CPortWaiter::kWoken;
      }
      return result | DeviceEvents(fds[1].revents, err);
    }
    if (rc == 0) return 0;
    if (errno != EINTR) {
      err = errno;
      return CPortWaiter::kFailed;
    }
  }
}

// One poll of the wake-up descriptor and the device.
uint32_t PollOnce(CPortWaiter& waiter, int wakeFd, PortHandle h, bool watchInput, bool watchOutput, int timeoutMs,
                  int& err) {
  pollfd fds[2] = {};
  fds[0].fd = wakeFd;
  fds[0].events = POLLIN;
  // A negative fd makes poll() skip the entry; with events 0 the device
  // still reports hang-up and errors.
  fds[1].fd = (h == kNoPort) ? -1 : Fd(h);
  fds[1].events = static_cast<short>((watchInput ? POLLIN : 0) | (watchOutput ? POLLOUT : 0));
  for (;;) {
    const int rc = ::poll(fds, 2, timeoutMs < 0 ? -1 : timeoutMs);
    if (rc >= 0) break;
    if (errno != EINTR) {
      err = errno;
      return CPortWaiter::kFailed;
    }
  }
  uint32_t result = 0;
  if (fds[0].revents & POLLIN) {
    waiter.Reset();
    result |= CPortWaiter::kWoken;
  }
  return result | DeviceEvents(fds[1].revents, err);
}

// The first byte has woken us: give the rest of its block a moment to come.
// A line that stays quiet for kQuietNs is handed on at once. `flowing` tells
// whether a stream is coming in.
uint32_t Gather(CPortWaiter& waiter, int wakeFd, int fd, bool& flowing, int& err) {
  const int64_t start = NowNs();
  const size_t first = Queued(fd);
  flowing = false;
  uint32_t slept = SleepUnlessWoken(waiter, wakeFd, -1, kQuietNs, err);
  if (slept != 0 || Queued(fd) == first) return slept;
  slept = SleepUnlessWoken(waiter, wakeFd, -1, start + CPortWaiter::kGatherMs * kNsPerMs - NowNs(), err);
  flowing = slept == 0 && Queued(fd) >= kFlowingBytes;
  return slept;
}

// Line time of `bytes` of an expected stream.
int64_t DueNs(const ExpectedInput& expected, size_t bytes) {
  return static_cast<int64_t>(std::min<size_t>(bytes, expected.bytes)) * expected.byteNs;
}

// Bytes of an expected stream are owed: sleep until they are due at the
// line's rate, for at most kOwedGatherMs in all, without waking on each
// byte. Ends as soon as they are all there; when the rest would come within
// the quiet time anyway (what is here is handed on, the next wait catches
// the rest); or when a sleep brought nothing, for a stream that stops is
// for the owner to judge, not held back here.
uint32_t GatherOwed(CPortWaiter& waiter, int wakeFd, int fd, const ExpectedInput& expected, int& err) {
  const int64_t endBy = NowNs() + CPortWaiter::kOwedGatherMs * kNsPerMs;
  size_t queued = Queued(fd);
  while (queued < expected.bytes) {
    const int64_t dueNs = DueNs(expected, expected.bytes - queued);
    const int64_t left = endBy - NowNs();
    if (left <= 0 || (queued > 0 && dueNs < kQuietNs)) break;
    const uint32_t slept = SleepUnlessWoken(waiter, wakeFd, fd, std::min(std::max(dueNs, kQuietNs), left), err);
    const size_t now = Queued(fd);
    if (slept != 0) return slept | (now > 0 ? uint32_t{CPortWaiter::kReadable} : 0u);
    if (now == queued) break;
    queued = now;
  }
  return queued > 0 ? uint32_t{CPortWaiter::kReadable} : 0u;
}

}  // namespace

uint32_t CPortWaiter::Wait(PortHandle h, bool watchInput, bool watchOutput, int& err, int timeoutMs,
                           const ExpectedInput& expected) {
  err = 0;
  const int wakeFd = static_cast<int>(m_hWake);
  // Output to drain is not held up: input gathers only while none waits.
  const bool gather = h != kNoPort && watchInput && !watchOutput;
  if (!gather) m_bInputFlowing = false;
  if (gather && expected.bytes > 0 && expected.byteNs > 0) return WaitOwed(h, err, expected);
  if (gather && m_bInputFlowing) {
    // A stream is coming in: let the next block of it gather without waking
    // on each byte, then take whatever the line reports.
    const uint32_t slept = SleepUnlessWoken(*this, wakeFd, -1, kGatherMs * kNsPerMs, err);
    if (slept & kFailed) return slept;
    const size_t queued = Queued(Fd(h));
    m_bInputFlowing = queued >= kFlowingBytes;
    // Nothing came: the stream has ended, or the line hung up, which the
    // poll below reports.
    if (queued > 0) return slept | kReadable;
    if (slept != 0) return slept;
  }
  const uint32_t ready = PollOnce(*this, wakeFd, h, watchInput, watchOutput, timeoutMs, err);
  if (!gather || ready != kReadable) return ready;
  return ready | Gather(*this, wakeFd, Fd(h), m_bInputFlowing, err);
}

uint32_t CPortWaiter::WaitOwed(PortHandle h, int& err, const ExpectedInput& expected) {
  const int wakeFd = static_cast<int>(m_hWake);
  // The owed block ends the stream: what follows it is a lone reply.
  m_bInputFlowing = false;
  // Sleeping first is worth it once the owed bytes take longer than the
  // quiet time to come; a sleep that brought nothing leaves it to the poll.
  if (Queued(Fd(h)) > 0 || DueNs(expected, expected.bytes) >= kQuietNs) {
    const uint32_t got = GatherOwed(*this, wakeFd, Fd(h), expected, err);
    if (got != 0) return got;
  }
  const uint32_t ready = PollOnce(*this, wakeFd, h, true, false, -1, err);
  if (ready != kReadable) return ready;
  return ready | GatherOwed(*this, wakeFd, Fd(h), expected, err);
}

}  // namespace serial
