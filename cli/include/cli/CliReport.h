// The end of a command-line run: its exit status; the --verify comparison
// and the port texts it shares with the window are in app/.
#pragma once

#include "app/PortText.h"
#include "app/ReadBack.h"
#include "cli/CliStatus.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

