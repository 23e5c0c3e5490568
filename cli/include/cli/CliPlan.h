// The first step of a command-line run: everything it decides from the
// options and the configuration before the port is opened.
#pragma once

#include "app/DlgLogic.h"
#include "app/DumpApp.h"
#include "cli/CliSession.h"
#include "cli/CliStatus.h"
#include "core/Batch.h"
#include "core/SettingsModel.h"
#include "core/UpdateSettings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct CliPlan {
  UpdateSettings settings;
  std::string devicePath;  // a device the options named instead of a COM number
  // --verify: program the image, then read the range back into memory, as
  // a batch of two kept in memory. Empty for every other run.
  std::vector<BatchEntry> verifyBatch;
  int64_t progressTotal = 0;
  // `dump`: the file the finished dump replaces; the update writes
  // settings.m_strDumpFile (the .part beside it). Empty for other commands.
  std::string dumpTarget;
  // A batch run: the Bat list of cfg.ini as it was read and checked.
  std::vector<BatchEntry> batchList;

  bool Verifies() const { return !verifyBatch.empty(); }
};

// A reason to stop before the port, with the message that explains it.
struct PlanRefusal {
  CliRefusal reason;
  std::string text;
};

// Checks that a dump can be written to `path` without emptying an existing
// file: its folder is writable and the path is not a directory, a device or
// a FIFO.
std::optional<PlanRefusal> CheckDumpFile(const std::string& path);

// Fills the plan from the options and the configuration: the list choices
// into the model, the image into the application object, the update
// settings into the plan.
std::optional<PlanRefusal> MakePlan(const CliOptions& o, CSettingsModel& model, CDlgLogic& logic, CDumpApp& app,
                                    CliPlan& plan);
