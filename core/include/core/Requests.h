// Data that travels with a request to the worker, taken over by the worker
// when it handles the message.
#pragma once

#include <string>

// With WM_PORT_OPEN: the port settings text "baud,parity,data,stop" and,
// when a front end names the device itself (/dev/ttyUSB0), its path; the
// port number of the message then only identifies the port.
struct PortOpenRequest {
  std::string settingsText;
  std::string devicePath;
};
