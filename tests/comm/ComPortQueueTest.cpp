// What the port tells about its queues: output not yet gone out, and input
// dropped on request (the update's start).
#include "comm/ComPort.h"

#include "core/Messages.h"
#include "comm/MsgThread.h"
#include "tests/comm/PtyPair.h"
#include "tests/support/Bytes.h"

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;

namespace {

class ComPortQueueTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(m_pty.Valid());
    m_queue = std::make_shared<CMessageQueue>();
    m_id = RegisterMessageQueue(m_queue);
    m_port.SetNotifyThreadId(m_id);
    m_port.SetPortName(m_pty.SlavePath(), 5);
    ASSERT_TRUE(m_port.OpenPort() && m_port.SetupPort() && m_port.ApplySettingsText("115200,N,8,1"));
  }
  void TearDown() override {
    m_port.ClosePort();
    UnregisterMessageQueue(m_id);
  }
  bool WaitFor(uint32_t message, std::chrono::milliseconds limit = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    ThreadMessage msg;
    while (m_queue->GetUntil(msg, deadline))
      if (msg.message == message) return true;
    return false;
  }

  CPtyPair m_pty;
  std::shared_ptr<CMessageQueue> m_queue;
  uint32_t m_id = 0;
  CComPort m_port;
};

TEST_F(ComPortQueueTest, OutputQueuedCountsWhatHasNotLeftUntilTheFarEndTakesIt) {
  EXPECT_EQ(m_port.OutputQueued(), 0u);
  // More than a pseudo-terminal holds while its far end reads nothing.
  const Bytes data = Pattern(64 * 1024);
  m_port.WritePort(data.data(), static_cast<int32_t>(data.size()));
  EXPECT_GT(m_port.OutputQueued(), 0u);
  EXPECT_LE(m_port.OutputQueued(), data.size());
  EXPECT_EQ(m_pty.Receive(data.size(), 10s).size(), data.size());
  EXPECT_TRUE(WaitFor(WM_COMM_TXEMPTY));
  EXPECT_EQ(m_port.OutputQueued(), 0u);
  m_port.ClosePort();
  EXPECT_EQ(m_port.OutputQueued(), 0u);
}

TEST_F(ComPortQueueTest, DiscardInputDropsWhatArrivedBeforeAndKeepsWhatComesAfter) {
  ASSERT_TRUE(m_pty.Send("old banner X"));
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (m_port.InputQueued() < 12 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
  ASSERT_EQ(m_port.InputQueued(), 12u);
  m_port.DiscardInput();
  EXPECT_EQ(m_port.InputQueued(), 0u);
  ASSERT_TRUE(m_pty.Send("X"));
  uint8_t buf[16] = {};
  uint32_t got = 0;
  while (got == 0 && std::chrono::steady_clock::now() < deadline + 5s) {
    got = m_port.ReadPort(buf, sizeof buf);
    if (got == 0) std::this_thread::sleep_for(5ms);
  }
  ASSERT_EQ(got, 1u);
  EXPECT_EQ(buf[0], 'X');
}

}  // namespace
