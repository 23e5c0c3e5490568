// A thread with its own message queue, addressed by a numeric thread id.
//
// Messages carry two 32-bit parameters and, where data must travel with the
// request, a payload that the receiver takes over. A thread handles its
// messages one at a time in posting order through a table of handlers;
// messages without a handler are discarded. Posting to an id that names no
// running thread does nothing and returns false.
#pragma once

#include <any>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

struct ThreadMessage {
  uint32_t message = 0;
  uint32_t wParam = 0;
  int32_t lParam = 0;
  std::any payload;
};

class CMessageQueue {
public:
  // Returns false once the queue is closed.
  bool Post(ThreadMessage msg);
  // Waits for the next message; false when the queue is closed and empty.
  bool Get(ThreadMessage& out);
  // As Get, but gives up at the deadline (false, out untouched).
  bool GetUntil(ThreadMessage& out, std::chrono::steady_clock::time_point deadline);
  // Takes the next message if one is queued; never waits.
  bool TryGet(ThreadMessage& out);
  // Waits until a queued message satisfies `match` (true) or the deadline
  // passes (false); takes nothing. A closed queue answers at once.
  bool AwaitMatch(const std::function<bool(const ThreadMessage&)>& match,
                  std::chrono::steady_clock::time_point deadline);
  // Refuses further posts and wakes every waiter; queued messages can still be taken.
  void Close();
  bool IsClosed() const;
  size_t Size() const;

private:
  mutable std::mutex m_mutex;
  std::condition_variable m_cv;
  std::deque<ThreadMessage> m_queue;
  bool m_closed = false;
};

// The process-wide table of thread ids. Ids are never 0 and never reused.
uint32_t RegisterMessageQueue(std::shared_ptr<CMessageQueue> queue);
void UnregisterMessageQueue(uint32_t threadId);
bool PostThreadMessage(uint32_t threadId, uint32_t message, uint32_t wParam, int32_t lParam,
                       std::any payload = {});
// True while the id names a registered queue that still takes messages.
bool IsMessageThreadAlive(uint32_t threadId);

class CMsgThread {
public:
  using Handler = std::function<void(ThreadMessage&)>;

  CMsgThread();
  virtual ~CMsgThread();
  CMsgThread(const CMsgThread&) = delete;
  CMsgThread& operator=(const CMsgThread&) = delete;

  // Starts the thread; it registers its queue, runs InitInstance and then its
  // message loop. Returns once InitInstance has run; false if the thread has
  // already been started (a thread object runs once) or cannot start.
  bool CreateThread();
  // Posts the quit message and waits for the thread to end (ExitInstance runs
  // on the thread). Harmless when the thread never ran or has ended.
  void StopThread(int exitCode = 0);
  // Posts the quit message and returns at once; StopThread or the
  // destructor waits for the thread later.
  void RequestStop(int exitCode = 0);
  // The id under which the running thread takes messages; 0 before it has
  // registered and after it has ended.
  uint32_t GetThreadId() const;
  bool IsRunning() const;
  // Waits at most `limit` for a started thread to have finished its exit
  // step (ExitInstance); true once it has. Joining it then takes no time.
  bool WaitEnded(std::chrono::milliseconds limit) const;
  int ExitCode() const { return m_exitCode; }

protected:
  virtual bool InitInstance() { return true; }
  virtual int ExitInstance() { return m_exitCode; }
  // Binds a handler to a message number (the thread's message table).
  void OnMessage(uint32_t message, Handler handler);
  // For a handler that waits: whether a message satisfying `match` is
  // already queued behind it, or comes within `ms` (0: only a look). The
  // quit message matches when `orQuit` is set.
  bool AwaitQueued(const std::function<bool(const ThreadMessage&)>& match, uint32_t ms, bool orQuit) const;
  // The id of the thread's own queue, valid from InitInstance on.
  uint32_t SelfId() const { return m_selfId; }

  // Derived classes call StopThread() in their own destructor, so that the
  // thread has ended before any of their members is destroyed.

private:
  void Run();

  std::shared_ptr<CMessageQueue> m_queue;
  std::unordered_map<uint32_t, Handler> m_handlers;
  std::thread m_thread;
  std::atomic<uint32_t> m_publishedId{0};
  std::atomic<bool> m_ended{false};
  uint32_t m_selfId = 0;
  int m_exitCode = 0;
  std::mutex m_startMutex;
  std::condition_variable m_startCv;
  bool m_startDone = false;
};
