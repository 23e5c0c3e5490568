// The end of a run: the exit status from its facts, and the comparison of
// the --verify read-back with the image.
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

VerifyReport CompareReadBack(const std::vector<uint8_t>& image, const std::vector<uint8_t>& back) {
  VerifyReport report;
  report.imageSize = image.size();
  report.readBackSize = back.size();
  size_t i = 0;
  while (i < image.size() && i < back.size() && image[i] == back[i]) ++i;
  if (i < image.size() && i < back.size()) {
    report.result = VerifyResult::Differs;
    report.offset = i;
    report.imageByte = image[i];
    report.flashByte = back[i];
  } else if (back.size() != image.size()) {
    report.result = VerifyResult::LengthDiffers;
  }
  return report;
}

std::string VerifyLine(const VerifyReport& report) {
  char line[160];
  switch (report.result) {
    case VerifyResult::Same:
      return "verify ok.";
    case VerifyResult::Differs:
      std::snprintf(line, sizeof line, "verify failed: first difference at offset 0x%zx (image 0x%02x, flash 0x%02x)",
                    report.offset, report.imageByte, report.flashByte);
      return line;
    case VerifyResult::LengthDiffers:
    case VerifyResult::ImageUnreadable:
    case VerifyResult::Unsettled:
      break;
  }
  std::snprintf(line, sizeof line, "verify failed: read back %zu of %zu bytes", report.readBackSize, report.imageSize);
  return line;
}

std::string PortOpenReason(PortOpenResult result, const PortPlace& place) {
  switch (result) {
    case PortOpenResult::Opened:
      return "it opened";
    case PortOpenResult::BadPortNumber:
      return "no device: COM numbers run from 1 to 1024";
    case PortOpenResult::NoDevice:
      return "no such device (is the adapter plugged in? `tqupdate ports` lists the serial ports)";
    case PortOpenResult::Busy:
      return "busy: another program has it open or locked";
    case PortOpenResult::PermissionDenied:
      if (place.ownerGroup.empty() || place.ownerGroup == "root")
        return "permission denied";
      return "permission denied: the device belongs to the group " + place.ownerGroup +
             "; join it with \"sudo usermod -aG " + place.ownerGroup + " $USER\", then log in again";
    case PortOpenResult::NotSerial:
      return "not a serial device";
    case PortOpenResult::SetupFailed:
      return "it opened, but refused the line settings";
    case PortOpenResult::OtherError:
      break;
  }
  return "the system refused it";
}

std::string PortOpenFailureText(PortOpenResult result, const PortPlace& place) {
  std::string where = place.name;
  if (place.mapped) where += " (" + place.device + ", from PortMap in cfg.ini)";
  else if (!place.device.empty() && place.device != place.name) where += " (" + place.device + ")";
  return "cannot open the port " + where + ": " + PortOpenReason(result, place);
}
