#include "core/Messages.h"
#include "comm/MsgThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

namespace {

class Recorder : public CMsgThread {
public:
  Recorder() {
    for (uint32_t m : {1000u, 1001u})
      OnMessage(m, [this, m](ThreadMessage& msg) {
        std::lock_guard lock(mutex);
        seen.push_back(m * 100000 + msg.wParam);
      });
  }
  ~Recorder() override { StopThread(); }
  bool InitInstance() override {
    initialised = true;
    return true;
  }
  int ExitInstance() override {
    exited = true;
    return 7;
  }
  std::mutex mutex;
  std::vector<uint32_t> seen;
  std::atomic<bool> initialised{false}, exited{false};
};

TEST(MsgThread, HandlesMessagesInPostingOrderAndDiscardsUnknownOnes) {
  Recorder t;
  ASSERT_TRUE(t.CreateThread());
  const uint32_t id = t.GetThreadId();
  ASSERT_NE(id, 0u);
  EXPECT_TRUE(t.initialised);
  for (uint32_t i = 0; i < 200; ++i) {
    EXPECT_TRUE(PostThreadMessage(id, i % 2 ? 1001u : 1000u, i, 0));
    EXPECT_TRUE(PostThreadMessage(id, 4242u, i, 0));  // no handler: dropped
  }
  t.StopThread();
  EXPECT_TRUE(t.exited);
  EXPECT_EQ(t.ExitCode(), 7);
  ASSERT_EQ(t.seen.size(), 200u);
  for (uint32_t i = 0; i < 200; ++i) EXPECT_EQ(t.seen[i], (i % 2 ? 1001u : 1000u) * 100000 + i);

  // Once ended, the id takes nothing and names no thread.
  EXPECT_EQ(t.GetThreadId(), 0u);
  EXPECT_FALSE(IsMessageThreadAlive(id));
  EXPECT_FALSE(PostThreadMessage(id, 1000u, 1, 0));
}

TEST(MsgThread, PayloadTravelsWithTheMessage) {
  struct Payload : CMsgThread {
    Payload() {
      OnMessage(1000u, [this](ThreadMessage& m) { text = std::any_cast<std::string>(m.payload); });
    }
    ~Payload() override { StopThread(); }
    std::string text;
  } t;
  ASSERT_TRUE(t.CreateThread());
  PostThreadMessage(t.GetThreadId(), 1000u, 0, 0, std::string("115200,N,8,1"));
  t.StopThread();
  EXPECT_EQ(t.text, "115200,N,8,1");
}

TEST(MsgThread, StoppingANeverStartedThreadIsHarmless) {
  Recorder t;
  t.StopThread();
  EXPECT_FALSE(t.exited);
  EXPECT_FALSE(PostThreadMessage(0, 1000u, 0, 0));
}

}  // namespace
