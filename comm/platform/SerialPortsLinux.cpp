// Serial ports as Linux shows them: /sys/class/tty/<name>/device exists for
// ports with hardware (or a driver) behind them, USB descriptors sit a few
// levels up that device's path, and udev links stable names into
// /dev/serial/by-id.
#include "comm/SerialPorts.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fcntl.h>
#include <map>
#include <system_error>
#include <tuple>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string ReadAttr(const fs::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {};
  char buffer[256];
  const ssize_t got = ::read(fd, buffer, sizeof buffer);
  ::close(fd);
  if (got <= 0) return {};
  std::string line(buffer, static_cast<size_t>(got));
  line = line.substr(0, line.find('\n'));
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  return line;
}

// The nearest directory at or above `dir` that holds USB descriptors; the
// tty's device is the USB interface or a port below it, so few steps suffice.
fs::path FindUsbDevice(fs::path dir, const fs::path& stopAt) {
  std::error_code ec;
  for (int step = 0; step < 4 && !dir.empty() && dir != stopAt && dir != dir.root_path(); ++step) {
    if (fs::exists(dir / "idVendor", ec) && fs::exists(dir / "idProduct", ec)) return dir;
    dir = dir.parent_path();
  }
  return {};
}

// "ttyUSB10" sorts as ("ttyUSB", 10).
std::tuple<std::string, long, std::string> NaturalKey(const std::string& name) {
  size_t digits = name.size();
  while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1]))) --digits;
  if (digits == name.size() || name.size() - digits > 9) return {name, -1, name};
  return {name.substr(0, digits), std::stol(name.substr(digits)), name};
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts(const std::string& sysRoot, const std::string& devRoot) {
  std::error_code ec;
  const fs::path classDir = fs::path(sysRoot) / "class" / "tty";
  const fs::path devDir(devRoot);

  // Stable names first: device path -> by-id link.
  std::map<fs::path, std::string> byId;
  for (const auto& link : fs::directory_iterator(devDir / "serial" / "by-id", ec)) {
    std::error_code linkEc;
    const fs::path target = fs::weakly_canonical(link.path(), linkEc);
    if (!linkEc) byId.emplace(target, link.path().string());
  }

  std::vector<SerialPortInfo> ports;
  for (const auto& entry : fs::directory_iterator(classDir, ec)) {
    const std::string name = entry.path().filename().string();
    const fs::path ttyDir = entry.path();
    std::error_code devEc;
    const fs::path device = fs::canonical(ttyDir / "device", devEc);
    if (devEc) continue;  // consoles, virtual terminals, pseudo-terminals
    SerialPortInfo info;
    std::error_code drvEc;
    const fs::path driver = fs::read_symlink(ttyDir / "device" / "driver", drvEc);
    if (!drvEc) info.driver = driver.filename().string();
    // The legacy 8250 driver registers its ports whether a UART is there or
    // not; "type" 0 means none was found.
    if (name.rfind("ttyS", 0) == 0 && fs::exists(ttyDir / "type", devEc) && ReadAttr(ttyDir / "type") == "0")
      continue;
    info.device = (devDir / name).string();
    const fs::path usb = FindUsbDevice(device, fs::path(sysRoot));
    if (!usb.empty()) {
      info.usbId = ReadAttr(usb / "idVendor") + ":" + ReadAttr(usb / "idProduct");
      info.product = ReadAttr(usb / "product");
      info.manufacturer = ReadAttr(usb / "manufacturer");
    }
    std::error_code canonEc;
    const fs::path devPath = fs::weakly_canonical(info.device, canonEc);
    auto it = byId.find(canonEc ? fs::path(info.device) : devPath);
    if (it != byId.end()) info.byId = it->second;
    ports.push_back(std::move(info));
  }
  std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
    return NaturalKey(fs::path(a.device).filename().string()) < NaturalKey(fs::path(b.device).filename().string());
  });
  return ports;
}
