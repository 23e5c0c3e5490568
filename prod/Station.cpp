// Station mode: a port that, board after board, waits for the next chip's
// request and runs the command on it, until it is told to stop. A failed
// board is counted and the port goes on; a port that cannot be opened or
// goes away is tried again every second.
#include "prod/BoardRun.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

constexpr auto kRetryPause = std::chrono::seconds(1);

// A pause that a stop request for the board cuts short.
class CStoppablePause {
public:
  explicit CStoppablePause(const CBoardStop& stop)
      : m_stop(stop), m_listener(stop, [this] {
          std::lock_guard lock(m_mutex);
          m_cv.notify_all();
        }) {}
  void For(std::chrono::milliseconds span) {
    std::unique_lock lock(m_mutex);
    m_cv.wait_for(lock, span, [this] { return m_stop.Requested(); });
  }

private:
  CBoardStop m_stop;
  std::mutex m_mutex;
  std::condition_variable m_cv;
  CStopListener m_listener;
};

std::string Counts(const StationCounts& c) {
  return "passed " + std::to_string(c.passed) + ", failed " + std::to_string(c.failed);
}

}  // namespace

StationCounts RunStation(const BoardsContext& ctx, const BoardPort& port, size_t index) {
  StationCounts counts;
  const CBoardStop stop(ctx.stops, index);
  CStoppablePause pause(stop);
  int64_t run = 1;
  bool portMissing = false;
  while (!stop.Requested()) {
    if (ctx.options.command == JobCommand::Dump) {
      const int64_t free = FirstFreeRun(ctx.options.dumpFile, port.name, run);
      if (free != run)
        ctx.display.LogLine(index, "the dump files of boards " + std::to_string(run) + " to " +
                                       std::to_string(free - 1) + " are there already; the next board is " +
                                       std::to_string(free));
      run = free;
    }
    ctx.display.SetStatus(index, "waiting for board " + std::to_string(run), Counts(counts));
    const BoardRunSummary s = RunOneBoard(ctx, port, index, run, true, portMissing);
    if (s.chipHeard) {
      portMissing = false;
      (s.status == EXIT_DONE ? counts.passed : counts.failed) += 1;
      counts.last = s;
      ctx.display.LogLine(index, "board " + std::to_string(run) + ": " + s.result + " (" + Counts(counts) + ")");
      ShowBoardEnded(ctx, index, s, counts);
      ++run;
      // Boards whose records cannot be kept are not worked on.
      if (s.recordLost) {
        ctx.display.Message(index, "stopped: the report cannot be written");
        break;
      }
      continue;
    }
    if (s.refused) {
      counts.last = s;
      ShowBoardEnded(ctx, index, s, counts);
      break;
    }
    if (stop.Requested()) break;
    // No board answered: the port failed or went away. Said once, then tried every second.
    if (!portMissing) ctx.display.Message(index, "the port is not usable; trying again every second");
    portMissing = true;
    ctx.display.SetStatus(index, "waiting for the port", Counts(counts));
    ctx.display.StateChanged(index, BoardState::WaitingForPort);
    pause.For(kRetryPause);
  }
  ctx.display.SetStatus(index, "stopped", Counts(counts));
  if (stop.Requested()) ctx.display.StateChanged(index, BoardState::Stopped);
  return counts;
}
