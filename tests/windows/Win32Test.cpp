// What only the Windows build has: COM names, the registry's port list,
// device names that must never be taken for files, and a serial open that
// refuses anything but a serial line.
#include "comm/ComPort.h"
#include "comm/FileAccess.h"
#include "comm/platform/SerialPlatform.h"
#include "comm/platform/SerialPortsWin32.h"
#include "tests/support/TempDir.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(Win32Serial, ComNumbersNameDevicesThatWorkAboveNine) {
  // Without the \\.\ prefix COM10 and up cannot be opened.
  EXPECT_EQ(serial::DeviceNameForNumber(5), "\\\\.\\COM5");
  EXPECT_EQ(serial::DeviceNameForNumber(12), "\\\\.\\COM12");
  CComPort port;
  ASSERT_TRUE(port.SetPortNumber(1024));
  EXPECT_EQ(port.GetPortName(), "\\\\.\\COM1024");
  EXPECT_FALSE(port.SetPortNumber(0));
  EXPECT_EQ(port.GetPortName(), "");
}

TEST(Win32Serial, OpenRefusesWhatIsNotASerialLine) {
  TempDir dir;
  int err = 0;
  EXPECT_EQ(serial::OpenDevice(dir.Write("plain.bin", "x"), err), serial::kNoPort);
  EXPECT_EQ(err, ENOTTY);
  EXPECT_EQ(serial::OpenDevice("NUL", err), serial::kNoPort);
  EXPECT_EQ(err, ENOTTY);
  EXPECT_EQ(serial::OpenDevice("\\\\.\\COM199", err), serial::kNoPort);
  EXPECT_EQ(err, ENOENT);
  CComPort port;
  port.SetPortName("\\\\.\\COM198", 198);
  EXPECT_FALSE(port.OpenPort());
  EXPECT_EQ(port.LastError(), ENOENT);
}

TEST(Win32Serial, WaiterWakesAndRemembersAWake) {
  serial::CPortWaiter waiter;
  ASSERT_TRUE(waiter.IsValid());
  int err = 0;
  waiter.Wake();
  EXPECT_EQ(waiter.Wait(serial::kNoPort, true, false, err), serial::CPortWaiter::kWoken);
  waiter.Wake();
  waiter.Reset();
  waiter.Wake();
  EXPECT_EQ(waiter.Wait(serial::kNoPort, true, false, err), serial::CPortWaiter::kWoken);
}

// A key of the test's own in HKCU, laid out like HKLM\HARDWARE\DEVICEMAP\SERIALCOMM.
class PortListTest : public ::testing::Test {
protected:
  static constexpr const char* kKey = "Software\\TqUpdaterTest\\SERIALCOMM";
  void SetUp() override {
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_key, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    ::RegCloseKey(m_key);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\TqUpdaterTest");
  }
  void Put(const char* name, const char* com) {
    ::RegSetValueExA(m_key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(com), static_cast<DWORD>(strlen(com) + 1));
  }
  HKEY m_key = nullptr;
};

TEST_F(PortListTest, PortsComeInNaturalOrderWithTheirDriverNames) {
  Put("\\Device\\Serial1", "COM10");
  Put("\\Device\\VCP0", "COM2");
  Put("\\Device\\Serial0", "COM1");
  const DWORD number = 7;  // not a string: skipped
  ::RegSetValueExA(m_key, "\\Device\\Odd", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
  const auto ports = ListSerialPortsInKey(HKEY_CURRENT_USER, kKey);
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports[0].device, "COM1");
  EXPECT_EQ(ports[0].driver, "\\Device\\Serial0");
  EXPECT_EQ(ports[1].device, "COM2");
  EXPECT_EQ(ports[1].driver, "\\Device\\VCP0");
  EXPECT_EQ(ports[2].device, "COM10");
}

TEST_F(PortListTest, AMissingKeyListsNothing) {
  EXPECT_TRUE(ListSerialPortsInKey(HKEY_CURRENT_USER, "Software\\TqUpdaterTest\\None").empty());
}

TEST(Win32Files, DeviceNamesAreNeverTakenForFiles) {
  // "NUL" (like CON or COM1) opens a device, whatever folder it is named in.
  CHostFileAccess files;
  std::string error;
  EXPECT_EQ(files.CreateDump("NUL", error), nullptr);
  EXPECT_EQ(error, "not a regular file");
  uint64_t size = 0;
  EXPECT_FALSE(files.FileSize("NUL", size, error));
}

}  // namespace
