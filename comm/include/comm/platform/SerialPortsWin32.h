// Windows only: the port list read from a given registry key, so that a test
// can point it at a key of its own instead of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM.
#pragma once

#include "comm/SerialPorts.h"

#include <string>
#include <vector>

// `root` is an HKEY (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, ...).
std::vector<SerialPortInfo> ListSerialPortsInKey(void* root, const std::string& subKey);
