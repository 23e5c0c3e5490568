// The first step of a board's run: everything it decides from the
// options and the configuration before the port is opened.
#pragma once

#include "app/DlgLogic.h"
#include "app/DumpApp.h"
#include "prod/BoardFiles.h"
#include "prod/BoardJob.h"
#include "prod/BoardStatus.h"
#include "core/Batch.h"
#include "core/SettingsModel.h"
#include "core/UpdateSettings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A dump that runs into FILE.part beside its FILE.
struct DumpFileJob {
  std::string part;    // where the update writes
  std::string target;  // the file the finished dump replaces
  int64_t length = 0;  // the bytes the update asks the chip for
  WorkingFilePlan file;  // the range of the whole dump, and where a resumed one goes on
};

struct BoardPlan {
  UpdateSettings settings;
  std::string devicePath;  // a device the options named instead of a COM number
  // --verify: program the image, then read the range back into memory, as
  // a batch of two kept in memory. Empty for every other run.
  std::vector<BatchEntry> verifyBatch;
  int64_t progressTotal = 0;
  // `dump`, and each dump entry of a batch: the update writes FILE.part,
  // which replaces FILE once that dump is complete. Empty for other commands.
  std::vector<DumpFileJob> dumpFiles;
  // `dump --verify`: the dump is read twice, as a batch that settles every block.
  bool checksDump = false;
  // A line for the log before the run starts (what --resume found).
  std::string note;
  // A batch run: the Bat list of cfg.ini as it was read and checked.
  std::vector<BatchEntry> batchList;

  bool Verifies() const { return !verifyBatch.empty(); }
  // The run is a batch of its own making rather than the act it checked.
  bool RunsAsBatch() const { return Verifies() || checksDump; }
};

// A reason to stop before the port, with the message that explains it.
struct PlanRefusal {
  RunRefusal reason;
  std::string text;
};

// Checks that a dump can be written to `path` without emptying an existing
// file: its folder is writable and the path is not a directory, a device or
// a FIFO.
std::optional<PlanRefusal> CheckDumpFile(const std::string& path);

// Fills the plan from the options and the configuration: the list choices
// into the model, the image into the application object, the update
// settings into the plan.
std::optional<PlanRefusal> MakePlan(const JobOptions& o, CSettingsModel& model, CDlgLogic& logic, CDumpApp& app,
                                    BoardPlan& plan);
