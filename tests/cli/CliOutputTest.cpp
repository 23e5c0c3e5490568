// The command line's output: the chip's console bytes on a terminal, and a
// run started with its standard output and error closed.
#include "cli/CliBoardConsole.h"
#include "cli/CliOutput.h"
#include "tests/cli/CliFixture.h"

#include <fcntl.h>

namespace {

using namespace clitest;

// What the display of one board writes to stderr for the console bytes,
// captured in a child; `terminal`: as on a terminal, with its board line.
std::string ConsoleShown(const std::string& bytes, bool terminal, bool bar, const std::string& file) {
  const int status = RunInChildProcess([&] {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ::dup2(fd, STDERR_FILENO) < 0) return 1;
    CBoardConsole out({"board"}, CBoardConsole::Mode{false, terminal, false});
    if (bar) out.Progress(0, 0, 100);
    for (char ch : bytes) out.ConsoleChar(0, ch);
    out.Finish(0);
    out.Close();
    return 0;
  });
  return status == 0 ? TempDir::Read(file) : "child failed";
}

TEST(CliOutput, ControlBytesReachATerminalOnlyAsText) {
  TempDir dir;
  const std::string chip = "boot\x1b[2J\x1b]0;title\x07 ok\x7f\xff\r\nnext\tline\n";
  // Above the board's line, with or without its progress bar, the text
  // shown safely, and no escape byte of the chip's.
  for (bool bar : {false, true}) {
    const std::string shown = ConsoleShown(chip, true, bar, dir.File("tty"));
    EXPECT_NE(shown.find("boot\\x1B[2J\\x1B]0;title\\x07 ok\\x7F\\xFF\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("next\tline\n"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("\x1b[2J"), std::string::npos);
    EXPECT_EQ(shown.find("\x1b]0"), std::string::npos);
    EXPECT_EQ(shown.find('\x07'), std::string::npos);
  }
  // Not a terminal: the bytes pass unchanged.
  EXPECT_EQ(ConsoleShown(chip, false, false, dir.File("file")), chip);
}

TEST(CliOutput, ClosedStandardDescriptorsAreOpenedOnDevNull) {
  EXPECT_EQ(RunInChildProcess([] {
              ::close(STDOUT_FILENO);
              ::close(STDERR_FILENO);
              OpenStandardDescriptors();
              const int next = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
              return next > STDERR_FILENO && ::fcntl(STDOUT_FILENO, F_GETFD) >= 0 ? 0 : 1;
            }),
            0);
}

TEST_F(CliTest, RunWithStdoutAndStderrClosedKeepsThePortClean) {
  const auto device = StartSim();
  const std::vector<std::string> args{kBin + "/tqupdate", "-c", Config(), "-p", device, "--log", dir.File("run.log"),
                                      "erase", "0", "4096"};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(STDOUT_FILENO);
    ::close(STDERR_FILENO);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ASSERT_GT(pid, 0);
  int status = -1;
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      FAIL() << "tqupdate did not end" << sim->Err();
    }
    std::this_thread::sleep_for(20ms);
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << TempDir::Read(dir.File("run.log")) << sim->Err();
  const auto logged = Lines(TempDir::Read(dir.File("run.log")));
  ASSERT_FALSE(logged.empty());
  EXPECT_EQ(logged.back().substr(24), "compelete.");
}

}  // namespace
