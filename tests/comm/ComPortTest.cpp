#include "comm/ComPort.h"

#include "core/Messages.h"
#include "comm/MsgThread.h"
#include "tests/comm/PortFixture.h"
#include "tests/support/Bytes.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <future>
#include <numeric>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

using namespace std::chrono_literals;

namespace {

class ComPortTest : public CPortFixture {
protected:
  // How many notifications of that kind arrive within the time.
  int CountFor(uint32_t message, std::chrono::milliseconds span) {
    int n = 0;
    while (WaitFor(message, span)) ++n;
    return n;
  }
};

TEST_F(ComPortTest, OpensExclusivelyClosesTwiceAndReopens) {
  ASSERT_TRUE(OpenConfigured());
  EXPECT_TRUE(m_port.IsOpen());

  CComPort second;
  second.SetPortName(m_pty.SlavePath());
  EXPECT_FALSE(second.OpenPort());
  EXPECT_EQ(second.LastError(), EBUSY);
  EXPECT_EQ(PortOpenResultFromError(second.LastError()), PortOpenResult::Busy);

  m_port.ClosePort();
  m_port.ClosePort();
  EXPECT_FALSE(m_port.IsOpen());
  uint8_t b = 0;
  EXPECT_EQ(m_port.ReadPort(&b, 1), 0u);
  EXPECT_EQ(m_port.WritePort("x", 1), 0u);
  EXPECT_FALSE(m_port.SetupPort());
  EXPECT_FALSE(m_port.ApplySettingsText("9600,N,8,1"));

  ASSERT_TRUE(OpenConfigured());
  // Opening an open port closes it first and starts over.
  ASSERT_TRUE(OpenConfigured());
  ASSERT_TRUE(m_pty.Send("ok"));
  ASSERT_TRUE(WaitFor(WM_COMM_RXCHAR));
  uint8_t buf[8];
  EXPECT_EQ(m_port.ReadPort(buf, sizeof buf), 2u);
}

TEST_F(ComPortTest, RefusesNonTerminals) {
  TempDir dir;
  const std::string file = dir.Write("plain_file", "data");
  m_port.SetPortName(file);
  EXPECT_FALSE(m_port.OpenPort());
  EXPECT_EQ(m_port.LastError(), ENOTTY);
  EXPECT_EQ(PortOpenResultFromError(m_port.LastError()), PortOpenResult::NotSerial);
  EXPECT_EQ(TempDir::Read(file), "data");
}

TEST_F(ComPortTest, PortNumbersNameTtySAndOutOfRangeIsRefused) {
  EXPECT_FALSE(m_port.SetPortNumber(1025));
  EXPECT_FALSE(m_port.OpenPort());
  EXPECT_FALSE(m_port.IsOpen());
  EXPECT_FALSE(m_port.SetPortNumber(0));
  EXPECT_FALSE(m_port.SetPortNumber(-3));

  EXPECT_TRUE(m_port.SetPortNumber(7));
  EXPECT_EQ(m_port.GetPortName(), "/dev/ttyS6");
  EXPECT_TRUE(m_port.SetPortNumber(1));
  EXPECT_EQ(m_port.GetPortName(), "/dev/ttyS0");

  // A device named by the caller keeps the number its notifications carry.
  m_port.SetPortName(m_pty.SlavePath(), 1024);
  ASSERT_TRUE(m_port.OpenAtBaud(m_pty.SlavePath(), 115200));
  EXPECT_EQ(m_port.GetPortNumber(), 1024);
  ASSERT_TRUE(m_pty.Send("a"));
  auto msg = WaitFor(WM_COMM_RXCHAR);
  ASSERT_TRUE(msg);
  EXPECT_EQ(msg->wParam, 1024u);
}

TEST_F(ComPortTest, LineSettingsFromTextAndOpenAtBaud) {
  ASSERT_TRUE(OpenConfigured());
  serial::LineSettings line;
  // Not a standard rate. (A pseudo-terminal always reports 8 data bits
  // and no parity, whatever it is told, so only rate and stop bits show.)
  ASSERT_TRUE(m_port.ApplySettingsText("250000,E,7,2"));
  ASSERT_TRUE(m_port.GetLineSettings(line));
  EXPECT_EQ(line.baud, 250000u);
  EXPECT_EQ(line.stopBits, serial::TWOSTOPBITS);

  // A malformed text changes nothing and leaves the port open.
  EXPECT_FALSE(m_port.ApplySettingsText("fast,N,8,1"));
  EXPECT_TRUE(m_port.IsOpen());
  ASSERT_TRUE(m_port.GetLineSettings(line));
  EXPECT_EQ(line.baud, 250000u);

  ASSERT_TRUE(m_port.OpenAtBaud(m_pty.SlavePath(), 115200));
  ASSERT_TRUE(m_port.GetLineSettings(line));
  EXPECT_EQ(line.baud, 115200u);
  EXPECT_EQ(line.byteSize, 8);
  EXPECT_EQ(line.parity, serial::NOPARITY);
  EXPECT_EQ(line.stopBits, serial::ONESTOPBIT);
}

TEST_F(ComPortTest, EveryByteValuePassesUnchangedBothWays) {
  ASSERT_TRUE(OpenConfigured());
  std::vector<uint8_t> all(256);
  std::iota(all.begin(), all.end(), 0);
  ASSERT_TRUE(m_pty.Send(all.data(), all.size()));
  std::vector<uint8_t> got;
  const auto deadline = std::chrono::steady_clock::now() + 3s;
  uint8_t buf[512];
  while (got.size() < all.size() && std::chrono::steady_clock::now() < deadline) {
    if (WaitFor(WM_COMM_RXCHAR, 200ms)) {
      const uint32_t n = m_port.ReadPort(buf, sizeof buf);
      got.insert(got.end(), buf, buf + n);
    }
  }
  EXPECT_EQ(got, all);  // no echo, no CR/LF mapping, no XON/XOFF, no signals

  m_port.WritePort(all.data(), static_cast<int32_t>(all.size()));
  EXPECT_EQ(m_pty.Receive(all.size()), all);
}

TEST_F(ComPortTest, ReadTakesAtMostCapacityAndLeavesTheRest) {
  ASSERT_TRUE(OpenConfigured());
  uint8_t buf[4096];
  EXPECT_EQ(m_port.ReadPort(buf, sizeof buf, 10), 0u);  // nothing queued: 0 at once

  const auto sent = Pattern(5000);
  ASSERT_TRUE(m_pty.Send(sent.data(), sent.size()));
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (m_port.InputQueued() < sent.size() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(5ms);
  ASSERT_EQ(m_port.InputQueued(), 5000u);

  ASSERT_EQ(m_port.ReadPort(buf, 4096, 10), 4096u);
  EXPECT_TRUE(std::equal(buf, buf + 4096, sent.begin()));
  EXPECT_EQ(m_port.InputQueued(), 904u);
  ASSERT_EQ(m_port.ReadPort(buf, 4096, 10), 904u);
  EXPECT_TRUE(std::equal(buf, buf + 904, sent.begin() + 4096));
}

TEST_F(ComPortTest, OneReceiveNotificationPerEventAndNoneAfterClose) {
  ASSERT_TRUE(OpenConfigured());
  ASSERT_TRUE(m_pty.Send("0123456789"));
  auto msg = WaitFor(WM_COMM_RXCHAR);
  ASSERT_TRUE(msg);
  EXPECT_EQ(msg->wParam, 5u);
  EXPECT_EQ(msg->lParam, 0);

  // More input before the owner has read: no second notification.
  ASSERT_TRUE(m_pty.Send("abcdefghij"));
  EXPECT_EQ(CountFor(WM_COMM_RXCHAR, 300ms), 0);
  uint8_t buf[64];
  EXPECT_EQ(m_port.ReadPort(buf, sizeof buf), 20u);

  // A read that leaves bytes behind is followed by a new notification.
  ASSERT_TRUE(m_pty.Send("0123456789"));
  ASSERT_TRUE(WaitFor(WM_COMM_RXCHAR));
  EXPECT_EQ(m_port.ReadPort(buf, 4), 4u);
  ASSERT_TRUE(WaitFor(WM_COMM_RXCHAR));
  EXPECT_EQ(m_port.ReadPort(buf, sizeof buf), 6u);
  EXPECT_EQ(CountFor(WM_COMM_RXCHAR, 200ms), 0);

  m_port.ClosePort();
  m_pty.Send("late");
  EXPECT_EQ(CountFor(WM_COMM_RXCHAR, 300ms), 0);
}

TEST_F(ComPortTest, LargeAndBackToBackWritesArriveWholeAndInOrder) {
  ASSERT_TRUE(OpenConfigured());
  std::vector<uint8_t> expected = Pattern(64 * 1024);
  const uint32_t first = m_port.WritePort(expected.data(), static_cast<int32_t>(expected.size()));
  EXPECT_TRUE(first == 0u || first == expected.size());
  // Small writes issued while the big one is still being sent.
  for (uint32_t i = 0; i < 200; ++i) {
    const auto piece = Pattern(97, i);
    m_port.WritePort(piece.data(), static_cast<int32_t>(piece.size()));
    expected.insert(expected.end(), piece.begin(), piece.end());
  }
  // The caller's buffer is not needed after the call.
  std::vector<uint8_t> scratch = Pattern(300, 99);
  m_port.WritePort(scratch.data(), static_cast<int32_t>(scratch.size()));
  expected.insert(expected.end(), scratch.begin(), scratch.end());
  std::fill(scratch.begin(), scratch.end(), 0);

  // The far end reads slowly: 1 KiB at a time with pauses.
  const auto got = m_pty.Receive(expected.size(), 30s, 1024, 2ms);
  ASSERT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);
  EXPECT_TRUE(WaitFor(WM_COMM_TXEMPTY));
}

TEST_F(ComPortTest, FarEndVanishingIsReportedOnceAndPortClosesCleanly) {
  ASSERT_TRUE(OpenConfigured());
  m_pty.CloseMaster();
  auto msg = WaitFor(WM_COMM_LOST);
  ASSERT_TRUE(msg);
  EXPECT_EQ(msg->wParam, 5u);
  EXPECT_EQ(msg->lParam, 0);  // a hang-up, not an I/O error
  EXPECT_EQ(CountFor(WM_COMM_LOST, 300ms), 0);
  EXPECT_EQ(m_port.WritePort("x", 1), 0u);
  m_port.ClosePort();
  EXPECT_FALSE(m_port.IsOpen());
}

TEST_F(ComPortTest, StopMonitorOnlyStopsARunningMonitorAndAllowsARestart) {
  m_port.SetAutoStartMonitor(false);
  ASSERT_TRUE(OpenConfigured());
  EXPECT_FALSE(m_port.StopMonitor(100));  // none runs
  // Without a monitor, reads still see what arrived.
  ASSERT_TRUE(m_pty.Send("xyz"));
  uint8_t buf[8];
  uint32_t n = 0;
  for (int i = 0; i < 300 && n == 0; ++i, std::this_thread::sleep_for(5ms)) n = m_port.ReadPort(buf, sizeof buf);
  EXPECT_EQ(n, 3u);

  EXPECT_TRUE(m_port.StartMonitor());
  EXPECT_FALSE(m_port.StartMonitor());  // one monitor per port
  EXPECT_TRUE(m_port.StopMonitor(100));
  EXPECT_TRUE(m_port.StartMonitor());
  ASSERT_TRUE(m_pty.Send("q"));
  EXPECT_TRUE(WaitFor(WM_COMM_RXCHAR));
}

// A handler that does not return until the test lets it.
class CStuckPort : public CComPort {
public:
  ~CStuckPort() override { ClosePort(); }
  std::promise<void> entered;
  std::promise<void> release;
  std::future<void> enteredFuture = entered.get_future();

protected:
  void OnReceiveEvent() override {
    if (!m_bEntered.exchange(true)) {
      entered.set_value();
      m_releaseFuture.wait();
    }
    CComPort::OnReceiveEvent();
  }

private:
  std::atomic<bool> m_bEntered{false};
  std::shared_future<void> m_releaseFuture = release.get_future().share();
};

TEST_F(ComPortTest, CloseDoesNotWaitLongerThanGraceForAStuckMonitor) {
  CStuckPort port;
  port.SetNotifyThreadId(m_id);
  port.SetPortName(m_pty.SlavePath(), 9);
  ASSERT_TRUE(port.OpenPort() && port.SetupPort());
  ASSERT_TRUE(m_pty.Send("z"));
  ASSERT_EQ(port.enteredFuture.wait_for(3s), std::future_status::ready);

  const auto t0 = std::chrono::steady_clock::now();
  port.ClosePort();
  const auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_FALSE(port.IsOpen());
  EXPECT_LT(took, 2s);  // bounded by the grace time, not by the handler

  port.release.set_value();
  // The late monitor posts nothing and gives the device back: it can be
  // opened again.
  ASSERT_TRUE(port.OpenPort());
  EXPECT_EQ(CountFor(WM_COMM_RXCHAR, 200ms), 0);
  port.ClosePort();
}

// Exclusive use must not outlive the port: a pseudo-terminal that another
// process keeps open (as the simulator does) has to be reopenable by an
// ordinary user, who, unlike root, is bound by the terminal's exclusive flag.
TEST(ComPortUserTest, OrdinaryUserReopensADeviceAnotherProcessHolds) {
  CPtyPair pty;
  ASSERT_TRUE(pty.Valid());
  const int holder = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::chmod(pty.SlavePath().c_str(), 0666), 0);

