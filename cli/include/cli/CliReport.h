// The end of a command-line run: its exit status and the --verify comparison.
#pragma once

#include "cli/CliStatus.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The read-back compared with the image: where they first differ, if they do.
struct VerifyReport {
  VerifyResult result = VerifyResult::Same;
  size_t offset = 0;  // with Differs
  uint8_t imageByte = 0;
  uint8_t flashByte = 0;
  size_t imageSize = 0;
  size_t readBackSize = 0;
};

VerifyReport CompareReadBack(const std::vector<uint8_t>& image, const std::vector<uint8_t>& back);
// The log line for a comparison ("verify ok." or what differs).
std::string VerifyLine(const VerifyReport& report);
