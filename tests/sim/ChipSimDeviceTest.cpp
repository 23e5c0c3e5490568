// The simulator on a real pseudo-terminal: the chipsim program as a child
// process, and the runner in a thread of the test.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "sim/SimRunner.h"
#include "tests/sim/ScriptedHost.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;

Bytes Pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 13 + (i >> 9));
  return b;
}

Bytes ReadBytes(const std::string& path) {
  const std::string s = TempDir::Read(path);
  return Bytes(s.begin(), s.end());
}

// chipsim as a child process; its first line on stdout is the device.
class CSimProcess {
public:
  ~CSimProcess() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, nullptr, 0);
    }
  }
  bool Start(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    const std::string program = TQ_BIN_DIR "/chipsim";
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return false;
    m_pid = ::fork();
    if (m_pid == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    char c = 0;
    pollfd pfd{out[0], POLLIN, 0};
    while (::poll(&pfd, 1, 5000) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n') m_path += c;
    ::close(out[0]);
    return !m_path.empty();
  }
  // Exit status, or -1 when it did not end in time.
  int Wait(int timeoutMs = 5000) {
    for (int waited = 0; waited < timeoutMs; waited += 10) {
      int status = 0;
      if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      ::usleep(10'000);
    }
    return -1;
  }
  void Signal(int sig) { ::kill(m_pid, sig); }
  const std::string& Path() const { return m_path; }

private:
  pid_t m_pid = -1;
  std::string m_path;
};

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

  TempDir m_dir;
  Bytes m_boot = ReadBytes(TQ_SOURCE_DIR "/config/boot.bin");
  Bytes m_loader = ReadBytes(TQ_SOURCE_DIR "/config/flash.bin");
};

TEST_F(ChipSimDeviceTest, ProgramInOneRunDumpInTheNextThroughTheLink) {
  const std::string link = m_dir.File("ttyCHIP");
  const Bytes image = Pattern(10000);
  {
    CSimProcess sim;
    ASSERT_TRUE(sim.Start(Args("run1.log", {"--link", link, "--sessions", "1"})));
    EXPECT_EQ(fs::read_symlink(link).string(), sim.Path());
    CDeviceLine line(link);
    ASSERT_TRUE(line.IsOpen());
    CScriptedHost host(line);
    ASSERT_TRUE(host.Download(m_boot, m_loader)) << Log("run1.log");  // closes and reopens the device on the way
    ASSERT_TRUE(host.Program(0x8000, image)) << Log("run1.log");
    line.Close();
    EXPECT_EQ(sim.Wait(), 0) << Log("run1.log");
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  }
  CSimProcess sim;
  ASSERT_TRUE(sim.Start(Args("run2.log", {"--sessions", "1"})));
  CDeviceLine line(sim.Path());
  CScriptedHost host(line);
  ASSERT_TRUE(host.Download(m_boot, m_loader)) << Log("run2.log");
  Bytes dump;
  ASSERT_TRUE(host.Dump(0x8000, 10000, &dump)) << Log("run2.log");
  EXPECT_EQ(dump, image);
  EXPECT_EQ(sim.Wait(), 0) << Log("run2.log");
}

TEST_F(ChipSimDeviceTest, FailedCheckMakesTheExitStatusNonZero) {
  CSimProcess sim;
  ASSERT_TRUE(sim.Start(Args("sim.log", {"--sessions", "1"})));
  CDeviceLine line(sim.Path());
  CScriptedHost host(line);
  ASSERT_TRUE(host.Download(m_boot, m_loader)) << Log("sim.log");
  Bytes frame = CScriptedHost::ControlInfo(1, 0, 4096);
  frame.back() ^= 0x01;
  line.Send(frame);
  EXPECT_EQ(host.Answer(), 'Y');
  ASSERT_TRUE(host.Erase(0, 4096));
  EXPECT_EQ(sim.Wait(), 1);
  EXPECT_NE(Log("sim.log").find("CHECK FAILED"), std::string::npos);
}

TEST_F(ChipSimDeviceTest, ResetSignalRestartsAndStopSignalEndsCleanly) {
  const std::string link = m_dir.File("ttyCHIP");
  CSimProcess sim;
  ASSERT_TRUE(sim.Start(Args("sim.log", {"--link", link})));
  CDeviceLine line(link);
  CScriptedHost host(line);
  ASSERT_TRUE(host.Download(m_boot, m_loader)) << Log("sim.log");
  sim.Signal(SIGUSR1);
  EXPECT_EQ(host.Answer(), 'X');  // a new session's request
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0) << Log("sim.log");
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST_F(ChipSimDeviceTest, VanishingChipClosesTheDeviceAfterItsBytes) {
  CSimProcess sim;
  ASSERT_TRUE(sim.Start(Args("sim.log", {"--vanish", "dump:5000"})));
  CDeviceLine line(sim.Path());
  CScriptedHost host(line, 500);
  ASSERT_TRUE(host.Download(m_boot, m_loader)) << Log("sim.log");
  Bytes dump;
  EXPECT_FALSE(host.Dump(0, 8192, &dump));
  EXPECT_EQ(dump.size(), 5000u);
  EXPECT_EQ(sim.Wait(), 0) << Log("sim.log");
}

// The runner in this process at 115200 baud: the line may not run faster
// than ten bit times a byte. (The benchmark reports how close it comes.)
TEST_F(ChipSimDeviceTest, PacedLineTakesAtLeastItsWireTime) {
  SimOptions opt;
  opt.m_strFlashFile = m_dir.File("flash.bin");
  opt.m_nFlashSize = 65536;
  opt.m_nBaud = 115200;
  opt.m_nRepeatMs = 20;
  SimImages images;  // sizes only
  CSimLog log;
  log.Silence();
  CFlashStore flash;
  CPtyDevice device;
  std::string error;
  ASSERT_TRUE(flash.Open(opt.m_strFlashFile, opt.m_nFlashSize, &error)) << error;
  ASSERT_TRUE(device.Open(&error)) << error;
  CChipCore core(opt, images, flash, log);
  CSimRunner runner(core, device, opt, log);
  std::atomic<bool> stop{false};
  std::thread thread([&] { runner.Run(stop); });

  CDeviceLine line(device.Path());
  CScriptedHost host(line);
  EXPECT_TRUE(host.Download({}, Bytes(16, 0xA5)));
  Bytes dump;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(host.Dump(0, 11520, &dump));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  stop = true;
  thread.join();
  // Control info and dump command in, 11520 bytes, two acks and the closing 'X'.
  const double wire = (18 + 1 + 6 + 11520 + 2 + 1) * 10.0 / 115200;
  EXPECT_GE(seconds, wire * 0.99);
  EXPECT_LT(seconds, wire * 3);
}

}  // namespace
