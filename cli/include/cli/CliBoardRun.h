// One board's run inside a run over several ports or a station: the board
// session with its own sink on the shared display, timed, its record
// appended to the report, and what the summary table shows of it.
#pragma once

#include "cli/CliBoardConsole.h"
#include "cli/CliBoards.h"
#include "cli/CliJsonReport.h"
#include "cli/CliSignals.h"

#include <cstdint>
#include <optional>
#include <string>

// What every board of the run shares, read-only but for the display and
// the report file, which lock themselves.
struct BoardsContext {
  const CliOptions& options;
  std::string configDir;
  CBoardConsole& console;
  CSignalWatch& signals;
  CRecordFile* report = nullptr;  // null without --report
  std::string commandName;
  std::optional<uint64_t> imageSize;  // program: the image's size and SHA-256
  std::string imageSha256;
};

struct BoardRunSummary {
  CliExit status = EXIT_DONE;
  std::string result;  // ResultWord
  int64_t bytes = 0;   // bytes of the last phase that the chip confirmed
  double seconds = 0;
  std::string verify;  // "ok", "differs", ... or "-"
  bool chipHeard = false;
  bool refused = false;  // stopped before the port: running again cannot help
  bool recordLost = false;  // --report: the record could not be written (the status is then not 0)
};

// Runs the command on one board. `run` numbers the boards of a station's
// port; `station` waits for the board as long as it takes and writes a
// record only when a board answered. `muted` keeps the run's messages off the display.
BoardRunSummary RunOneBoard(const BoardsContext& ctx, const BoardPort& port, size_t index, int64_t run, bool station,
                            bool muted = false);

// Station mode on one port, until Ctrl-C; the status of its last board, or
// of a refusal that ended it.
struct StationCounts {
  int64_t passed = 0;
  int64_t failed = 0;
  BoardRunSummary last;
};
StationCounts RunStation(const BoardsContext& ctx, const BoardPort& port, size_t index);
