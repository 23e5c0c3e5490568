#include "prod/DumpFile.h"

#include "prod/BoardPlan.h"
#include "prod/BoardSink.h"
#include "core/platform/HostFiles.h"

#include <cstdio>
#include <filesystem>
#include <cctype>
#include <string>

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

namespace {

// Reads the record's one shape: {"base": N, "length": N, "begun": "TEXT"},
// blanks allowed between the parts, numbers of up to ten digits, no escapes
// in the text.
class CRecordScan {
public:
  explicit CRecordScan(const std::string& text) : m_text(text) {}
  bool Literal(const char* literal) {
    Blank();
    const size_t n = std::char_traits<char>::length(literal);
    if (m_text.compare(m_at, n, literal) != 0) return false;
    m_at += n;
    return true;
  }
  bool Number(unsigned long long& value) {
    Blank();
    const size_t start = m_at;
    value = 0;
    while (m_at < m_text.size() && m_at - start < 10 && std::isdigit(static_cast<unsigned char>(m_text[m_at])))
      value = value * 10 + static_cast<unsigned>(m_text[m_at++] - '0');
    return m_at > start && !(m_at < m_text.size() && std::isdigit(static_cast<unsigned char>(m_text[m_at])));
  }
  bool Text(std::string& out) {
    if (!Literal("\"")) return false;
    const size_t end = m_text.find_first_of("\"\\", m_at);
    if (end == std::string::npos || m_text[end] != '"') return false;
    out = m_text.substr(m_at, end - m_at);
    m_at = end + 1;
    return true;
  }
  bool AtEnd() {
    Blank();
    return m_at == m_text.size();
  }

private:
  void Blank() {
    while (m_at < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_at]))) ++m_at;
  }
  const std::string& m_text;
  size_t m_at = 0;
};

}  // namespace

std::optional<DumpRecord> ParseDumpRecord(const std::string& text) {
  CRecordScan scan(text);
  unsigned long long base = 0, length = 0;
  std::string begun;
  if (!(scan.Literal("{") && scan.Literal("\"base\"") && scan.Literal(":") && scan.Number(base) && scan.Literal(",") &&
        scan.Literal("\"length\"") && scan.Literal(":") && scan.Number(length) && scan.Literal(",") &&
        scan.Literal("\"begun\"") && scan.Literal(":") && scan.Text(begun) && scan.Literal("}") && scan.AtEnd()))
    return std::nullopt;
  if (base > UINT32_MAX || length > UINT32_MAX) return std::nullopt;
  return DumpRecord{static_cast<uint32_t>(base), static_cast<uint32_t>(length), begun};
}

void FinishDumpFiles(const std::vector<DumpFileJob>& jobs, const CBoardFileAccess& files, bool batch, IBoardSink& out,
                     RunFacts& facts) {
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
