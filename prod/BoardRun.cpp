// One board of a run over several ports: its sink on the shared display,
// the board session, its record.
#include "prod/BoardRun.h"

#include "prod/BoardSession.h"
#include "prod/Report.h"

#include <chrono>
#include <deque>
#include <mutex>

namespace {

constexpr size_t kLogTailLines = 20;

// The board's output on the shared display, keeping the last log lines for
// the record of a failed run and the bytes of the last phase for the table.
class CBoardSink final : public IBoardSink {
public:
  // A muted sink keeps its messages out of the display (a station retrying
  // a missing port has said so once); they still go into the record.
  CBoardSink(IBoardsDisplay& console, size_t index, bool muted)
      : m_console(console), m_index(index), m_muted(muted) {}

  void LogLine(const std::string& text) override {
    Keep(text);
    m_console.LogLine(m_index, text);
  }
  void ConsoleChar(char ch) override { m_console.ConsoleChar(m_index, ch); }
  void Message(const std::string& text) override {
    Keep(text);
    if (!m_muted) m_console.Message(m_index, text);
  }
  void Progress(int32_t percent, int64_t totalBytes) override {
    {
      std::lock_guard lock(m_mutex);
      m_lastBytes = totalBytes * percent / 100;
    }
    m_console.Progress(m_index, percent, totalBytes);
  }
  void Finish() override { m_console.Finish(m_index); }
  void State(BoardState state) override { m_console.StateChanged(m_index, state); }

  std::vector<std::string> Tail() {
    std::lock_guard lock(m_mutex);
    return {m_tail.begin(), m_tail.end()};
  }
  int64_t LastBytes() {
    std::lock_guard lock(m_mutex);
    return m_lastBytes;
  }

private:
  void Keep(const std::string& text) {
    size_t b = 0, e = text.size();
    while (b < e && (text[b] == '\n' || text[b] == '\r')) ++b;
    while (e > b && (text[e - 1] == '\n' || text[e - 1] == '\r')) --e;
    if (b == e) return;
    std::lock_guard lock(m_mutex);
    m_tail.push_back(text.substr(b, e - b));
    if (m_tail.size() > kLogTailLines) m_tail.pop_front();
  }

  IBoardsDisplay& m_console;
  size_t m_index;
  bool m_muted;
  std::mutex m_mutex;
  std::deque<std::string> m_tail;
  int64_t m_lastBytes = 0;
};

BoardRecord MakeRecord(const BoardsContext& ctx, const BoardPort& port, int64_t run, const JobOptions& o) {
  BoardRecord r;
  r.port = port.port;
  r.name = port.name;
  r.run = run;
  r.command = ctx.commandName;
  if (o.command != JobCommand::Batch) r.base = ParseNumberOperand(o.base);
  if (o.command == JobCommand::Erase || o.command == JobCommand::Dump) r.length = ParseNumberOperand(o.length);
  if (o.command == JobCommand::Program) {
    r.image = o.image;
    r.imageSize = ctx.imageSize;
    r.imageSha256 = ctx.imageSha256;
    if (ctx.imageSize) r.length = static_cast<uint32_t>(*ctx.imageSize);
  }
  if (o.command == JobCommand::Dump) r.file = o.dumpFile;
  return r;
}

// False when the record could not be written: it is lost, and the run must not end as done.
bool WriteRecord(const BoardsContext& ctx, size_t index, BoardRecord& record) {
  if (ExitStatus(record.facts) == EXIT_DONE && !record.file.empty()) {
    std::string why;
    record.fileSha256 = Sha256OfFile(record.file, why).value_or("");
  }
  std::string why;
  if (ctx.report->Append(RecordLine(record), why)) return true;
  ctx.display.Message(index, "cannot write the report " + ctx.reportFile + ": " + why);
  return false;
}

}  // namespace

BoardRunSummary RunOneBoard(const BoardsContext& ctx, const BoardPort& port, size_t index, int64_t run, bool station,
                            bool muted) {
  JobOptions o = ctx.options;
  o.port = port.port;
  if (o.command == JobCommand::Dump) o.dumpFile = ExpandFileName(ctx.options.dumpFile, port.name, run);
  CBoardSink sink(ctx.display, index, muted);
  BoardRecord record = MakeRecord(ctx, port, run, o);
  record.start = std::chrono::system_clock::now();
  const auto start = std::chrono::steady_clock::now();

  const BoardOutcome outcome = RunBoardSession(BoardSetUp{o, ctx.configDir, sink, CBoardStop(ctx.stops, index), station});

  record.end = std::chrono::system_clock::now();
  record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  record.facts = outcome.facts;
  record.resumedFrom = outcome.resumedFrom;
  if (outcome.verify && outcome.verify->result == VerifyResult::Differs) record.verifyOffset = outcome.verify->offset;
  record.logTail = sink.Tail();
  const bool recorded = !ctx.report || (station && !outcome.chipHeard) || WriteRecord(ctx, index, record);

  BoardRunSummary s;
  s.status = ExitStatus(outcome.facts);
  s.result = ResultWord(outcome.facts);
  s.reason = ResultReason(outcome.facts);
  s.recordLost = !recorded;
  if (s.recordLost && s.status == EXIT_DONE) {
    s.status = EXIT_FAILED;
    s.result = "no-record";
    s.reason = "no-record";
  }
  s.bytes = sink.LastBytes();
  s.seconds = record.seconds;
  s.verify = VerifyWord(outcome.facts).value_or("-");
  s.chipHeard = outcome.chipHeard;
  s.refused = outcome.facts.refusal.has_value();
  s.run = run;
  return s;
}

void ShowBoardEnded(const BoardsContext& ctx, size_t index, const BoardRunSummary& summary,
                    const StationCounts& counts) {
  BoardState state = BoardState::Failed;
  if (summary.status == EXIT_DONE)
    state = BoardState::Passed;
  else if (summary.status == EXIT_INTERRUPTED && ctx.stops.Stopped(index))
    state = BoardState::Stopped;
  ctx.display.StateChanged(index, state);
  ctx.display.BoardEnded(index, summary, counts);
}
