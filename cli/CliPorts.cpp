#include "cli/CliSession.h"
#include "comm/SerialPorts.h"

#include <cstdio>

int RunPortsCommand() {
  const auto ports = ListSerialPorts();
  if (ports.empty()) {
    std::fprintf(stderr, "tqupdate: no serial ports found\n");
    return EXIT_DONE;
  }
  for (const auto& p : ports) {
    std::string line = p.device;
    if (!p.usbId.empty()) line += "  usb " + p.usbId;
    std::string name = p.manufacturer;
    if (!p.product.empty()) name += (name.empty() ? "" : " ") + p.product;
    if (!name.empty()) line += "  " + name;
    if (!p.byId.empty()) line += "  " + p.byId;
    if (!p.driver.empty()) line += "  (" + p.driver + ")";
    std::printf("%s\n", line.c_str());
  }
  return EXIT_DONE;
}
