// One board's run inside a run over one or more ports or a station: the
// board session with its own sink on the shared display, timed, its record
// appended to the report, and what the summary shows of it.
#pragma once

#include "prod/BoardJob.h"
#include "prod/BoardNames.h"
#include "prod/BoardsDisplay.h"
#include "prod/Report.h"
#include "prod/StopSource.h"

#include <cstdint>
#include <optional>
#include <string>

// What every board of the run shares, read-only but for the display, the
// stop requests and the report file, which lock themselves.
struct BoardsContext {
  const JobOptions& options;
  std::string configDir;
  IBoardsDisplay& display;
  CStopSource& stops;
  CRecordFile* report = nullptr;  // null without a report
  std::string reportFile;
  std::string commandName;
  std::optional<uint64_t> imageSize;  // program: the image's size and SHA-256
  std::string imageSha256;
};

// Runs the command on one board. `run` numbers the boards of a station's
// port; `station` waits for the board as long as it takes and writes a
// record only when a board answered. `muted` keeps the run's messages off the display.
BoardRunSummary RunOneBoard(const BoardsContext& ctx, const BoardPort& port, size_t index, int64_t run, bool station,
                            bool muted = false);

// Station mode on one port, until stopped; the status of its last board, or
// of a refusal that ended it.
StationCounts RunStation(const BoardsContext& ctx, const BoardPort& port, size_t index);

// Tells the display that a board's run ended: its state (passed, failed,
// stopped) and BoardEnded with its port's counts so far.
void ShowBoardEnded(const BoardsContext& ctx, size_t index, const BoardRunSummary& summary,
                    const StationCounts& counts);
