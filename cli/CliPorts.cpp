#include "cli/CliReport.h"
#include "cli/CliSession.h"
#include "comm/ComPort.h"
#include "comm/SerialPorts.h"
#include "core/platform/HostFiles.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

std::string PortAccessProblem(const std::string& device) {
  if (::access(device.c_str(), R_OK | W_OK) == 0) return {};
  const int err = errno;
  const PortPlace place{device, device, false, host::FileGroupName(device)};
  return PortOpenReason(PortOpenResultFromError(err), place);
}

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
    if (const std::string why = PortAccessProblem(p.device); !why.empty()) line += "  [cannot open: " + why + "]";
    std::printf("%s\n", line.c_str());
  }
  return EXIT_DONE;
}
