// Soak run of the host side: many updates in one process through the same
// code path as tqupdate (RunCliSession: window logic, worker thread, port),
// against chipsim processes on pseudo-terminals at an instant line. Programs
// with verify and dumps, mixed with negative-acknowledge and vanishing-device
// faults. Prints the open descriptors, threads and resident memory at the
// start, every 50 updates and at the end; fails when an update ends with
// another status than expected or descriptors or threads are left behind.
//
//   soak [-v] [UPDATES]   (default 200; chipsim and config/ are taken from
//                          beside this program; -v keeps the sessions' output)
#include "core/Config.h"
#include "cli/CliSession.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr size_t kImageSize = 8192;
// The host pauses after every piece of loader and image it writes, as the
// chip needs: a small loader keeps the updates short.
constexpr size_t kLoaderSize = 1024;
const std::string kBase = "0x10000";

struct Figures {
  int fds = 0;
  int threads = 0;
  long rssKb = 0;
};

Figures Measure() {
  Figures f;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (const dirent* e = ::readdir(d)) f.fds += e->d_name[0] != '.';
    ::closedir(d);
    --f.fds;  // the listing's own descriptor
  }
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Threads:", 0) == 0) f.threads = std::atoi(line.c_str() + 8);
    if (line.rfind("VmRSS:", 0) == 0) f.rssKb = std::atol(line.c_str() + 6);
  }
  return f;
}

// One kind of update: the command, the chipsim faults, the status it must end with.
struct Kind {
  const char* name;
  std::vector<std::string> faults;  // empty: the long-running simulator
  JobCommand command;
  bool verify;  // program: read back (false: --no-verify)
  int expected;
};

const std::vector<Kind> kCycle = {
    {"program+verify", {}, JobCommand::Program, true, EXIT_DONE},
    {"dump", {}, JobCommand::Dump, false, EXIT_DONE},
    {"program, 3 NAKs", {"--nak", "data:3"}, JobCommand::Program, false, EXIT_DONE},
    {"dump", {}, JobCommand::Dump, false, EXIT_DONE},
    {"program+verify", {}, JobCommand::Program, true, EXIT_DONE},
    {"dump, device vanishes", {"--vanish", "dump:5000"}, JobCommand::Dump, false, EXIT_FAILED},
    {"dump, 10 NAKs", {"--nak", "control:10"}, JobCommand::Dump, false, EXIT_FAILED},
    {"dump", {}, JobCommand::Dump, false, EXIT_DONE},
};

class CSoak {
public:
  CSoak(int updates, bool verbose) : m_updates(updates), m_verbose(verbose) {
    const std::string bin = ExecutableDirectory();
    m_chipsim = bin + "chipsim";
    std::filesystem::create_directory(m_dir.File("config"));
    for (const char* f : {"cfg.ini", "boot.bin"}) std::filesystem::copy_file(bin + "config/" + f, m_dir.File("config/") + f);
    m_dir.WriteBytes("config/flash.bin", std::vector<uint8_t>(kLoaderSize, 0x5A));
    m_image.resize(kImageSize);
    for (size_t i = 0; i < m_image.size(); ++i) m_image[i] = static_cast<uint8_t>(i * 7 + i / 251);
    m_dir.WriteBytes("image.bin", m_image);
  }

