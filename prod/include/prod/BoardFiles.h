// Where a board's run takes its files and its batch list from.
#pragma once

#include "app/ReadBack.h"
#include "prod/DumpFile.h"
#include "comm/FileAccess.h"
#include "core/Batch.h"
#include "update/UpdateIo.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// What became of a dump's working file (FILE.part) in this run.
struct WorkingFileState {
  bool created = false;  // this run made it (and wrote into it)
  bool closed = false;   // the dump closed it and every byte reached it
  uint64_t bytes = 0;    // bytes the dump took (with --resume, those compared too)
  int64_t differsAt = -1;  // --resume: where the chip's bytes first differ from those held
};

// A dump's working file as the run plans it.
struct WorkingFilePlan {
  DumpRecord record;  // written beside a new working file
  // --resume: the file's first `held` bytes stay; the dump's bytes belong at
  // `continueAt` on, and up to `held` they must be the bytes already there.
  int64_t continueAt = -1;
  int64_t held = 0;
};

// The run's file access: the files of the system, except that
// - a dump into a registered working file (FILE.part) makes that file anew,
//   never through a link or into someone else's file, with the record of
//   what it holds beside it; or, resumed, goes on with the file once the
//   bytes it holds are confirmed. What became of it is kept;
// - a run told so before it starts keeps its other dumps in memory: the
//   read-backs of --verify, which must not land in any file.
// Dumps are written by the worker thread; the records and ReadBack() are
// read on that thread while it runs, or by others once it has ended.
class CBoardFileAccess : public IFileAccess {
public:
  explicit CBoardFileAccess(CHostFileAccess& files) : m_files(files), m_readBacks(files) {}

  // From now on every dump but those into working files fills ReadBack().
  void KeepDumpsInMemory() { m_readBacks.KeepDumpsInMemory(); }
  // Dumps to `path` go through CreateFreshDump and are recorded.
  void AddWorkingFile(const std::string& path, const WorkingFilePlan& plan) { m_working[path].plan = plan; }
  WorkingFileState WorkingFile(const std::string& path) const;
  // The bytes of the last dump kept in memory.
  std::vector<uint8_t> ReadBack() const { return m_readBacks.ReadBack(); }

  bool FileSize(const std::string& path, uint64_t& size, std::string& error) override;
  bool ReadAt(const std::string& path, uint64_t offset, uint8_t* buffer, size_t length, size_t& got,
              std::string& error) override;
  std::unique_ptr<IDumpSink> CreateDump(const std::string& path, std::string& error) override;

private:
  CHostFileAccess& m_files;
  struct Working {
    WorkingFilePlan plan;
    WorkingFileState state;
  };
  std::unique_ptr<IDumpSink> CreateWorkingDump(const std::string& path, Working& working, std::string& error);

  std::map<std::string, Working> m_working;
  CReadBackFiles m_readBacks;  // the dumps that are no working file
};

