// A port on one end of a pseudo-terminal, its notifications going to a
// message queue of the test's own: the fixture the port tests share.
#pragma once

#include "comm/ComPort.h"
#include "comm/MsgThread.h"
#include "tests/comm/PtyPair.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>

class CPortFixture : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(m_pty.Valid());
    m_queue = std::make_shared<CMessageQueue>();
    m_id = RegisterMessageQueue(m_queue);
    m_port.SetNotifyThreadId(m_id);
    m_port.SetPortName(m_pty.SlavePath(), 5);
  }
  void TearDown() override {
    m_port.ClosePort();
    UnregisterMessageQueue(m_id);
  }

  bool OpenConfigured() { return m_port.OpenPort() && m_port.SetupPort() && m_port.ApplySettingsText("115200,N,8,1"); }

  // The next notification of that kind, skipping others.
  std::optional<ThreadMessage> WaitFor(uint32_t message,
                                       std::chrono::milliseconds limit = std::chrono::seconds(3)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    ThreadMessage msg;
    while (m_queue->GetUntil(msg, deadline))
      if (msg.message == message) return msg;
    return std::nullopt;
  }

  CPtyPair m_pty;
  std::shared_ptr<CMessageQueue> m_queue;
  uint32_t m_id = 0;
  CComPort m_port;
};
