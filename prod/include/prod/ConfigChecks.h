// The checks of the configuration a board's run makes before the port
// is opened: every list entry the chip is told about must exist, and a
// batch list must hold only entries the update can carry out.
#pragma once

#include "prod/BoardPlan.h"
#include "core/Batch.h"
#include "core/Config.h"
#include "core/SettingsModel.h"

#include <optional>
#include <string>
#include <vector>

// Every entry the run sends to the chip (chip model, RAM type, RAM size,
// crystal, flash type, flash model) and, unless the run names a device or
// COM number, the port must be selected. The window leaves a list without
// selection when cfg.ini's Setting points past it, and the chip then gets
// 0xFF; the command line refuses instead, naming the list, the position
// and the list's length.
std::optional<PlanRefusal> CheckNeededEntries(const CSettingsModel& model, bool portGiven);

// The text of a missing baud entry, naming the position and the list's length.
std::string NoBaudRateText(const CSettingsModel& model, bool movedByCrystal);

// Reads the Bat list once and checks every entry: at least one entry, an
// operation of 0 (program), 1 (erase) or 2 (dump), a file for a program or
// a dump, a length above 0 for an erase or a dump. The run then works from
// this copy, so what was checked is what runs.
std::optional<PlanRefusal> ReadBatchList(const CConfigFile& config, std::vector<BatchEntry>& entries);
