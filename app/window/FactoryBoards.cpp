#include "app/window/FactoryBoards.h"

#include <cstdio>
#include <utility>

std::string StateText(const FactoryRow& row) {
  const std::string last = row.lastOutcome.empty() ? std::string() : " (last: " + row.lastOutcome + ")";
  switch (row.state) {
    case BoardState::Idle: return "idle";
    case BoardState::WaitingForPort: return "waiting for the port" + last;
    case BoardState::WaitingForBoard: return "waiting for reset" + last;
    case BoardState::Running: return row.stage.empty() ? std::string("running") : row.stage;
    case BoardState::Verifying: return "verifying";
    case BoardState::Passed: return "done";
    case BoardState::Failed: return "failed: " + (row.reason.empty() ? std::string("unknown") : row.reason);
    case BoardState::Stopped: return "stopped";
  }
  return "?";
}

std::string ProgressText(const FactoryRow& row) {
  if (row.totalBytes <= 0 && row.percent <= 0) return {};
  char text[64];
  if (row.bytesPerSecond > 0)
    std::snprintf(text, sizeof text, "%d %% at %.1f KiB/s", row.percent, row.bytesPerSecond / 1024.0);
  else
    std::snprintf(text, sizeof text, "%d %%", row.percent);
  return text;
}

CFactoryBoards::CFactoryBoards(Clock clock) : m_clock(std::move(clock)) {}

void CFactoryBoards::SetPorts(const std::vector<std::string>& ports, const CCountsStore& stored) {
  std::lock_guard lock(m_mutex);
  m_boards.clear();
  m_boards.resize(ports.size());
  for (size_t i = 0; i < ports.size(); ++i) {
    m_boards[i].row.port = ports[i];
    m_boards[i].row.counts = m_boards[i].base = stored.Get(ports[i]);
    m_boards[i].changed = true;
  }
}

void CFactoryBoards::BeginRun(const CCountsStore& stored) {
  std::lock_guard lock(m_mutex);
  for (auto& b : m_boards) {
    const std::string port = b.row.port;
    const double last = b.row.lastSeconds;
    b.row = FactoryRow{};
    b.row.port = port;
    b.row.lastSeconds = last;
    b.row.counts = b.base = stored.Get(port);
    b.rateBytes = -1;
    b.console.clear();
    b.changed = true;
  }
}

size_t CFactoryBoards::Size() const {
  std::lock_guard lock(m_mutex);
  return m_boards.size();
}

FactoryRow CFactoryBoards::Row(size_t board) const {
  std::lock_guard lock(m_mutex);
  return board < m_boards.size() ? m_boards[board].row : FactoryRow{};
}

std::vector<size_t> CFactoryBoards::TakeChanged() {
  std::lock_guard lock(m_mutex);
  std::vector<size_t> out;
  for (size_t i = 0; i < m_boards.size(); ++i)
    if (std::exchange(m_boards[i].changed, false)) out.push_back(i);
  return out;
}

std::vector<std::pair<std::string, PortCounts>> CFactoryBoards::TakeNewCounts() {
  std::lock_guard lock(m_mutex);
  std::vector<std::pair<std::string, PortCounts>> out;
  for (auto& b : m_boards)
    if (std::exchange(b.countsChanged, false)) out.emplace_back(b.row.port, b.row.counts);
  return out;
}

std::vector<std::string> CFactoryBoards::Log(size_t board) const {
  std::lock_guard lock(m_mutex);
  if (board >= m_boards.size()) return {};
  const auto& b = m_boards[board];
  std::vector<std::string> out(b.log.begin(), b.log.end());
  if (!b.console.empty()) out.push_back(b.console);
  return out;
}

uint64_t CFactoryBoards::LogGeneration(size_t board) const {
  std::lock_guard lock(m_mutex);
  return board < m_boards.size() ? m_boards[board].logGeneration : 0;
}

std::vector<std::string> CFactoryBoards::TakeGeneralMessages() {
  std::lock_guard lock(m_mutex);
  return std::exchange(m_general, {});
}

CFactoryBoards::Board* CFactoryBoards::Find(size_t board) {
  return board < m_boards.size() ? &m_boards[board] : nullptr;
}