  int toParent[2];
  int toChild[2];
  ASSERT_EQ(pipe(toParent), 0);
  ASSERT_EQ(pipe(toChild), 0);
  const bool asRoot = geteuid() == 0;
  const pid_t pid = asRoot ? fork() : 0;
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The child reports failures as bits of its exit code.
    int fails = 0;
    if (asRoot && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(0x80);
    {
      CComPort a;
      if (!a.OpenAtBaud(pty.SlavePath(), 115200)) fails |= 0x01;
      CComPort b;
      b.SetPortName(pty.SlavePath());
      if (b.OpenPort()) fails |= 0x02;
      char c = 'o';
      if (asRoot) {
        [[maybe_unused]] auto w = write(toParent[1], &c, 1);  // the parent now tries too
        [[maybe_unused]] auto r = read(toChild[0], &c, 1);
      }
      a.ClosePort();
      if (!a.OpenAtBaud(pty.SlavePath(), 115200)) fails |= 0x04;
      a.ClosePort();
      if (!a.OpenAtBaud(pty.SlavePath(), 9600)) fails |= 0x08;
    }
    if (asRoot) _exit(fails);
    EXPECT_EQ(fails, 0);
  } else {
    char c = 0;
    ASSERT_EQ(read(toParent[0], &c, 1), 1);
    CComPort other;  // another program, as root: still kept out by the lock
    other.SetPortName(pty.SlavePath());
    EXPECT_FALSE(other.OpenPort());
    ASSERT_EQ(write(toChild[1], &c, 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "failure bits: 0x" << std::hex << WEXITSTATUS(status);
  }
  for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1], holder}) ::close(fd);
}

