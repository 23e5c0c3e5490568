// Why a port could not be opened, in words that name the device: shared by
// the command line and the window.
#pragma once

#include "core/View.h"

#include <cstdint>
#include <string>

// The port an open asked for, as the failure text names it.
struct PortPlace {
  std::string name;         // what the operator named: "COM2" or a device path
  std::string device;       // the device that was opened; empty when no device was named
  bool mapped = false;      // `device` comes from section PortMap of cfg.ini
  std::string ownerGroup;   // the group that owns the device, when it is known
};

class CConfigFile;

// The port an open asks for: `devicePath` when a front end named one, else
// COM number n, through PortMap in cfg.ini or else `ownDevice`, the serial
// port's own naming of COM n (empty outside 1..1024).
PortPlace PlaceOfPort(const std::string& devicePath, int32_t n, const CConfigFile& config,
                      const std::string& ownDevice);

// Why a port cannot be opened, without naming it: "busy: another program ...".
std::string PortOpenReason(PortOpenResult result, const PortPlace& place);

// Why the port could not be opened, as one message: "cannot open the port
// COM2 (/dev/ttyUSB1, from PortMap in cfg.ini): busy: ...".
std::string PortOpenFailureText(PortOpenResult result, const PortPlace& place);
