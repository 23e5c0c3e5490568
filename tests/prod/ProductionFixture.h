// The production library in this process against simulated boards: a
// configuration folder per test, chipsim on pseudo-terminals, and a display
// that records what the library told it.
#pragma once

#include "prod/Production.h"
#include "tests/cli/CliFixture.h"
#include "tests/support/Json.h"

#include <condition_variable>
#include <map>
#include <mutex>

namespace prodtest {

using namespace clitest;

// Keeps what the library shows, per board, for the test to look at.
class CRecordingDisplay final : public IBoardsDisplay {
public:
  explicit CRecordingDisplay(size_t boards) : m_boards(boards) {}
  void LogLine(size_t board, const std::string& text) override { Add(board, [&](Board& b) { b.log += text; }); }
  void ConsoleChar(size_t, char) override {}
  void Message(size_t board, const std::string& text) override {
    if (board == kNoBoard) {
      std::lock_guard lock(m_mutex);
      m_runMessages.push_back(text);
      return;
    }
    Add(board, [&](Board& b) { b.messages.push_back(text); });
  }
  void Progress(size_t board, int32_t percent, int64_t) override {
    Add(board, [&](Board& b) { b.progress = percent; });
  }
  void Finish(size_t) override {}
  void SetStatus(size_t, const std::string&, const std::string&) override {}
  void StateChanged(size_t board, BoardState state) override { Add(board, [&](Board& b) { b.states.push_back(state); }); }
  void BoardEnded(size_t board, const BoardRunSummary& summary, const StationCounts& counts) override {
    Add(board, [&](Board& b) {
      b.ended.push_back(summary);
      b.counts = counts;
      b.progress = -1;  // the next board's progress starts afresh
    });
  }

  struct Board {
    std::string log;
    std::vector<std::string> messages;
    int32_t progress = -1;  // of the board on the port now
    std::vector<BoardState> states;
    std::vector<BoardRunSummary> ended;
    StationCounts counts;
  };
  Board Of(size_t board) {
    std::lock_guard lock(m_mutex);
    return m_boards.at(board);
  }
  std::vector<std::string> RunMessages() {
    std::lock_guard lock(m_mutex);
    return m_runMessages;
  }
  // Waits until `done` holds for the board; false after `limit`.
  template <typename Pred>
  bool Await(size_t board, Pred done, std::chrono::seconds limit) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, limit, [&] { return done(m_boards.at(board)); });
  }

private:
  template <typename F>
  void Add(size_t board, F f) {
    std::lock_guard lock(m_mutex);
    f(m_boards.at(board));
    m_changed.notify_all();
  }

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<Board> m_boards;
  std::vector<std::string> m_runMessages;
};

class ProductionTest : public ::testing::Test {
protected:
  void SetUp() override { MakeConfigFolder(Config()); }
  std::string Config() const { return dir.File("config"); }
  std::string Flash(size_t i) const { return dir.File("flash" + std::to_string(i) + ".img"); }
  std::string ReportFile() const { return dir.File("report.jsonl"); }

  // Starts one more simulated board; returns it as the library names it.
  BoardPort StartBoard(std::vector<std::string> extra = {}) {
    const size_t i = sims.size();
    std::vector<std::string> args{kBin + "/chipsim", "--flash-file", Flash(i), "--config", Config(),
                                  "--repeat",      "50",           "--end-idle", "300"};
    args.insert(args.end(), extra.begin(), extra.end());
    const std::string n = std::to_string(i);
    sims.push_back(std::make_unique<CChildProcess>(args, dir.File("sim" + n + ".out"), dir.File("sim" + n + ".err")));
    const std::string device = sims.back()->FirstLine(5s);
    EXPECT_FALSE(device.empty()) << sims.back()->Err();
    return BoardPort{device, PortName(device)};
  }
  ProductionSetUp SetUpFor(JobOptions job, std::vector<BoardPort> boards, bool station = false) const {
    ProductionSetUp s;
    s.job = std::move(job);
    s.configDir = Config() + "/";
    s.boards = std::move(boards);
    s.station = station;
    s.reportFile = ReportFile();
    return s;
  }
  static JobOptions Program(const std::string& base, const std::string& image, bool verify) {
    JobOptions o;
    o.command = JobCommand::Program;
    o.base = base;
    o.image = image;
    o.verify = verify;
    return o;
  }
  std::string FlashAt(size_t board, size_t offset, size_t length) const {
    const std::string flash = TempDir::Read(Flash(board));
    return flash.size() >= offset + length ? flash.substr(offset, length) : std::string();
  }
  std::vector<JsonObject> Records() const { return JsonRecords(ReportFile()); }
  std::string SimLogs() const {
    std::string r;
    for (const auto& s : sims) r += "--- sim\n" + s->Err();
    return r;
  }

  TempDir dir;
  std::vector<std::unique_ptr<CChildProcess>> sims;
};

}  // namespace prodtest