TEST_F(ComPortTest, ReopenAtANewRateKeepsThePortLockedAndWorking) {
  ASSERT_TRUE(m_port.OpenAtBaud(m_pty.SlavePath(), 9600));
  // Another program keeps trying to take the port while it changes rate.
  std::atomic<bool> stop{false};
  std::atomic<int> stolen{0};
  std::thread rival([&] {
    CComPort other;
    other.SetAutoStartMonitor(false);
    other.SetPortName(m_pty.SlavePath());
    while (!stop.load()) {
      if (other.OpenPort()) {
        ++stolen;
        other.ClosePort();
      }
    }
  });
  int reopened = 0;
  for (int i = 0; i < 2000; ++i) reopened += m_port.ReopenAtBaud(i % 2 ? 9600 : 115200) ? 1 : 0;
  stop.store(true);
  rival.join();
  EXPECT_EQ(stolen.load(), 0);
  EXPECT_EQ(reopened, 2000);

  serial::LineSettings line;
  ASSERT_TRUE(m_port.ReopenAtBaud(115200));
  ASSERT_TRUE(m_port.GetLineSettings(line));
  EXPECT_EQ(line.baud, 115200u);
  ASSERT_TRUE(m_pty.Send("z"));
  ASSERT_TRUE(WaitFor(WM_COMM_RXCHAR));  // the monitor runs again
  char c = 0;
  EXPECT_EQ(m_port.ReadPort(&c, 1, 10), 1u);
  EXPECT_EQ(c, 'z');
}

}  // namespace
