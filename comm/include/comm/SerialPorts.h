// The serial ports of this machine, for the command line's `ports` listing.
#pragma once

#include <string>
#include <vector>

struct SerialPortInfo {
  std::string device;        // "/dev/ttyUSB0"
  std::string byId;          // "/dev/serial/by-id/usb-FTDI_..." or empty
  std::string usbId;         // "0403:6001" for USB adapters, else empty
  std::string product;       // the adapter's product string, where it has one
  std::string manufacturer;  // likewise
  std::string driver;        // "ftdi_sio", "cdc_acm", "serial8250", ...
};

// Lists the serial devices that are present, in natural order (ttyS2 before
// ttyS10). Legacy ttyS ports without a UART behind them are left out, as are
// consoles and pseudo-terminals. The roots are parameters so that a test can
// point them at a tree of its own.
std::vector<SerialPortInfo> ListSerialPorts(const std::string& sysRoot = "/sys", const std::string& devRoot = "/dev");
