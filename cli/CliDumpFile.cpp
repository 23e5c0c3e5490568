#include "cli/CliDumpFile.h"

#include "cli/CliPlan.h"
#include "cli/CliSink.h"
#include "core/platform/HostFiles.h"

#include <cstdio>
#include <filesystem>
#include <regex>

namespace {

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", value);
  return text;
}

std::string ResumeRefusedText(const DumpFileJob& job, int64_t differsAt) {
  const uint32_t address = job.file.record.base + static_cast<uint32_t>(differsAt);
  return "cannot resume: the flash at " + Hex(address) + " differs from the byte " + job.part +
         " holds there (another board, or the flash changed since); " + job.part +
         " was left as it was; run without --resume to read the whole range";
}

}  // namespace

std::string DumpTargetPath(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_symlink(path, ec)) return path;
  const auto resolved = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : resolved.string();
}

std::string DumpPartPath(const std::string& target) { return target + ".part"; }

bool FinishDump(const std::string& part, const std::string& target, std::string& error) {
  return host::MoveFileOver(part, target, error);
}

std::string DumpRecordPath(const std::string& part) { return part + ".json"; }

std::string DumpRecordText(const DumpRecord& record) {
  return "{\"base\": " + std::to_string(record.base) + ", \"length\": " + std::to_string(record.length) +
         ", \"begun\": \"" + record.begun + "\"}\n";
}

std::optional<DumpRecord> ParseDumpRecord(const std::string& text) {
  static const std::regex shape(
      R"re(^\s*\{\s*"base"\s*:\s*([0-9]{1,10})\s*,\s*"length"\s*:\s*([0-9]{1,10})\s*,\s*"begun"\s*:\s*"([^"\\]*)"\s*\}\s*$)re");
  std::smatch m;
  if (!std::regex_match(text, m, shape)) return std::nullopt;
  const unsigned long long base = std::stoull(m[1].str()), length = std::stoull(m[2].str());
  if (base > UINT32_MAX || length > UINT32_MAX) return std::nullopt;
  return DumpRecord{static_cast<uint32_t>(base), static_cast<uint32_t>(length), m[3].str()};
}

void FinishDumpFiles(const std::vector<DumpFileJob>& jobs, const CCliFileAccess& files, bool batch, ICliSink& out,
                     CliFacts& facts) {
  const bool done = ExitStatus(facts) == EXIT_DONE;
  for (const DumpFileJob& job : jobs) {
    const WorkingFileState state = files.WorkingFile(job.part);
    if (state.differsAt >= 0) out.Message(ResumeRefusedText(job, state.differsAt));
    if (!state.created) continue;  // an earlier run's .part is not this run's dump
    const bool complete = state.closed && state.bytes == static_cast<uint64_t>(job.length);
    std::error_code ec;
    if (complete && (done || batch)) {
      std::string why;
      if (FinishDump(job.part, job.target, why)) {
        std::filesystem::remove(DumpRecordPath(job.part), ec);
        continue;
      }
      out.Message("cannot move the dump " + job.part + " over " + job.target + ": " + why);
      facts.outcome = UpdateOutcome::FileError;
      continue;
    }
    const auto size = std::filesystem::file_size(job.part, ec);
    if (ec) continue;
    out.Message(std::string(complete ? "the run failed" : "the dump is incomplete") + ": its " +
                std::to_string(size) + " bytes are in " + job.part + "; " + job.target + " was left as it was");
  }
}
