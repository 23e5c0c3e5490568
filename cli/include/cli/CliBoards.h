// A run over several ports (-p repeated, or a comma list), station mode
// (--loop) and the per-board record (--report) on the command line: the
// production library runs the boards; the command line shows them and ends
// with the summary table and the exit status.
#pragma once

#include "cli/CliSession.h"

// True when the options ask for the board runner rather than a plain run.
bool WantsBoardRunner(const CliOptions& o);
int RunBoards(const CliOptions& o);
