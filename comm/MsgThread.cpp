#include "comm/MsgThread.h"

#include "core/Messages.h"

#include <atomic>

bool CMessageQueue::Post(ThreadMessage msg) {
  {
    std::lock_guard lock(m_mutex);
    if (m_closed) return false;
    m_queue.push_back(std::move(msg));
  }
  m_cv.notify_all();
  return true;
}

bool CMessageQueue::Get(ThreadMessage& out) {
  std::unique_lock lock(m_mutex);
  m_cv.wait(lock, [&] { return !m_queue.empty() || m_closed; });
  if (m_queue.empty()) return false;
  out = std::move(m_queue.front());
  m_queue.pop_front();
  return true;
}

bool CMessageQueue::GetUntil(ThreadMessage& out, std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(m_mutex);
  if (!m_cv.wait_until(lock, deadline, [&] { return !m_queue.empty() || m_closed; })) return false;
  if (m_queue.empty()) return false;
  out = std::move(m_queue.front());
  m_queue.pop_front();
  return true;
}

bool CMessageQueue::TryGet(ThreadMessage& out) {
  std::lock_guard lock(m_mutex);
  if (m_queue.empty()) return false;
  out = std::move(m_queue.front());
  m_queue.pop_front();
  return true;
}

bool CMessageQueue::AwaitMatch(const std::function<bool(const ThreadMessage&)>& match,
                               std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(m_mutex);
  const auto found = [&] {
    if (m_closed) return true;
    for (const ThreadMessage& m : m_queue)
      if (match(m)) return true;
    return false;
  };
  return m_cv.wait_until(lock, deadline, found);
}

void CMessageQueue::Close() {
  {
    std::lock_guard lock(m_mutex);
    m_closed = true;
  }
  m_cv.notify_all();
}

bool CMessageQueue::IsClosed() const {
  std::lock_guard lock(m_mutex);
  return m_closed;
}

size_t CMessageQueue::Size() const {
  std::lock_guard lock(m_mutex);
  return m_queue.size();
}

namespace {
struct Registry {
  std::mutex mutex;
  std::unordered_map<uint32_t, std::shared_ptr<CMessageQueue>> queues;
  uint32_t nextId = 1;
};
Registry& TheRegistry() {
  static Registry registry;
  return registry;
}
std::shared_ptr<CMessageQueue> FindQueue(uint32_t id) {
  if (id == 0) return nullptr;
  auto& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  auto it = r.queues.find(id);
  return it == r.queues.end() ? nullptr : it->second;
}
}  // namespace

uint32_t RegisterMessageQueue(std::shared_ptr<CMessageQueue> queue) {
  auto& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  uint32_t id = r.nextId++;
  if (r.nextId == 0) r.nextId = 1;
  r.queues[id] = std::move(queue);
  return id;
}

void UnregisterMessageQueue(uint32_t threadId) {
  auto& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  r.queues.erase(threadId);
}

bool PostThreadMessage(uint32_t threadId, uint32_t message, uint32_t wParam, int32_t lParam,
                       std::any payload) {
  auto q = FindQueue(threadId);
  if (!q) return false;
  return q->Post(ThreadMessage{message, wParam, lParam, std::move(payload)});
}

bool IsMessageThreadAlive(uint32_t threadId) {
  auto q = FindQueue(threadId);
  return q && !q->IsClosed();
}

CMsgThread::CMsgThread() : m_queue(std::make_shared<CMessageQueue>()) {}

CMsgThread::~CMsgThread() { StopThread(); }

bool CMsgThread::CreateThread() {
  if (m_thread.joinable() || m_queue->IsClosed()) return false;  // a thread object runs once
  try {
    m_thread = std::thread([this] { Run(); });
  } catch (...) {
    return false;
  }
  // Wait until the thread has registered and initialised, so that its id is
  // known to callers and its start-up step has run.
  std::unique_lock lock(m_startMutex);
  m_startCv.wait(lock, [&] { return m_startDone; });
  return true;
}

void CMsgThread::StopThread(int exitCode) {
  if (!m_thread.joinable()) return;
  if (m_thread.get_id() == std::this_thread::get_id()) return;  // never join ourselves
  m_queue->Post(ThreadMessage{WM_QUIT, static_cast<uint32_t>(exitCode), 0, {}});
  m_thread.join();
}

void CMsgThread::RequestStop(int exitCode) {
  if (m_thread.joinable()) m_queue->Post(ThreadMessage{WM_QUIT, static_cast<uint32_t>(exitCode), 0, {}});
}

uint32_t CMsgThread::GetThreadId() const { return m_publishedId.load(); }

bool CMsgThread::IsRunning() const { return m_publishedId.load() != 0; }

bool CMsgThread::AwaitQueued(const std::function<bool(const ThreadMessage&)>& match, uint32_t ms,
                             bool orQuit) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  return m_queue->AwaitMatch([&](const ThreadMessage& m) { return (orQuit && m.message == WM_QUIT) || match(m); },
                             deadline);
}

bool CMsgThread::WaitEnded(std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!m_ended.load()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void CMsgThread::OnMessage(uint32_t message, Handler handler) { m_handlers[message] = std::move(handler); }

void CMsgThread::Run() {
  m_selfId = RegisterMessageQueue(m_queue);
  m_publishedId.store(m_selfId);
  bool run = InitInstance();
  {
    std::lock_guard lock(m_startMutex);
    m_startDone = true;
  }
  m_startCv.notify_all();

  ThreadMessage msg;
  while (run && m_queue->Get(msg)) {
    if (msg.message == WM_QUIT) {
      m_exitCode = static_cast<int>(msg.wParam);
      break;
    }
    auto it = m_handlers.find(msg.message);
    if (it != m_handlers.end()) it->second(msg);
  }
  // From here on nothing can reach this thread any more.
  m_queue->Close();
  UnregisterMessageQueue(m_selfId);
  m_publishedId.store(0);
  m_exitCode = ExitInstance();
  m_ended.store(true);
}
