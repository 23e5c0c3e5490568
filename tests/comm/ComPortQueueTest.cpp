// What the port tells about its queues: output not yet gone out, and input
// dropped on request (the update's start).
#include "comm/ComPort.h"

#include "core/Messages.h"
#include "comm/MsgThread.h"
#include "tests/comm/PortFixture.h"
#include "tests/support/Bytes.h"

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;

namespace {

class ComPortQueueTest : public CPortFixture {
protected:
  void SetUp() override {
    CPortFixture::SetUp();
    ASSERT_TRUE(OpenConfigured());
  }
};

TEST_F(ComPortQueueTest, OutputQueuedCountsWhatHasNotLeftUntilTheFarEndTakesIt) {
  EXPECT_EQ(m_port.OutputQueued(), 0u);
  // More than a pseudo-terminal holds while its far end reads nothing.
  const Bytes data = Pattern(64 * 1024);
  m_port.WritePort(data.data(), static_cast<int32_t>(data.size()));
  EXPECT_GT(m_port.OutputQueued(), 0u);
  EXPECT_LE(m_port.OutputQueued(), data.size());
  EXPECT_EQ(m_pty.Receive(data.size(), 10s).size(), data.size());
  EXPECT_TRUE(WaitFor(WM_COMM_TXEMPTY, 5s));
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
