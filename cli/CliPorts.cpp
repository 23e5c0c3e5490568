#include "prod/BoardStatus.h"
#include "app/PortText.h"
#include "cli/CliSession.h"
#include "comm/ComPort.h"
#include "comm/SerialPorts.h"
#include "core/platform/HostFiles.h"

#include <cstdio>

std::string PortAccessProblem(const std::string& device) {
  const int err = host::AccessError(device, host::Access::ReadWrite);
  if (err == 0) return {};
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
