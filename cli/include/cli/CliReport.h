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

// The port a run asked for, as the failure text names it.
struct PortPlace {
  std::string name;         // what the options or cfg.ini named: "COM2" or a device path
  std::string device;       // the device that was opened; empty when no device was named
  bool mapped = false;      // `device` comes from section PortMap of cfg.ini
  std::string ownerGroup;   // the group that owns the device, when it is known
};

// Why a port cannot be opened, without naming it: "busy: another program ...".
std::string PortOpenReason(PortOpenResult result, const PortPlace& place);

// Why the port could not be opened, as one message: "cannot open the port
// COM2 (/dev/ttyUSB1, from PortMap in cfg.ini): busy: ...".
std::string PortOpenFailureText(PortOpenResult result, const PortPlace& place);
