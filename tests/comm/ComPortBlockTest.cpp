// Input that trickles in byte by byte reaches the port's owner in blocks:
// one notification per gathered block, the bytes whole and in order.
#include "comm/ComPort.h"

#include "core/Messages.h"
#include "tests/comm/PortFixture.h"
#include "tests/support/Bytes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <thread>

using namespace std::chrono_literals;

namespace {

class ComPortBlockTest : public CPortFixture {
protected:
  // Sends `bytes` a few at a time, each piece after a short pause, the way
  // a UART hands on what its FIFO holds. Returns how long it took.
  std::chrono::steady_clock::duration Trickle(const Bytes& bytes, size_t piece) {
    const auto start = std::chrono::steady_clock::now();
    for (size_t at = 0; at < bytes.size(); at += piece) {
      const size_t n = std::min(piece, bytes.size() - at);
      EXPECT_TRUE(m_pty.Send(bytes.data() + at, n));
      std::this_thread::sleep_for(100us);
    }
    return std::chrono::steady_clock::now() - start;
  }

  // Sends `bytes` as a UART at 115200 baud hands them on: 11 every millisecond.
  std::chrono::steady_clock::duration AtLineRate(const Bytes& bytes) {
    const auto start = std::chrono::steady_clock::now();
    for (size_t at = 0; at < bytes.size(); at += 11) {
      EXPECT_TRUE(m_pty.Send(bytes.data() + at, std::min<size_t>(11, bytes.size() - at)));
      std::this_thread::sleep_until(start + (at / 11 + 1) * 1ms);
    }
    return std::chrono::steady_clock::now() - start;
  }

