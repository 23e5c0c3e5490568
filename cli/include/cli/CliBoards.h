// The command line's view of a run over several ports (-p repeated, or a
// comma list), station mode (--loop) and the per-board record (--report).
#pragma once

#include "cli/CliBoardConsole.h"
#include "cli/CliSession.h"
#include "prod/Production.h"

#include <vector>

// True when the options ask for the board runner's table and board names
// rather than a plain run on one port.
bool WantsBoardRunner(const CliOptions& o);

// The table that ends such a run on stdout: each board's result, or in a
// station each port's counts.
void PrintSummary(CBoardConsole& console, const std::vector<BoardPort>& boards, bool station,
                  const CProduction& production);
