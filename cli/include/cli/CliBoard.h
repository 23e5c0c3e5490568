// One board's run as a unit: the single-port command line runs one, a run
// over several ports runs one per port at once, each on a thread of its own
// with its own window logic, worker, engine and port, and a station runs
// them one after the other on each port.
#pragma once

#include "cli/CliReport.h"
#include "cli/CliSession.h"
#include "cli/CliSignals.h"
#include "cli/CliSink.h"

#include <cstdint>
#include <optional>
#include <string>

struct BoardSetUp {
  const CliOptions& options;  // `port` and `dumpFile` are this board's own
  std::string configDir;      // the folder with cfg.ini, boot.bin and flash.bin
  ICliSink& out;
  CSignalWatch& signals;
  // Station mode: the port waits for the next board as long as it takes;
  // --timeout counts only once the chip has sent something.
  bool waitForBoard = false;
};

struct BoardOutcome {
  CliFacts facts;
  std::optional<VerifyReport> verify;  // the comparison of --verify, when it ran
  bool chipHeard = false;              // the chip sent at least one byte
  std::optional<uint64_t> resumedFrom;  // dump --resume: the offset the chip was asked from
};

BoardOutcome RunBoardSession(const BoardSetUp& setUp);
