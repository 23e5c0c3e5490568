// The end of a run: the exit status from its facts.
#include "cli/CliReport.h"

#include <cstdio>
#include <string>

namespace {

CliExit RefusalStatus(CliRefusal refusal) {
  switch (refusal) {
    case CliRefusal::ImageUnreadable:
    case CliRefusal::DumpUnwritable:
    case CliRefusal::CannotResume:
      return EXIT_FAILED;  // a file problem, not a usage problem
    case CliRefusal::PortIsFolder:
      return EXIT_NO_PORT;
    case CliRefusal::LogFileUnusable:
    case CliRefusal::NoConfiguration:
    case CliRefusal::BadOption:
    case CliRefusal::NoBaudRate:
    case CliRefusal::NoListEntry:
    case CliRefusal::BadChipLine:
    case CliRefusal::BadBatchList:
    case CliRefusal::LinkRefused:
    case CliRefusal::ImageTooLarge:
      break;
  }
  return EXIT_USAGE;
}

CliExit StopStatus(CliStop stop) {
  switch (stop) {
    case CliStop::Interrupted:
      return EXIT_INTERRUPTED;
    case CliStop::ChipSilent:
      return EXIT_SILENT;
    case CliStop::NoWorker:
    case CliStop::PortLost:
      break;
  }
  return EXIT_FAILED;
}

}  // namespace

CliExit ExitStatus(const CliFacts& facts) {
  if (facts.refusal) return RefusalStatus(*facts.refusal);
  if (facts.stop) return StopStatus(*facts.stop);
  if (facts.failedOpen && *facts.failedOpen != PortOpenResult::Opened) return EXIT_NO_PORT;
  if (facts.outcome == UpdateOutcome::Stopped) return EXIT_INTERRUPTED;
  if (facts.outcome != UpdateOutcome::Completed) return EXIT_FAILED;
  if (facts.verify && *facts.verify != VerifyResult::Same) return EXIT_FAILED;
  return EXIT_DONE;
}

