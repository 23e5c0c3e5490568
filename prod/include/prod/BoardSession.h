// One board's run as a unit: a run over several ports runs one per port at
// once, each on a thread of its own with its own window logic, worker,
// engine and port, and a station runs them one after the other on each port.
#pragma once

#include "app/ReadBack.h"
#include "prod/BoardJob.h"
#include "prod/BoardSink.h"
#include "prod/BoardStatus.h"
#include "prod/StopSource.h"

#include <cstdint>
#include <optional>
#include <string>

struct BoardSetUp {
  const JobOptions& options;  // `port` and `dumpFile` are this board's own
  std::string configDir;      // the folder with cfg.ini, boot.bin and flash.bin
  IBoardSink& out;
  CBoardStop stop;            // after a request the chip finishes the block in flight
  // Station mode: the port waits for the next board as long as it takes;
  // the time-out counts only once the chip has sent something.
  bool waitForBoard = false;
};

struct BoardOutcome {
  RunFacts facts;
  std::optional<VerifyReport> verify;  // the comparison of the read-back, when it ran
  bool chipHeard = false;              // the chip sent at least one byte
  std::optional<uint64_t> resumedFrom;  // dump --resume: the offset the chip was asked from
};

BoardOutcome RunBoardSession(const BoardSetUp& setUp);
