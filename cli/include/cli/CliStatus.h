// How a command-line run ended, as typed facts, and the one function that
// turns them into the exit status scripts rely on.
#pragma once

#include "app/ReadBack.h"
#include "core/View.h"

#include <optional>

// Exit statuses scripts rely on.
enum CliExit : int {
  EXIT_DONE = 0,        // the update completed
  EXIT_FAILED = 1,      // retry limit, time-outs, file errors, device gone, verify mismatch
  EXIT_USAGE = 2,       // bad usage or configuration
  EXIT_NO_PORT = 3,     // the port could not be opened
  EXIT_SILENT = 4,      // the update made no progress for --timeout seconds
  EXIT_INTERRUPTED = 130,
};

// Why a run stopped before it asked for the port.
enum class CliRefusal {
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
enum class CliStop {
  NoWorker,     // the worker thread did not start
  Interrupted,  // Ctrl-C, SIGTERM or SIGHUP
  PortLost,     // the device went away before the update began to talk to it
  ChipSilent,   // no progress for --timeout seconds (console text does not count)
};

// What happened in a run. A run records the one event that ended it; should
// more be set, they count in the order of the fields.
struct CliFacts {
  std::optional<CliRefusal> refusal;         // stopped before the port was asked for
  std::optional<CliStop> stop;               // stopped from outside
  std::optional<PortOpenResult> failedOpen;  // the open, or the reopen at 115200, failed
  std::optional<UpdateOutcome> outcome;      // the update ended on its own
  std::optional<VerifyResult> verify;        // --verify after a completed update
};

// The facts of a run refused before the port.
inline CliFacts RefusedRun(CliRefusal refusal) {
  CliFacts facts;
  facts.refusal = refusal;
  return facts;
}

CliExit ExitStatus(const CliFacts& facts);
