// The read-back after a program: its dumps kept in memory, the batch that
// programs and then reads the range again, and the comparison with the image.
// The command line and the window verify the same way.
#pragma once

#include "core/Batch.h"
#include "update/UpdateIo.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The name the read-back goes by in the update's messages; its bytes go
// into memory (CReadBackFiles::KeepDumpsInMemory), never to a file.
inline constexpr const char* kReadBackName = "verify-read-back";

// The read-back against the image.
enum class VerifyResult {
  Same,
  Differs,          // a byte differs
  LengthDiffers,    // fewer (or more) bytes came back than the image holds
  ImageUnreadable,  // the image (or a dump's first read) could not be read again
  Unsettled,        // dump --verify: a block read differently every time
};

// The read-back compared with the image: where they first differ, if they do.
struct VerifyReport {
  VerifyResult result = VerifyResult::Same;
  size_t offset = 0;  // with Differs
  uint8_t imageByte = 0;
  uint8_t flashByte = 0;
  size_t imageSize = 0;
  size_t readBackSize = 0;
};

VerifyReport CompareReadBack(const std::vector<uint8_t>& image, const std::vector<uint8_t>& back);
// The log line for a comparison ("verify ok." or what differs).
std::string VerifyLine(const VerifyReport& report);

// The two entries that program `image` at `base` and read its `length`
// bytes back.
std::vector<BatchEntry> ReadBackBatch(int32_t base, int32_t length, const std::string& image);

// The files of the system, except that while told so every dump fills
// ReadBack() instead of a file: the one dump of a verifying run is the
// read-back of the range just programmed, which must not land in any file.
// The worker writes the read-back while the front end may look; a lock
// keeps them apart.
class CReadBackFiles : public IFileAccess {
public:
  explicit CReadBackFiles(IFileAccess& files) : m_files(files) {}

  // From now on every dump fills ReadBack() (true) or its file (false).
  void KeepDumpsInMemory(bool inMemory = true);
  // The bytes of the last dump kept in memory.
  std::vector<uint8_t> ReadBack() const;

  bool FileSize(const std::string& path, uint64_t& size, std::string& error) override;
  bool ReadAt(const std::string& path, uint64_t offset, uint8_t* buffer, size_t length, size_t& got,
              std::string& error) override;
  std::unique_ptr<IDumpSink> CreateDump(const std::string& path, std::string& error) override;

private:
  class CMemorySink;

  IFileAccess& m_files;
  mutable std::mutex m_mutex;
  bool m_dumpsToMemory = false;
  std::vector<uint8_t> m_readBack;
};

// Batch entries a front end keeps in memory.
class CMemoryBatch : public IBatchSource {
public:
  explicit CMemoryBatch(std::vector<BatchEntry> entries) : m_entries(std::move(entries)) {}
  int32_t TotalNum() override { return static_cast<int32_t>(m_entries.size()); }
  BatchEntry Entry(int32_t index) override;

private:
  std::vector<BatchEntry> m_entries;
};

// The batch list of a window: cfg.ini's Bat section, or, for an update that
// reads back what it programs, a list of its own. The window chooses before
// it starts the update; the worker reads during it.
class CSwitchedBatch : public IBatchSource {
public:
  explicit CSwitchedBatch(IBatchSource& fallback) : m_fallback(fallback) {}

  // The next update runs these entries; an empty list means the fallback.
  void Use(std::vector<BatchEntry> entries);
  int32_t TotalNum() override;
  BatchEntry Entry(int32_t index) override;

private:
  IBatchSource& m_fallback;
  std::mutex m_mutex;
  std::vector<BatchEntry> m_entries;
};
