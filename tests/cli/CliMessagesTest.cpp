// What tqupdate says when it cannot go on: why the port did not open, which
// paths are no files to read or write, and the time-out as it was given.
#include "prod/BoardStatus.h"
#include "app/PortText.h"
#include "cli/CliSession.h"
#include "tests/cli/CliFixture.h"

#include <sys/file.h>
#include <sys/stat.h>

namespace {

using namespace clitest;

class CliMessagesTest : public CliTest {
protected:
  bool ErrHas(const std::string& text) const { return host->Err().find(text) != std::string::npos; }
};

TEST(CliPortText, PermissionDeniedNamesTheGroupAndHowToJoinIt) {
  PortPlace place{"/dev/ttyUSB0", "/dev/ttyUSB0", false, "dialout"};
  EXPECT_EQ(PortOpenFailureText(PortOpenResult::PermissionDenied, place),
            "cannot open the port /dev/ttyUSB0: permission denied: the device belongs to the group dialout; join it "
            "with \"sudo usermod -aG dialout $USER\", then log in again");
  place.ownerGroup = "root";  // nobody joins root
  EXPECT_EQ(PortOpenFailureText(PortOpenResult::PermissionDenied, place),
            "cannot open the port /dev/ttyUSB0: permission denied");
  const PortPlace mapped{"COM2", "/dev/ttyUSB1", true, ""};
  EXPECT_EQ(PortOpenFailureText(PortOpenResult::Busy, mapped),
            "cannot open the port COM2 (/dev/ttyUSB1, from PortMap in cfg.ini): busy: another program has it open or "
            "locked");
}

TEST(CliPortsList, PortsThisUserCannotOpenSayWhyInTheWordsOfARefusedOpen) {
  TempDir dir;
  const std::string locked = dir.Write("ttyLocked", "");
  ASSERT_EQ(::chmod(locked.c_str(), 0600), 0);  // owned by whoever runs the test
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
  EXPECT_EQ(PortAccessProblem(locked), "");
  EXPECT_NE(PortAccessProblem(dir.File("gone")).find("no such device"), std::string::npos);
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to try as another user";
  // As another user the device is not ours: the reason a refused open gives.
  const int status = RunInChildProcess([&] {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 2;
    return PortAccessProblem(locked).rfind("permission denied", 0) == 0 ? 0 : 1;
  });
  EXPECT_EQ(status, 0);
}

TEST_F(CliMessagesTest, PortFailuresSayWhy) {
  EXPECT_EQ(Run({"-p", dir.File("no-such-device"), "erase", "0", "4096"}), 3);
  EXPECT_TRUE(ErrHas("cannot open the port " + dir.File("no-such-device") + ": no such device")) << Report();
  EXPECT_EQ(Run({"-p", dir.Write("plain.txt", "x"), "erase", "0", "4096"}), 3);
  EXPECT_TRUE(ErrHas("cannot open the port " + dir.File("plain.txt") + ": not a serial device")) << Report();

  // A COM number that cfg.ini maps to a device names the device too.
  EditConfig("COM1=/dev/ttyUSB0", "COM1=/dev/ttyUSB0\nCOM2=" + dir.File("gone"));
  EXPECT_EQ(Run({"-p", "COM2", "erase", "0", "4096"}), 3);
  EXPECT_TRUE(ErrHas("cannot open the port COM2 (" + dir.File("gone") + ", from PortMap in cfg.ini): no such device"))
      << Report();

  // Another program holds the device's lock.
  const auto device = StartSim();
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(Run({"-p", device, "erase", "0", "4096"}), 3);
  EXPECT_TRUE(ErrHas("cannot open the port " + device + ": busy: another program has it open or locked")) << Report();
  ::close(fd);
}

TEST_F(CliMessagesTest, PathsThatAreNoRegularFilesAreRefused) {
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string port = dir.File("no-such-device");
  for (const std::string& image : {fifo, std::string("/dev/zero")}) {
    EXPECT_EQ(Run({"-p", port, "program", "0", image}, 10s), 1) << Report();
    EXPECT_TRUE(ErrHas("Can't open application file " + image + ": not a regular file")) << Report();
  }
  for (const std::string& file : {fifo, std::string("/dev/null")}) {
    EXPECT_EQ(Run({"-p", port, "dump", "0", "4096", file}, 10s), 1) << Report();
    EXPECT_TRUE(ErrHas("cannot write the dump file \"" + file + "\": not a regular file")) << Report();
  }
  EXPECT_EQ(Run({"-p", port, "dump", "0", "4096", dir.Path()}, 10s), 1) << Report();
  EXPECT_TRUE(ErrHas("is a directory")) << Report();
  // A FIFO as the log would block the run until something read it.
  EXPECT_EQ(Run({"-p", port, "--log", fifo, "erase", "0", "4096"}, 10s), 2) << Report();
  EXPECT_TRUE(ErrHas("cannot open the log file " + fifo + ": not a regular file")) << Report();
  // The same rule for a run over several ports.
  EXPECT_EQ(Run({"-p", port + "," + port + "2", "--log", fifo, "erase", "0", "4096"}, 10s), 2) << Report();
  EXPECT_TRUE(ErrHas("cannot open the log file " + fifo + ": not a regular file")) << Report();
}

TEST_F(CliMessagesTest, TimeOutIsShownAsGiven) {
  const auto device = StartSim({"--silent", "boot"});
  EXPECT_EQ(Run({"-p", device, "--timeout", "0.5", "erase", "0", "4096"}), 4) << Report();
  EXPECT_TRUE(ErrHas("no progress from the chip for 0.5 s; giving up")) << Report();
}

}  // namespace
