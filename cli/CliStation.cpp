// Station mode: a port that, board after board, waits for the next chip's
// request and runs the command on it, until Ctrl-C. A failed board is
// counted and the port goes on; a port that cannot be opened or goes away
// is tried again every second.
#include "cli/CliBoardRun.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

constexpr auto kRetryPause = std::chrono::seconds(1);

// A pause that Ctrl-C cuts short.
class CInterruptiblePause {
public:
  explicit CInterruptiblePause(CSignalWatch& signals)
      : m_signals(signals), m_listener(signals, [this] {
          std::lock_guard lock(m_mutex);
          m_cv.notify_all();
        }) {}
  void For(std::chrono::milliseconds span) {
    std::unique_lock lock(m_mutex);
    m_cv.wait_for(lock, span, [this] { return m_signals.Interrupted(); });
  }

private:
  CSignalWatch& m_signals;
  std::mutex m_mutex;
  std::condition_variable m_cv;
  CSignalListener m_listener;
};

std::string Counts(const StationCounts& c) {
  return "passed " + std::to_string(c.passed) + ", failed " + std::to_string(c.failed);
}

}  // namespace

StationCounts RunStation(const BoardsContext& ctx, const BoardPort& port, size_t index) {
  StationCounts counts;
  CInterruptiblePause pause(ctx.signals);
  int64_t run = 1;
  bool portMissing = false;
  while (!ctx.signals.Interrupted()) {
    ctx.console.SetStatus(index, "waiting for board " + std::to_string(run), Counts(counts));
    const BoardRunSummary s = RunOneBoard(ctx, port, index, run, true, portMissing);
    if (s.chipHeard) {
      portMissing = false;
      (s.status == EXIT_DONE ? counts.passed : counts.failed) += 1;
      counts.last = s;
      ctx.console.LogLine(index, "board " + std::to_string(run) + ": " + s.result + " (" + Counts(counts) + ")");
      ++run;
      // Boards whose records cannot be kept are not worked on.
      if (s.recordLost) {
        ctx.console.Message(index, "stopped: the report cannot be written");
        break;
      }
      continue;
    }
    if (s.refused) {
      counts.last = s;
      break;
    }
    if (ctx.signals.Interrupted()) break;
    // No board answered: the port failed or went away. Said once, then tried every second.
    if (!portMissing) ctx.console.Message(index, "the port is not usable; trying again every second");
    portMissing = true;
    ctx.console.SetStatus(index, "waiting for the port", Counts(counts));
    pause.For(kRetryPause);
  }
  ctx.console.SetStatus(index, "stopped", Counts(counts));
  return counts;
}