  // Reads on every receive notification until `want` bytes have come;
  // counts the notifications that brought something.
  Bytes Collect(size_t want, int& blocks) {
    Bytes got;
    uint8_t buf[4096];
    blocks = 0;
    while (got.size() < want) {
      if (!WaitFor(WM_COMM_RXCHAR, 3s)) break;
      const uint32_t n = m_port.ReadPort(buf, sizeof buf);
      if (n > 0) ++blocks;
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }
};

TEST_F(ComPortBlockTest, TrickledStreamArrivesInFewWholeBlocks) {
  ASSERT_TRUE(OpenConfigured());
  const Bytes sent = Pattern(3000, 7);
  std::chrono::steady_clock::duration took{};
  std::thread sender([&] { took = Trickle(sent, 2); });
  int blocks = 0;
  const Bytes got = Collect(sent.size(), blocks);
  sender.join();
  EXPECT_EQ(got, sent);
  // A block per gather time at most (and a few for start and end), not one
  // per piece sent: 1500 pieces went out.
  const auto gathers = std::chrono::duration_cast<std::chrono::milliseconds>(took).count() /
                       serial::CPortWaiter::kGatherMs;
  EXPECT_LE(blocks, gathers + 6) << "over " << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
                                 << " ms";
  EXPECT_LT(blocks, 1500 / 4);
}

TEST_F(ComPortBlockTest, LoneBytesAndAStreamAfterThemAllArrive) {
  ASSERT_TRUE(OpenConfigured());
  // Lone replies with quiet between them: each is handed on by itself.
  for (uint8_t b : {'X', 'Y', 'X'}) {
    ASSERT_TRUE(m_pty.Send(&b, 1));
    int blocks = 0;
    EXPECT_EQ(Collect(1, blocks), Bytes{b});
    EXPECT_EQ(blocks, 1);
  }
  // Then a stream, then a lone byte again once the stream has ended.
  const Bytes stream = Pattern(600, 3);
  std::thread sender([&] { Trickle(stream, 3); });
  int blocks = 0;
  EXPECT_EQ(Collect(stream.size(), blocks), stream);
  sender.join();
  ASSERT_TRUE(m_pty.Send("X"));
  EXPECT_EQ(Collect(1, blocks), S("X"));
}

TEST_F(ComPortBlockTest, ExpectedBlockArrivesInFarFewerNotificationsWholeAndInOrder) {
  ASSERT_TRUE(OpenConfigured());
  // The owner is owed a whole block: the monitor need not hand on every
  // gather time's worth, only what has come by the time the block is due.
  m_port.ExpectInput(3000);
  const Bytes sent = Pattern(3000, 11);
  std::chrono::steady_clock::duration took{};
  std::thread sender([&] { took = AtLineRate(sent); });
  int blocks = 0;
  const Bytes got = Collect(sent.size(), blocks);
  sender.join();
  EXPECT_EQ(got, sent);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
  // Over 270 ms: 68 gathers' worth, at most 6 of the longer ones.
  EXPECT_LE(blocks, ms / serial::CPortWaiter::kOwedGatherMs + 6) << "over " << ms << " ms";
  EXPECT_LE(blocks * 4, ms / serial::CPortWaiter::kGatherMs) << "over " << ms << " ms";

  // Once the block is in, a reply is a lone byte again and is handed on by itself.
  ASSERT_TRUE(m_pty.Send("X"));
  EXPECT_EQ(Collect(1, blocks), S("X"));
  EXPECT_EQ(blocks, 1);
}

TEST_F(ComPortBlockTest, BytesOwedThatNeverComeHoldNothingUp) {
  ASSERT_TRUE(OpenConfigured());
  // A block was asked for, but the far end answers with a lone byte (a
  // refusal, or a chip that was reset): it still arrives, and so does
  // everything after it, for as long as the owed bytes are not all in.
  m_port.ExpectInput(4096);
  int blocks = 0;
  for (const char* reply : {"Y", "X", "XX"}) {
    ASSERT_TRUE(m_pty.Send(reply));
    EXPECT_EQ(Collect(std::strlen(reply), blocks), S(reply));
    std::this_thread::sleep_for(60ms);
  }
}

TEST_F(ComPortBlockTest, CloseDuringATrickleStopsTheMonitorAndReopens) {
  ASSERT_TRUE(OpenConfigured());
  std::atomic<bool> stop{false};
  std::thread sender([&] {
    const uint8_t b = 0x55;
    while (!stop.load()) {
      m_pty.Send(&b, 1, 50ms);
      std::this_thread::sleep_for(100us);
    }
  });
  ASSERT_TRUE(WaitFor(WM_COMM_RXCHAR));
  for (int i = 0; i < 20; ++i) {
    // A monitor asleep in a gather, or on a block it is owed, is woken,
    // not waited out or abandoned.
    m_port.ClosePort();
    EXPECT_FALSE(m_port.IsOpen());
    ASSERT_TRUE(OpenConfigured()) << "round " << i;
    if (i % 2 == 0) m_port.ExpectInput(1 << 20);
  }
  stop.store(true);
  sender.join();
}

// Without and with a block owed, whose bytes the monitor sleeps through.
class ComPortHangUpTest : public ComPortBlockTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ComPortHangUpTest, FarEndVanishingMidStreamIsReportedAsAHangUp) {
  ASSERT_TRUE(OpenConfigured());
  if (GetParam()) m_port.ExpectInput(1 << 20);
  // The stream puts the monitor into its sleep through the gather time,
  // where it does not watch the device; the hang-up must still come out.
  const Bytes stream = Pattern(1500, 5);
  Trickle(stream, 4);
  m_pty.CloseMaster();
  std::optional<ThreadMessage> lost;
  ThreadMessage msg;
  uint8_t buf[4096];
  const auto deadline = std::chrono::steady_clock::now() + 3s;
  while (!lost && m_queue->GetUntil(msg, deadline)) {
    if (msg.message == WM_COMM_RXCHAR) m_port.ReadPort(buf, sizeof buf);
    if (msg.message == WM_COMM_LOST) lost = msg;
  }
  ASSERT_TRUE(lost);
  EXPECT_EQ(lost->lParam, 0);
}

INSTANTIATE_TEST_SUITE_P(Owed, ComPortHangUpTest, ::testing::Bool());

}  // namespace
