#include "comm/SerialPorts.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// A miniature /sys and /dev laid out as Linux lays them out.
class SerialPortsTest : public ::testing::Test {
protected:
  void SetUp() override {
    fs::create_directories(m_sys / "class" / "tty");
    fs::create_directories(m_dev / "serial" / "by-id");
  }

  void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text << "\n";
  }
  // /sys/class/tty/<name> with device -> devDir and device/driver -> driver.
  void AddTty(const std::string& name, const fs::path& devDir, const std::string& driver) {
    const fs::path tty = m_sys / "class" / "tty" / name;
    fs::create_directories(tty);
    fs::create_directories(devDir);
    fs::create_directory_symlink(devDir, tty / "device");
    fs::create_directories(m_sys / "bus" / driver);
    fs::create_directory_symlink(m_sys / "bus" / driver, devDir / "driver");
    Write(m_dev / name, "");
  }

  TempDir m_dir;
  fs::path m_root = m_dir.Path();
  fs::path m_sys = m_root / "sys";
  fs::path m_dev = m_root / "dev";
};

TEST_F(SerialPortsTest, ListsPresentPortsWithUsbDetailsInNaturalOrder) {
  // A USB adapter: tty -> port -> interface -> USB device with descriptors.
  const fs::path usbDev = m_sys / "devices" / "pci0" / "usb1" / "1-2";
  Write(usbDev / "idVendor", "0403");
  Write(usbDev / "idProduct", "6001");
  Write(usbDev / "product", "FT232R USB UART");
  Write(usbDev / "manufacturer", "FTDI");
  AddTty("ttyUSB0", usbDev / "1-2:1.0" / "ttyUSB0", "ftdi_sio");
  fs::create_symlink("../../ttyUSB0", m_dev / "serial" / "by-id" / "usb-FTDI_FT232R_A1-if00-port0");

  // Legacy ports: one with a UART (type 4), one without (type 0).
  AddTty("ttyS10", m_sys / "devices" / "platform" / "serial8250" / "p10", "serial8250");
  Write(m_sys / "class" / "tty" / "ttyS10" / "type", "4");
  AddTty("ttyS2", m_sys / "devices" / "platform" / "serial8250" / "p2", "serial8250");
  Write(m_sys / "class" / "tty" / "ttyS2" / "type", "4");
  AddTty("ttyS3", m_sys / "devices" / "platform" / "serial8250" / "p3", "serial8250");
  Write(m_sys / "class" / "tty" / "ttyS3" / "type", "0");
  // A virtual terminal has no device behind it.
  fs::create_directories(m_sys / "class" / "tty" / "tty1");

  const auto ports = ListSerialPorts(m_sys.string(), m_dev.string());
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports[0].device, (m_dev / "ttyS2").string());
  EXPECT_EQ(ports[1].device, (m_dev / "ttyS10").string());
  EXPECT_EQ(ports[1].driver, "serial8250");
  EXPECT_TRUE(ports[1].usbId.empty());
  EXPECT_TRUE(ports[1].byId.empty());

  const auto& usb = ports[2];
  EXPECT_EQ(usb.device, (m_dev / "ttyUSB0").string());
  EXPECT_EQ(usb.usbId, "0403:6001");
  EXPECT_EQ(usb.product, "FT232R USB UART");
  EXPECT_EQ(usb.manufacturer, "FTDI");
  EXPECT_EQ(usb.driver, "ftdi_sio");
  EXPECT_EQ(usb.byId, (m_dev / "serial" / "by-id" / "usb-FTDI_FT232R_A1-if00-port0").string());
}

TEST_F(SerialPortsTest, MissingTreesGiveAnEmptyList) {
  EXPECT_TRUE(ListSerialPorts((m_root / "nothing").string(), (m_root / "none").string()).empty());
}

}  // namespace
