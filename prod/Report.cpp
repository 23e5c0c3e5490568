#include "prod/Report.h"

#include "core/platform/HostFiles.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

namespace {

const char* OutcomeReason(UpdateOutcome outcome) {
  switch (outcome) {
    case UpdateOutcome::Completed: return "completed";
    case UpdateOutcome::RetryFailed: return "retry-failed";
    case UpdateOutcome::AckTimeout: return "ack-timeout";
    case UpdateOutcome::FileError: return "file-error";
    case UpdateOutcome::PortLost: return "port-lost";
    case UpdateOutcome::ActCutShort: return "act-cut-short";
    case UpdateOutcome::Stopped: return "stopped";
  }
  return "unknown";
}

const char* StopReason(RunStop stop) {
  switch (stop) {
    case RunStop::NoWorker: return "no-worker";
    case RunStop::Interrupted: return "interrupted";
    case RunStop::PortLost: return "port-lost";
    case RunStop::ChipSilent: return "chip-silent";
  }
  return "unknown";
}

template <typename T>
nlohmann::ordered_json OrNull(const std::optional<T>& v) {
  return v ? nlohmann::ordered_json(*v) : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json StringOrNull(const std::string& s) {
  return s.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(s);
}

}  // namespace

std::string Iso8601Utc(std::chrono::system_clock::time_point when) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
  const time_t seconds = static_cast<time_t>(ms / 1000);
  tm utc{};
  host::UtcTime(seconds, utc);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  char out[48];
  std::snprintf(out, sizeof out, "%s.%03dZ", text, static_cast<int>(ms % 1000));
  return out;
}

std::string ResultWord(const RunFacts& facts) {
  switch (ExitStatus(facts)) {
    case EXIT_DONE: return "done";
    case EXIT_FAILED: return "failed";
    case EXIT_USAGE: return "usage";
    case EXIT_NO_PORT: return "no-port";
    case EXIT_SILENT: return "silent";
    case EXIT_INTERRUPTED: return "interrupted";
  }
  return "failed";
}

std::string ResultReason(const RunFacts& facts) {
  if (facts.refusal) return "refused";
  if (facts.stop) return StopReason(*facts.stop);
  if (facts.failedOpen && *facts.failedOpen != PortOpenResult::Opened) return "port-open-failed";
  if (!facts.outcome) return "unknown";
  if (*facts.outcome == UpdateOutcome::Completed && facts.verify && *facts.verify != VerifyResult::Same)
    return "verify-failed";
  return OutcomeReason(*facts.outcome);
}

std::optional<std::string> VerifyWord(const RunFacts& facts) {
  if (!facts.verify) return std::nullopt;
  switch (*facts.verify) {
    case VerifyResult::Same: return "ok";
    case VerifyResult::Differs: return "differs";
    case VerifyResult::LengthDiffers: return "length-differs";
    case VerifyResult::ImageUnreadable: return "image-unreadable";
    case VerifyResult::Unsettled: return "unsettled";
  }
  return std::nullopt;
}

std::string RecordLine(const BoardRecord& r) {
  using Json = nlohmann::ordered_json;
  const bool done = ExitStatus(r.facts) == EXIT_DONE;
  const auto verify = VerifyWord(r.facts);
  Json j;
  j["port"] = r.port;
  j["name"] = r.name;
  j["run"] = r.run;
  j["command"] = r.command;
  j["start"] = Iso8601Utc(r.start);
  j["end"] = Iso8601Utc(r.end);
  j["seconds"] = std::round(r.seconds * 1000) / 1000;  // milliseconds are enough
  j["base"] = OrNull(r.base);
  j["length"] = OrNull(r.length);
  j["image"] = StringOrNull(r.image);
  j["image_size"] = OrNull(r.imageSize);
  j["image_sha256"] = StringOrNull(r.imageSha256);
  j["file"] = StringOrNull(r.file);
  j["file_sha256"] = StringOrNull(r.fileSha256);
  j["resumed_from"] = OrNull(r.resumedFrom);
  j["result"] = ResultWord(r.facts);
  j["reason"] = ResultReason(r.facts);
  j["exit_status"] = static_cast<int>(ExitStatus(r.facts));
  j["verify"] = verify ? Json(*verify) : Json(nullptr);
  j["verify_offset"] = OrNull(r.verifyOffset);
  j["log_tail"] = done ? std::vector<std::string>{} : r.logTail;
  // Text from the chip or the file system need not be UTF-8: such bytes
  // become U+FFFD rather than a record that is no JSON.
  return j.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string HexDigest(const unsigned char* digest, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < size; ++i) {
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 0xF];
  }
  return hex;
}
