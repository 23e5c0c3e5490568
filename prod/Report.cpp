#include "prod/Report.h"

#include "core/platform/HostFiles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

namespace {

// Length of the UTF-8 sequence at text[i], or 0 when it is not one.
size_t Utf8Length(const std::string& text, size_t i) {
  const auto b = static_cast<unsigned char>(text[i]);
  size_t n = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
  if (n == 0 || i + n > text.size()) return 0;
  for (size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
  return n;
}

std::string Field(const char* name, const std::string& json) { return std::string(",\"") + name + "\":" + json; }

template <typename T>
std::string OrNull(const std::optional<T>& v) {
  return v ? std::to_string(*v) : "null";
}


std::string StringOrNull(const std::string& s) { return s.empty() ? "null" : JsonString(s); }

std::string Lines(const std::vector<std::string>& lines) {
  std::string out = "[";
  for (size_t i = 0; i < lines.size(); ++i) out += (i ? "," : "") + JsonString(lines[i]);
  return out + "]";
}

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

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const size_t n = Utf8Length(text, i);
    if (n == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out.append(text, i, n);
    }
    i += n;
  }
  return out + "\"";
}

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
  const bool done = ExitStatus(r.facts) == EXIT_DONE;
  const auto verify = VerifyWord(r.facts);
  std::string line = "{\"port\":" + JsonString(r.port);
  line += Field("name", JsonString(r.name)) + Field("run", std::to_string(r.run));
  line += Field("command", JsonString(r.command));
  line += Field("start", JsonString(Iso8601Utc(r.start))) + Field("end", JsonString(Iso8601Utc(r.end)));
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
  line += Field("seconds", seconds) + Field("base", OrNull(r.base)) + Field("length", OrNull(r.length));
  line += Field("image", StringOrNull(r.image)) + Field("image_size", OrNull(r.imageSize));
  line += Field("image_sha256", StringOrNull(r.imageSha256));
  line += Field("file", StringOrNull(r.file)) + Field("file_sha256", StringOrNull(r.fileSha256));
  line += Field("resumed_from", OrNull(r.resumedFrom));
  line += Field("result", JsonString(ResultWord(r.facts))) + Field("reason", JsonString(ResultReason(r.facts)));
  line += Field("exit_status", std::to_string(static_cast<int>(ExitStatus(r.facts))));
  line += Field("verify", verify ? JsonString(*verify) : "null") + Field("verify_offset", OrNull(r.verifyOffset));
  line += Field("log_tail", Lines(done ? std::vector<std::string>{} : r.logTail));
  return line + "}\n";
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
