// Child processes for tests: a program of the build with its output
// captured in files, for tests that drive the executables end to end; and a
// piece of the test run in a child of its own, for checks that change the
// process (its user, say).
#pragma once

#include "tests/support/TempDir.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

class CChildProcess {
public:
  // Starts `args[0]` with the arguments; stdout and stderr go to the files.
  CChildProcess(const std::vector<std::string>& args, const std::string& outFile, const std::string& errFile)
      : m_out(outFile), m_err(errFile) {
    m_pid = ::fork();
    if (m_pid == 0) {
      ::setpgid(0, 0);
      int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(out, 1);
      ::dup2(err, 2);
      int null = ::open("/dev/null", O_RDONLY);
      ::dup2(null, 0);
      std::vector<char*> argv;
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
  }
  ~CChildProcess() {
    if (Running()) {
      ::kill(m_pid, SIGKILL);
      Wait(std::chrono::seconds(5));
    }
  }
  CChildProcess(const CChildProcess&) = delete;
  CChildProcess& operator=(const CChildProcess&) = delete;

  pid_t Pid() const { return m_pid; }
  bool Running() const { return m_pid > 0 && !m_done; }
  void Signal(int sig) {
    if (Running()) ::kill(m_pid, sig);
  }

  // The exit status, a negative signal number, or -1000 when it did not end in time.
  int Wait(std::chrono::milliseconds limit) {
    if (m_done) return m_status;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      int status = 0;
      const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
      if (r == m_pid) {
        m_done = true;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        return m_status;
      }
      if (std::chrono::steady_clock::now() > deadline) return -1000;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  std::string Out() const { return TempDir::Read(m_out); }
  std::string Err() const { return TempDir::Read(m_err); }

  // Waits until the first line of stdout is complete and returns it.
  std::string FirstLine(std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      const std::string s = TempDir::Read(m_out);
      const auto nl = s.find('\n');
      if (nl != std::string::npos) return s.substr(0, nl);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return {};
  }

private:
  pid_t m_pid = -1;
  bool m_done = false;
  int m_status = -1;
  std::string m_out, m_err;
};

// Runs `body` in a forked child and returns its result as the child's exit
// status (0 to 255), or -1 when the child did not end normally.
inline int RunInChildProcess(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  if (pid < 0) return -1;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}
