// How a board's run ended, as typed facts, and the one function that turns
// them into the exit status scripts rely on; what a display shows of it.
#pragma once

#include "app/ReadBack.h"
#include "core/View.h"

#include <cstdint>
#include <optional>
#include <string>

// Exit statuses scripts rely on.
enum RunExit : int {
  EXIT_DONE = 0,        // the update completed
  EXIT_FAILED = 1,      // retry limit, time-outs, file errors, device gone, verify mismatch
  EXIT_USAGE = 2,       // bad usage or configuration
  EXIT_NO_PORT = 3,     // the port could not be opened
  EXIT_SILENT = 4,      // the update made no progress for --timeout seconds
  EXIT_INTERRUPTED = 130,
};

// Why a run stopped before it asked for the port.
enum class RunRefusal {
  LogFileUnusable,  // --log names a file that cannot be appended to
  NoConfiguration,  // no cfg.ini in the configuration folder
  BadOption,        // an option or operand the user must fix
  NoBaudRate,       // cfg.ini has no BaudRate entry at the remembered position
  NoListEntry,      // another list the chip is told about has no entry at the remembered position
  BadChipLine,      // the chosen chip's ChipModel line is no list of numbers
  PortIsFolder,     // the port given is a folder
  BadBatchList,     // the Bat list is empty or has an entry the update cannot carry out
  LinkRefused,      // a check of "Link" failed (no length, no dump file, ...)
  ImageTooLarge,    // the image is over 4 MB
  ImageUnreadable,  // the image cannot be read
  DumpUnwritable,   // the dump file cannot be written
  CannotResume,     // --resume: FILE.part is not a part of this dump
};

// What stopped a run from outside the update.
enum class RunStop {
  NoWorker,     // the worker thread did not start
  Interrupted,  // a stop request (on the command line: Ctrl-C, SIGTERM or SIGHUP)
  PortLost,     // the device went away before the update began to talk to it
  ChipSilent,   // no progress for --timeout seconds (console text does not count)
};

// What happened in a run. A run records the one event that ended it; should
// more be set, they count in the order of the fields.
struct RunFacts {
  std::optional<RunRefusal> refusal;         // stopped before the port was asked for
  std::optional<RunStop> stop;               // stopped from outside
  std::optional<PortOpenResult> failedOpen;  // the open, or the reopen at 115200, failed
  std::optional<UpdateOutcome> outcome;      // the update ended on its own
  std::optional<VerifyResult> verify;        // --verify after a completed update
};

// The facts of a run refused before the port.
inline RunFacts RefusedRun(RunRefusal refusal) {
  RunFacts facts;
  facts.refusal = refusal;
  return facts;
}

RunExit ExitStatus(const RunFacts& facts);

// Typed state of one board, for a display that shows tiles rather than lines.
enum class BoardState {
  Idle,             // not started
  WaitingForPort,   // the port cannot be opened / went away; tried again every second (station)
  WaitingForBoard,  // port open, waiting for the chip's request (a reset)
  Running,          // the update is under way (Progress tells how far)
  Verifying,        // reading back / comparing
  Passed,           // the last board on this port is done, bytes right
  Failed,           // the last board failed; BoardRunSummary::reason says why
  Stopped,          // stopped by the user (stop one / stop all)
};

// What the summary of a run shows of one board's run.
struct BoardRunSummary {
  RunExit status = EXIT_DONE;
  std::string result;  // ResultWord
  int64_t bytes = 0;   // bytes of the last phase that the chip confirmed
  double seconds = 0;
  std::string verify;  // "ok", "differs", ... or "-"
  bool chipHeard = false;
  bool refused = false;     // stopped before the port: running again cannot help
  bool recordLost = false;  // the report's record could not be written (the status is then not 0)
  std::string reason;       // ResultReason: retry-failed, port-lost, verify-differs, ...
  int64_t run = 0;          // the board's number on its port
};

// A port's boards so far: a station counts them; a single run is 1/0 or 0/1.
struct StationCounts {
  int64_t passed = 0;
  int64_t failed = 0;
  BoardRunSummary last;
};
