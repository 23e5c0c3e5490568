// Boards run at once, each on a thread of its own with its own window logic,
// worker, engine and port; a station runs board after board on each port; each
// board run's record goes to the report (JSON Lines, one write + fsync each).
#pragma once

#include "prod/BoardJob.h"       // JobOptions, JobCommand
#include "prod/BoardNames.h"     // BoardPort, PortName, SplitPorts, ExpandFileName, CheckDumpPattern
#include "prod/BoardsDisplay.h"  // IBoardsDisplay
#include "prod/BoardStatus.h"    // RunFacts, RunExit, ExitStatus(facts), BoardState, BoardRunSummary, StationCounts

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What every board of a run shares.
struct ProductionSetUp {
  JobOptions job;          // the command and its settings; job.port is ignored; for a dump,
                           // job.dumpFile is a pattern with {port} and {n} (as the command line's)
  std::string configDir;   // the folder with cfg.ini, boot.bin, flash.bin
  std::vector<BoardPort> boards;
  bool station = false;    // each port: board after board until stopped
  std::string reportFile;  // empty: no report
};

// Why a run was refused before any board started.
struct ProductionRefusal {
  RunRefusal reason;
  std::string text;   // names the file, port or value and the reason
};

class CProduction {
public:
  CProduction(ProductionSetUp setUp, IBoardsDisplay& display);
  ~CProduction();  // StopAll(), then waits for every board thread
  CProduction(const CProduction&) = delete;
  CProduction& operator=(const CProduction&) = delete;

  // The checks made once for all boards (ports, dump pattern, configuration,
  // the plan of the first board, the report file); nothing when the run may start.
  std::optional<ProductionRefusal> Check();
  // Check(), then one thread per board. False when refused: the refusal was
  // given to display.Message(kNoBoard, text) and Refusal() holds it.
  bool Start();
  const std::optional<ProductionRefusal>& Refusal() const;

  // The board finishes the block in flight and begins nothing new (the same
  // wind-down as Ctrl-C on the command line). Any thread, any number of times.
  void StopAll();
  void Stop(size_t board);

  bool Finished() const;  // every board thread has ended (true before Start)
  // Waits up to `span` for Finished(); returns Finished().
  bool WaitFor(std::chrono::milliseconds span);
  void Wait();

  size_t Count() const;
  // Once every board has ended: each board's last run and its port's counts.
  std::vector<BoardRunSummary> Results() const;
  std::vector<StationCounts> Counts() const;
  // The command line's exit status for the run: 130 after StopAll, else that of the
  // first failed board in port order, else 0.
  int ExitStatus() const;

private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};
