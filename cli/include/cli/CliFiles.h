// Where a command-line run takes its files and its batch list from.
#pragma once

#include "core/Batch.h"
#include "update/UpdateIo.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The run's file access: the files of the system, except that a --verify
// run is told before it starts that its dumps go into memory. Its one dump
// is the read-back of the range just programmed, which must not land in any
// file.
class CCliFileAccess : public IFileAccess {
public:
  explicit CCliFileAccess(IFileAccess& files) : m_files(files) {}

  // From now on every dump fills ReadBack() instead of a file.
  void KeepDumpsInMemory() { m_dumpsToMemory = true; }
  // The bytes of the dumps kept in memory. Written by the worker thread;
  // read only after it has ended.
  const std::vector<uint8_t>& ReadBack() const { return m_readBack; }

  bool FileSize(const std::string& path, uint64_t& size, std::string& error) override;
  bool ReadAt(const std::string& path, uint64_t offset, uint8_t* buffer, size_t length, size_t& got,
              std::string& error) override;
  std::unique_ptr<IDumpSink> CreateDump(const std::string& path, std::string& error) override;

private:
  IFileAccess& m_files;
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
