// What every board of the factory view gets: the main window's settings
// (its selections in the settings model, the image or dump file, verify)
// turned into the production library's job, and the words that show it.
#pragma once

#include "core/SettingsModel.h"
#include "prod/Production.h"

#include <string>
#include <vector>

struct FactoryChoices {
  std::string image;        // the act "Program": the image
  std::string dumpPattern;  // the act "Dump": a file pattern with {port} and {n}
  bool verify = true;       // program: read back and compare
};

// The entry at `pos` as the library's list choice: its text when that text
// picks this very entry, else the position in decimal.
std::string ListChoice(const std::vector<std::string>& entries, int32_t pos);

// The job for the model's selections.
JobOptions MakeFactoryJob(const CSettingsModel& model, const FactoryChoices& choices);

// The job in lines for the operator to read: act, address and length,
// file, chip, RAM, crystal, flash, baud, verify.
std::vector<std::string> DescribeFactoryJob(const CSettingsModel& model, const FactoryChoices& choices);

// A dump pattern for the file the main window chose: "DIR/NAME-{port}-{n}.EXT".
std::string DumpPatternFor(const std::string& dumpFile);
