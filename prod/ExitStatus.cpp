// The end of a run: the exit status from its facts.
#include "prod/BoardStatus.h"

#include <cstdio>
#include <string>

namespace {

RunExit RefusalStatus(RunRefusal refusal) {
  switch (refusal) {
    case RunRefusal::ImageUnreadable:
    case RunRefusal::DumpUnwritable:
    case RunRefusal::CannotResume:
      return EXIT_FAILED;  // a file problem, not a usage problem
    case RunRefusal::PortIsFolder:
      return EXIT_NO_PORT;
    case RunRefusal::LogFileUnusable:
    case RunRefusal::NoConfiguration:
    case RunRefusal::BadOption:
    case RunRefusal::NoBaudRate:
    case RunRefusal::NoListEntry:
    case RunRefusal::BadChipLine:
    case RunRefusal::BadBatchList:
    case RunRefusal::LinkRefused:
    case RunRefusal::ImageTooLarge:
      break;
  }
  return EXIT_USAGE;
}

RunExit StopStatus(RunStop stop) {
  switch (stop) {
    case RunStop::Interrupted:
      return EXIT_INTERRUPTED;
    case RunStop::ChipSilent:
      return EXIT_SILENT;
    case RunStop::NoWorker:
    case RunStop::PortLost:
      break;
  }
  return EXIT_FAILED;
}

}  // namespace

RunExit ExitStatus(const RunFacts& facts) {
  if (facts.refusal) return RefusalStatus(*facts.refusal);
  if (facts.stop) return StopStatus(*facts.stop);
  if (facts.failedOpen && *facts.failedOpen != PortOpenResult::Opened) return EXIT_NO_PORT;
  if (facts.outcome == UpdateOutcome::Stopped) return EXIT_INTERRUPTED;
  if (facts.outcome != UpdateOutcome::Completed) return EXIT_FAILED;
  if (facts.verify && *facts.verify != VerifyResult::Same) return EXIT_FAILED;
  return EXIT_DONE;
}