  int Run() {
    const auto begin = std::chrono::steady_clock::now();
    m_main = StartSim({}, "main");
    if (!m_main) return 2;
    Quiet();
    Update(kCycle[0]);  // warm-up: code paged in, allocator arenas made
    const Figures start = Measure();
    Report("start (after one warm-up update)", start);
    for (int i = 1; i <= m_updates; ++i) {
      Update(kCycle[static_cast<size_t>(i) % kCycle.size()]);
      if (i % 50 == 0 && i != m_updates) Report(std::to_string(i) + " updates", Measure());
    }
    const Figures end = Measure();
    Report("end, " + std::to_string(m_updates) + " updates", end);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    dprintf(m_out, "%d updates in %.1f s\n", m_done, seconds);
    return Verdict(start, end);
  }

private:
  std::unique_ptr<CChildProcess> StartSim(std::vector<std::string> faults, const std::string& name) {
    std::vector<std::string> args{m_chipsim, "--flash-file", m_dir.File(name + ".flash"), "--flash-size", "1048576",
                                  "--config", m_dir.File("config"), "--repeat", "20", "--end-idle", "200"};
    args.insert(args.end(), faults.begin(), faults.end());
    auto sim = std::make_unique<CChildProcess>(args, m_dir.File(name + ".out"), m_dir.File(name + ".err"));
    m_device = sim->FirstLine(5s);
    if (m_device.empty()) {
      std::fprintf(stderr, "chipsim did not start: %s\n", sim->Err().c_str());
      return nullptr;
    }
    return sim;
  }

  // The sessions' own output (log lines, messages) goes nowhere; the figures
  // go to the original stdout.
  void Quiet() {
    std::fflush(nullptr);
    m_out = ::dup(STDOUT_FILENO);
    if (m_verbose) return;
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    ::close(null);
  }

  void Update(const Kind& kind) {
    std::unique_ptr<CChildProcess> faulty;
    std::string device = m_device;
    if (!kind.faults.empty()) {
      const std::string mainDevice = m_device;
      faulty = StartSim(kind.faults, "fault" + std::to_string(m_done));  // fresh files: no stale device path
      device = m_device;
      m_device = mainDevice;
      if (!faulty) {
        ++m_unexpected;
        return;
      }
    }
    CliOptions o;
    o.command = kind.command;
    o.configDir = m_dir.File("config");
    o.port = device;
    o.quiet = true;
    o.timeoutSeconds = 10;
    o.base = kBase;
    o.verify = kind.verify;
    o.image = m_dir.File("image.bin");
    o.length = std::to_string(kImageSize);
    o.dumpFile = m_dir.File("dump.bin");
    const int status = RunCliSession(o);
    bool ok = status == kind.expected;
    // A dump of the main simulator reads back the image programmed before.
    if (ok && kind.faults.empty() && kind.command == JobCommand::Dump) {
      const std::string back = TempDir::Read(o.dumpFile);
      ok = back == std::string(m_image.begin(), m_image.end());
    }
    if (!ok) {
      ++m_unexpected;
      dprintf(m_out, "  update %d (%s): status %d, expected %d\n", m_done, kind.name, status, kind.expected);
    }
    ++m_done;
  }

  void Report(const std::string& when, const Figures& f) const {
    dprintf(m_out, "%-36s fds %3d  threads %2d  rss %6ld KiB\n", when.c_str(), f.fds, f.threads, f.rssKb);
  }

  int Verdict(const Figures& start, const Figures& end) const {
    const double growth = 100.0 * static_cast<double>(end.rssKb - start.rssKb) / static_cast<double>(start.rssKb);
    dprintf(m_out, "unexpected statuses: %d; rss change %+.1f %%\n", m_unexpected, growth);
    const bool ok = m_unexpected == 0 && end.fds == start.fds && end.threads == start.threads && growth <= 10.0;
    dprintf(m_out, "%s\n", ok ? "soak ok" : "soak FAILED");
    return ok ? 0 : 1;
  }

  int m_updates;
  bool m_verbose;
  TempDir m_dir;
  std::string m_chipsim;
  std::vector<uint8_t> m_image;
  std::unique_ptr<CChildProcess> m_main;
  std::string m_device;
  int m_out = STDOUT_FILENO;
  int m_done = 0;
  int m_unexpected = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const bool verbose = argc > 1 && std::string(argv[1]) == "-v";
  const int first = verbose ? 2 : 1;
  const int updates = argc > first ? std::atoi(argv[first]) : 200;
  if (updates <= 0) {
    std::fprintf(stderr, "usage: soak [-v] [UPDATES]\n");
    return 2;
  }
  CSoak soak(updates, verbose);
  return soak.Run();
}