void CFactoryBoards::AddLog(Board& b, const std::string& text) {
  b.log.push_back(text);
  while (b.log.size() > kLogCap) b.log.pop_front();
  ++b.logGeneration;
}

void CFactoryBoards::LogLine(size_t board, const std::string& text) {
  std::lock_guard lock(m_mutex);
  Board* b = Find(board);
  if (!b) return;
  AddLog(*b, text);
  // While the update runs, its latest log line ("Send flash file code.") is the stage it stands at.
  const auto first = text.find_first_not_of("\r\n");
  if (b->row.state != BoardState::Running || first == std::string::npos) return;
  b->row.stage = text.substr(first, text.find_last_not_of("\r\n") - first + 1);
  b->changed = true;
}

void CFactoryBoards::ConsoleChar(size_t board, char ch) {
  std::lock_guard lock(m_mutex);
  Board* b = Find(board);
  if (!b) return;
  ++b->logGeneration;
  if (ch == '\n' || ch == '\r') {
    if (!b->console.empty()) AddLog(*b, std::exchange(b->console, {}));
    return;
  }
  // A chip that never sends a line break still cannot grow a line without end.
  if (b->console.size() >= kMaxStationLine) AddLog(*b, std::exchange(b->console, {}));
  b->console += ch;
}

void CFactoryBoards::Message(size_t board, const std::string& text) {
  std::lock_guard lock(m_mutex);
  if (Board* b = Find(board)) AddLog(*b, text);
  else m_general.push_back(text);
}

void CFactoryBoards::Progress(size_t board, int32_t percent, int64_t totalBytes) {
  std::lock_guard lock(m_mutex);
  Board* b = Find(board);
  if (!b) return;
  const auto now = m_clock();
  const int64_t bytes = totalBytes * percent / 100;
  if (b->rateBytes < 0 || bytes < b->rateBytes) {
    b->rateStart = now;
    b->rateBytes = bytes;
    b->row.bytesPerSecond = 0;
  } else {
    const double seconds = std::chrono::duration<double>(now - b->rateStart).count();
    if (seconds >= 0.2) b->row.bytesPerSecond = static_cast<double>(bytes - b->rateBytes) / seconds;
  }
  b->row.percent = percent;
  b->row.totalBytes = totalBytes;
  b->changed = true;
}

void CFactoryBoards::Finish(size_t board) {
  std::lock_guard lock(m_mutex);
  if (Board* b = Find(board)) b->changed = true;
}

void CFactoryBoards::SetStatus(size_t board, const std::string& status, const std::string&) {
  std::lock_guard lock(m_mutex);
  Board* b = Find(board);
  if (!b || b->row.stage == status) return;
  b->row.stage = status;
  b->changed = true;
}

void CFactoryBoards::StateChanged(size_t board, BoardState state) {
  std::lock_guard lock(m_mutex);
  Board* b = Find(board);
  if (!b) return;
  if (state == BoardState::WaitingForBoard || state == BoardState::WaitingForPort) {
    // The next board of a station: its progress starts afresh.
    b->row.percent = 0;
    b->row.totalBytes = 0;
    b->row.bytesPerSecond = 0;
  }
  if (state != b->row.state) b->rateBytes = -1;  // a new phase has a rate of its own
  b->row.state = state;
  b->changed = true;
}

void CFactoryBoards::BoardEnded(size_t board, const BoardRunSummary& summary, const StationCounts& counts) {
  std::lock_guard lock(m_mutex);
  Board* b = Find(board);
  if (!b) return;
  b->row.counts = PortCounts{b->base.passed + counts.passed, b->base.failed + counts.failed};
  b->row.lastSeconds = summary.seconds;
  b->row.reason = summary.reason;
  // The state as the run ended, should the library not have said it yet.
  const int status = static_cast<int>(summary.status);
  if (b->row.state != BoardState::Passed && b->row.state != BoardState::Failed && b->row.state != BoardState::Stopped)
    b->row.state = status == 0 ? BoardState::Passed : status == 130 ? BoardState::Stopped : BoardState::Failed;
  if (b->row.state == BoardState::Failed && b->row.reason.empty()) b->row.reason = summary.result;
  b->row.lastOutcome = StateText(b->row);
  b->changed = true;
  b->countsChanged = true;
}
