// chipsim: the decoder chip's boot loader and flash loader on a
// pseudo-terminal, for running the updater without hardware.
#include <cstdio>
#include <string>

#include "sim/ChipCore.h"
#include "sim/FlashStore.h"
#include "sim/PtyDevice.h"
#include "sim/SimLog.h"
#include "sim/SimOptions.h"
#include "sim/SimRunner.h"
#include "sim/SimSignals.h"

namespace {

std::string DescribePacing(const SimOptions& o) {
  if (o.m_bBaudFromLine) return "at the host's line rate";
  if (o.m_nBaud > 0) return "at " + std::to_string(o.m_nBaud) + " baud";
  return "instant";
}

// Everything the run needs that can fail before it starts; false with the
// reason on stderr.
bool SetUp(const SimOptions& options, CSimLog& log, SimImages& images, CFlashStore& flash, CPtyDevice& device) {
  log.SetVerbose(options.m_bVerbose);
  log.SetOrigin(SimNowUs());
  if (!options.m_strLogFile.empty() && !log.Open(options.m_strLogFile)) {
    std::fprintf(stderr, "chipsim: cannot write the log %s\n", options.m_strLogFile.c_str());
    return false;
  }
  std::string error;
  if (!LoadSimImages(options, &images, &error) || !flash.Open(options.m_strFlashFile, options.m_nFlashSize, &error) ||
      !device.Open(&error) || (!options.m_strLink.empty() && !device.Link(options.m_strLink, &error))) {
    std::fprintf(stderr, "chipsim: %s\n", error.c_str());
    return false;
  }
  for (uint32_t cell : options.m_badCells) flash.AddBadCell(cell);
  return true;
}

void LogStart(CSimLog& log, const SimOptions& options, const SimImages& images, const CFlashStore& flash,
              const CPtyDevice& device) {
  const int64_t now = SimNowUs();
  log.Line(now, "device %s%s%s", device.Path().c_str(), device.LinkPath().empty() ? "" : ", link ",
           device.LinkPath().c_str());
  log.Line(now, "flash %s, %u bytes; line %s; seed %llu", options.m_strFlashFile.c_str(), flash.Size(),
           DescribePacing(options).c_str(), static_cast<unsigned long long>(options.m_nSeed));
  log.Line(now, "boot block checked against %s; loader against %s",
           images.m_bCheckBoot ? options.m_strBootFile.c_str() : "(size only)",
           images.m_bCheckLoader ? options.m_strLoaderFile.c_str() : "(size only)");
}

}  // namespace

int main(int argc, char** argv) {
  SimOptions options;
  std::string help;
  std::string error;
  if (!ParseSimOptions(argc, argv, &options, &help, &error)) {
    std::fprintf(stderr, "chipsim: %s\n(see chipsim --help)\n", error.c_str());
    return 2;
  }
  if (!help.empty()) {
    std::fputs(help.c_str(), stdout);
    return 0;
  }

  CSimLog log;
  SimImages images;
  CFlashStore flash;
  CPtyDevice device;
  if (!SetUp(options, log, images, flash, device)) return 2;
  SimSignalFlags& signals = InstallSimSignalHandlers();
  std::printf("%s\n", device.Path().c_str());
  std::fflush(stdout);
  LogStart(log, options, images, flash, device);

  CChipCore core(options, images, flash, log);
  CSimRunner runner(core, device, options, log);
  runner.Run(signals.stop, &signals.reset);
  device.Close();

  log.Line(SimNowUs(), "%s: %d session(s) ended, %d act(s) done, %d failed check(s)",
           signals.stop ? "stopped" : (core.Vanished() ? "vanished" : "done"), core.SessionsEnded(), core.ActsDone(),
           core.ChecksFailed());
  return core.ChecksFailed() > 0 ? 1 : 0;
}
