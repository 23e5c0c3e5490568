// A port whose far end stops reading, and a monitor whose wait fails: both
// are reported as the port lost, as for an unplugged adapter.
#include "comm/ComPort.h"

#include "comm/MsgThread.h"
#include "core/Messages.h"
#include "tests/comm/PortFixture.h"
#include "tests/support/Process.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>
#include <sys/resource.h>

using namespace std::chrono_literals;

namespace {

// The sanitizers' runtimes open files of their own (type information, maps),
// which a process limited to one descriptor cannot give them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kUnderSanitizer = true;
#else
constexpr bool kUnderSanitizer = false;
#endif

class ComPortFailureTest : public CPortFixture {
protected:
  void SetUp() override {
    CPortFixture::SetUp();
    ASSERT_TRUE(OpenConfigured());
  }
  // Writes until the driver is full and a little of the last write stays
  // queued: the terminal layer may find room again a moment after it said
  // it had none, so the queue must still hold bytes a while later.
  void FillTheLine() {
    const std::vector<uint8_t> chunk(512, 0x5A);
    for (int i = 0; i < 4096; ++i) {
      if (m_port.WritePort(chunk.data(), static_cast<int32_t>(chunk.size())) != 0) continue;
      std::this_thread::sleep_for(100ms);
      if (m_port.WritePort("z", 1) == 0) return;  // still queued: the far end is full
    }
    FAIL() << "the driver never filled up";
  }
  // Reads everything the port sent so far.
  void DrainFarEnd() {
    uint8_t buf[65536];
    while (::read(m_pty.Master(), buf, sizeof buf) > 0) {
    }
  }

};

TEST_F(ComPortFailureTest, OutputThatStopsMovingEndsAsPortLost) {
  FillTheLine();
  const auto start = std::chrono::steady_clock::now();
  auto lost = WaitFor(WM_COMM_LOST, 5s);
  ASSERT_TRUE(lost.has_value());
  // At least the fixed second, at most that and a millisecond a queued byte.
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 700ms);
  EXPECT_LT(took, 2500ms);
  EXPECT_EQ(lost->lParam, ETIMEDOUT);
  EXPECT_EQ(lost->wParam, 5u);
  EXPECT_EQ(m_port.WritePort("x", 1), 0u);
  EXPECT_FALSE(WaitFor(WM_COMM_LOST, 300ms).has_value());  // once per open
}

TEST_F(ComPortFailureTest, SlowButMovingOutputIsNotLost) {
  FillTheLine();
  // The far end reads every 400 ms: the queue moves, however slowly.
  for (int i = 0; i < 6; ++i) {
    EXPECT_FALSE(WaitFor(WM_COMM_LOST, 400ms).has_value()) << "after " << i;
    DrainFarEnd();
    const uint8_t more[256] = {};
    m_port.WritePort(more, sizeof more);
  }
  // Everything goes out in the end: then a write goes straight to the driver.
  for (int i = 0; i < 5; ++i) {
    std::this_thread::sleep_for(100ms);
    DrainFarEnd();
  }
  EXPECT_EQ(m_port.WritePort("x", 1), 1u);
  EXPECT_FALSE(WaitFor(WM_COMM_LOST, 1500ms).has_value());
}

TEST_F(ComPortFailureTest, OverfullOutputQueueEndsAsPortLostAtOnce) {
  FillTheLine();
  // The driver may find room for part of the first write; the second
  // cannot fit the queue whatever the driver took.
  const std::vector<uint8_t> big(CComPort::OUTPUT_QUEUE_SIZE, 1);
  EXPECT_EQ(m_port.WritePort(big.data(), static_cast<int32_t>(big.size())), 0u);
  EXPECT_EQ(m_port.WritePort(big.data(), static_cast<int32_t>(big.size())), 0u);
  const auto start = std::chrono::steady_clock::now();
  auto lost = WaitFor(WM_COMM_LOST, 5s);
  ASSERT_TRUE(lost.has_value());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
  EXPECT_EQ(lost->lParam, ETIMEDOUT);
}

TEST(ComPortMonitorTest, FailedWaitIsReportedAsPortLost) {
  if (kUnderSanitizer) GTEST_SKIP() << "a sanitizer's runtime needs descriptors of its own";
  // In a child of its own: the wait fails once the process may hold fewer
  // descriptors than the wait watches.
  const int result = RunInChildProcess([] {
    CPtyPair pty;
    auto queue = std::make_shared<CMessageQueue>();
    const uint32_t id = RegisterMessageQueue(queue);
    CComPort port;
    port.SetNotifyThreadId(id);
    port.SetPortName(pty.SlavePath(), 7);
    if (!pty.Valid() || !port.OpenPort()) return 10;
    rlimit one{1, 1};
    if (::setrlimit(RLIMIT_NOFILE, &one) != 0) return 11;
    pty.Send("x");  // the monitor wakes, handles the byte and waits again
    ThreadMessage msg;
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (queue->GetUntil(msg, deadline))
      if (msg.message == WM_COMM_LOST) return msg.wParam == 7 && msg.lParam == EINVAL ? 0 : 12;
    return 13;
  });
  EXPECT_EQ(result, 0);
}

}  // namespace
