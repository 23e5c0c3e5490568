#include "app/PortText.h"

#include "core/Config.h"
#include "core/platform/HostFiles.h"

PortPlace PlaceOfPort(const std::string& devicePath, int32_t n, const CConfigFile& config,
                      const std::string& ownDevice) {
  PortPlace place;
  if (!devicePath.empty()) {
    place.name = place.device = devicePath;
  } else {
    place.name = "COM" + std::to_string(n);
    if (auto mapped = config.PortMapPath(n)) {
      place.device = *mapped;
      place.mapped = true;
    } else {
      place.device = ownDevice;
    }
  }
  if (!place.device.empty()) place.ownerGroup = host::FileGroupName(place.device);
  return place;
}

std::string PortOpenReason(PortOpenResult result, const PortPlace& place) {
  switch (result) {
    case PortOpenResult::Opened:
      return "it opened";
    case PortOpenResult::BadPortNumber:
      return "no device: COM numbers run from 1 to 1024";
    case PortOpenResult::NoDevice:
      return "no such device (is the adapter plugged in? `tqupdate ports` lists the serial ports)";
    case PortOpenResult::Busy:
      return "busy: another program has it open or locked";
    case PortOpenResult::PermissionDenied:
      if (place.ownerGroup.empty() || place.ownerGroup == "root")
        return "permission denied";
      return "permission denied: the device belongs to the group " + place.ownerGroup +
             "; join it with \"sudo usermod -aG " + place.ownerGroup + " $USER\", then log in again";
    case PortOpenResult::NotSerial:
      return "not a serial device";
    case PortOpenResult::SetupFailed:
      return "it opened, but refused the line settings";
    case PortOpenResult::OtherError:
      break;
  }
  return "the system refused it";
}

std::string PortOpenFailureText(PortOpenResult result, const PortPlace& place) {
  std::string where = place.name;
  if (place.mapped) where += " (" + place.device + ", from PortMap in cfg.ini)";
  else if (!place.device.empty() && place.device != place.name) where += " (" + place.device + ")";
  return "cannot open the port " + where + ": " + PortOpenReason(result, place);
}
