// Where a factory view gets its job: the main window's current settings, or,
// opened on its own (tqupdater --factory), those cfg.ini remembers.
#pragma once

#include "app/window/FactoryJob.h"
#include "core/SettingsModel.h"

#include <string>

struct FactoryStart {
  CSettingsModel model;
  FactoryChoices choices;
};

// cfg.ini's remembered selections and the window's Verify choice; no image
// or dump file, as the main window does not keep them across runs.
FactoryStart RememberedFactoryStart(const std::string& configDir);
