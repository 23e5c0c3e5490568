// The command line's arguments: options and operands into CliOptions.
#pragma once

#include "cli/CliSession.h"

#include <iosfwd>
#include <optional>

// Parses argv. Returns nothing when `options` holds a command to run, or the
// exit status when the run stops here: 0 after --help or --version, 2 for bad
// usage, with the text for the user written to `out` or `err`.
std::optional<int> ParseCliArguments(int argc, const char* const* argv, CliOptions& options, std::ostream& out,
                                     std::ostream& err);
