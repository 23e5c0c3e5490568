// Serial ports as Windows lists them: the drivers of present ports enter
// them in HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, one value each, named after the
// kernel device (\Device\Serial0, \Device\VCP0, ...) with the COM name as data.
// The COM number is the one the window's port list and --port COMn mean.
#include "comm/SerialPorts.h"
#include "comm/platform/SerialPortsWin32.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <tuple>

namespace {

// "COM10" sorts as ("COM", 10), after "COM9".
std::tuple<std::string, long, std::string> NaturalKey(const std::string& name) {
  size_t digits = name.size();
  while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1]))) --digits;
  if (digits == name.size() || name.size() - digits > 9) return {name, -1, name};
  return {name.substr(0, digits), std::stol(name.substr(digits)), name};
}

// The data of a string value, without the terminating zeros.
std::string StringData(const std::vector<char>& data, DWORD size) {
  std::string text(data.data(), std::min<size_t>(size, data.size()));
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPortsInKey(void* root, const std::string& subKey) {
  std::vector<SerialPortInfo> ports;
  HKEY key = nullptr;
  if (::RegOpenKeyExA(static_cast<HKEY>(root), subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return ports;
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD nameSize = sizeof name;
    std::vector<char> data(256);
    DWORD dataSize = static_cast<DWORD>(data.size());
    DWORD type = 0;
    const LONG rc = ::RegEnumValueA(key, index, name, &nameSize, nullptr, &type,
                                    reinterpret_cast<BYTE*>(data.data()), &dataSize);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS || type != REG_SZ) continue;
    SerialPortInfo info;
    info.device = StringData(data, dataSize);
    if (info.device.empty()) continue;
    info.driver = std::string(name, nameSize);
    ports.push_back(std::move(info));
  }
  ::RegCloseKey(key);
  std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
    return NaturalKey(a.device) < NaturalKey(b.device);
  });
  return ports;
}

// The roots of the Linux listing mean nothing here.
std::vector<SerialPortInfo> ListSerialPorts(const std::string& /*sysRoot*/, const std::string& /*devRoot*/) {
  return ListSerialPortsInKey(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM");
}
