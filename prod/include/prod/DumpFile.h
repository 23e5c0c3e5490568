// The file of `tqupdate dump`: the bytes go to FILE.part beside FILE, which
// is replaced only when the dump is complete, so that a failed or
// interrupted dump never destroys what FILE held before.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct RunFacts;
struct DumpFileJob;
class CBoardFileAccess;
class IBoardSink;

// The file a dump replaces: the path itself, or the file a symbolic link
// at the path points to (the link stays).
std::string DumpTargetPath(const std::string& path);
// Where the dump is written while it runs.
std::string DumpPartPath(const std::string& target);
// Moves the complete dump over its target, with the target's permissions
// when it had one. False with a reason when that fails.
bool FinishDump(const std::string& part, const std::string& target, std::string& error);

// What a FILE.part is a dump of, kept beside it in FILE.part.json, so that
// `dump --resume` goes on only with a FILE.part of the very same dump.
struct DumpRecord {
  uint32_t base = 0;
  uint32_t length = 0;
  std::string begun;  // when the dump began, ISO 8601 UTC
};
std::string DumpRecordPath(const std::string& part);
// One JSON object: {"base": 4096, "length": 65536, "begun": "..."}.
std::string DumpRecordText(const DumpRecord& record);
// Nothing when the text is not such an object with both numbers in range.
std::optional<DumpRecord> ParseDumpRecord(const std::string& text);

// After a run: moves each complete dump over its file (and drops its record),
// or says where the bytes of one that is not are, and why a resumed one was
// refused. `dump` replaces its file only after a run that succeeded; a
// batch's dump entry once its own dump is complete, whatever came after it.
// A dump that cannot be moved turns the run into a file error.
void FinishDumpFiles(const std::vector<DumpFileJob>& jobs, const CBoardFileAccess& files, bool batch, IBoardSink& out,
                     RunFacts& facts);
