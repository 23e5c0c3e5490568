// The simulator on a real pseudo-terminal: the chipsim program as a child
// process, and the runner in a thread of the test.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <memory>

#include "tests/sim/ScriptedHost.h"
#include "tests/sim/SimThread.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

using namespace std::chrono_literals;

namespace {

namespace fs = std::filesystem;

class ChipSimDeviceTest : public ::testing::Test {
protected:
  std::vector<std::string> Args(const std::string& log, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--config",     TQ_SOURCE_DIR "/config",
                                     "--flash-file", m_dir.File("flash.bin"),
                                     "--flash-size", "1048576",
                                     "--repeat",     "50",
                                     "--end-idle",   "200",
                                     "--log",        m_dir.File(log)};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }
  std::string Log(const std::string& name) { return TempDir::Read(m_dir.File(name)); }

  // chipsim as a child process; the first line on its stdout, the device,
  // goes to *device (empty when none came).
  std::unique_ptr<CChildProcess> StartSim(std::vector<std::string> args, std::string* device) {
    args.insert(args.begin(), TQ_BIN_DIR "/chipsim");
    const std::string name = "sim" + std::to_string(++m_nStarted);
    auto sim = std::make_unique<CChildProcess>(args, m_dir.File(name + ".out"), m_dir.File(name + ".err"));
    *device = sim->FirstLine(5s);
    return sim;
  }

  TempDir m_dir;
  int m_nStarted = 0;
  Bytes m_boot = TempDir::ReadBytes(TQ_SOURCE_DIR "/config/boot.bin");
  Bytes m_loader = TempDir::ReadBytes(TQ_SOURCE_DIR "/config/flash.bin");
};

TEST_F(ChipSimDeviceTest, ProgramInOneRunDumpInTheNextThroughTheLink) {
  const std::string link = m_dir.File("ttyCHIP");
  const Bytes image = Pattern(10000);
  std::string device;
  {
    auto sim = StartSim(Args("run1.log", {"--link", link, "--sessions", "1"}), &device);
    ASSERT_FALSE(device.empty());
    EXPECT_EQ(fs::read_symlink(link).string(), device);
    CDeviceLine line(link);
    ASSERT_TRUE(line.IsOpen());
    CScriptedHost host(line);
    ASSERT_TRUE(host.Download(m_boot, m_loader)) << Log("run1.log");  // closes and reopens the device on the way
    ASSERT_TRUE(host.Program(0x8000, image)) << Log("run1.log");
    line.Close();
    EXPECT_EQ(sim->Wait(5s), 0) << Log("run1.log");
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  }
  auto sim = StartSim(Args("run2.log", {"--sessions", "1"}), &device);
  ASSERT_FALSE(device.empty());
  CDeviceLine line(device);
  CScriptedHost host(line);
  ASSERT_TRUE(host.Download(m_boot, m_loader)) << Log("run2.log");
  Bytes dump;
  ASSERT_TRUE(host.Dump(0x8000, 10000, &dump)) << Log("run2.log");
  EXPECT_EQ(dump, image);
  EXPECT_EQ(sim->Wait(5s), 0) << Log("run2.log");
}

TEST_F(ChipSimDeviceTest, FailedCheckMakesTheExitStatusNonZero) {
  std::string device;
  auto sim = StartSim(Args("sim.log", {"--sessions", "1"}), &device);
  ASSERT_FALSE(device.empty());
  CDeviceLine line(device);
  CScriptedHost host(line);
  ASSERT_TRUE(host.Download(m_boot, m_loader)) << Log("sim.log");
  Bytes frame = CScriptedHost::ControlInfo(1, 0, 4096);
  frame.back() ^= 0x01;
  line.Send(frame);
  EXPECT_EQ(host.Answer(), 'Y');
  ASSERT_TRUE(host.Erase(0, 4096));
  EXPECT_EQ(sim->Wait(5s), 1);
  EXPECT_NE(Log("sim.log").find("CHECK FAILED"), std::string::npos);
}

TEST_F(ChipSimDeviceTest, ResetSignalRestartsAndStopSignalEndsCleanly) {
  const std::string link = m_dir.File("ttyCHIP");
  std::string device;
  auto sim = StartSim(Args("sim.log", {"--link", link}), &device);
  ASSERT_FALSE(device.empty());
  CDeviceLine line(link);
  CScriptedHost host(line);
  ASSERT_TRUE(host.Download(m_boot, m_loader)) << Log("sim.log");
  sim->Signal(SIGUSR1);
  EXPECT_EQ(host.Answer(), 'X');  // a new session's request
  sim->Signal(SIGTERM);
  EXPECT_EQ(sim->Wait(5s), 0) << Log("sim.log");
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST_F(ChipSimDeviceTest, VanishingChipClosesTheDeviceAfterItsBytes) {
  std::string device;
  auto sim = StartSim(Args("sim.log", {"--vanish", "dump:5000"}), &device);
  ASSERT_FALSE(device.empty());
  CDeviceLine line(device);
  CScriptedHost host(line, 500);
  ASSERT_TRUE(host.Download(m_boot, m_loader)) << Log("sim.log");
  Bytes dump;
  EXPECT_FALSE(host.Dump(0, 8192, &dump));
  EXPECT_EQ(dump.size(), 5000u);
  EXPECT_EQ(sim->Wait(5s), 0) << Log("sim.log");
}

// The runner in this process at 115200 baud: the line may not run faster
// than ten bit times a byte. (The benchmark reports how close it comes.)
TEST_F(ChipSimDeviceTest, PacedLineTakesAtLeastItsWireTime) {
  SimOptions opt;
  opt.m_strFlashFile = m_dir.File("flash.bin");
  opt.m_nFlashSize = 65536;
  opt.m_nBaud = 115200;
  opt.m_nRepeatMs = 20;
  CSimThread sim;
  std::string error;
  ASSERT_TRUE(sim.Start(opt, &error)) << error;

  CDeviceLine line(sim.DevicePath());
  CScriptedHost host(line);
  EXPECT_TRUE(host.Download({}, Bytes(16, 0xA5)));
  Bytes dump;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(host.Dump(0, 11520, &dump));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  sim.Stop();
  // Control info and dump command in, 11520 bytes, two acks and the closing 'X'.
  const double wire = (18 + 1 + 6 + 11520 + 2 + 1) * 10.0 / 115200;
  EXPECT_GE(seconds, wire * 0.99);
  EXPECT_LT(seconds, wire * 3);
}

}  // namespace
