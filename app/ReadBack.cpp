#include "app/ReadBack.h"

#include "core/UpdateSettings.h"

#include <cstdio>

// A dump that appends to the read-back buffer; it cannot fail.
class CReadBackFiles::CMemorySink : public IDumpSink {
public:
  explicit CMemorySink(CReadBackFiles& owner) : m_owner(owner) {
    std::lock_guard lock(m_owner.m_mutex);
    m_owner.m_readBack.clear();
  }
  bool Write(const uint8_t* data, size_t length, std::string&) override {
    std::lock_guard lock(m_owner.m_mutex);
    m_owner.m_readBack.insert(m_owner.m_readBack.end(), data, data + length);
    return true;
  }
  bool Flush(std::string&) override { return true; }
  bool Close(std::string&) override { return true; }

private:
  CReadBackFiles& m_owner;
};

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

std::vector<BatchEntry> ReadBackBatch(int32_t base, int32_t length, const std::string& image) {
  // A program entry's length is the image's size, which the update reads itself.
  return {BatchEntry{ACT_PROGRAM, base, 0, image}, BatchEntry{ACT_DUMP, base, length, kReadBackName}};
}

void CReadBackFiles::KeepDumpsInMemory(bool inMemory) {
  std::lock_guard lock(m_mutex);
  m_dumpsToMemory = inMemory;
}

std::vector<uint8_t> CReadBackFiles::ReadBack() const {
  std::lock_guard lock(m_mutex);
  return m_readBack;
}

bool CReadBackFiles::FileSize(const std::string& path, uint64_t& size, std::string& error) {
  return m_files.FileSize(path, size, error);
}

bool CReadBackFiles::ReadAt(const std::string& path, uint64_t offset, uint8_t* buffer, size_t length, size_t& got,
                            std::string& error) {
  return m_files.ReadAt(path, offset, buffer, length, got, error);
}

std::unique_ptr<IDumpSink> CReadBackFiles::CreateDump(const std::string& path, std::string& error) {
  bool inMemory = false;
  {
    std::lock_guard lock(m_mutex);
    inMemory = m_dumpsToMemory;
  }
  if (inMemory) return std::make_unique<CMemorySink>(*this);
  return m_files.CreateDump(path, error);
}

BatchEntry CMemoryBatch::Entry(int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= m_entries.size()) return BatchEntry{};
  return m_entries[static_cast<size_t>(index)];
}

void CSwitchedBatch::Use(std::vector<BatchEntry> entries) {
  std::lock_guard lock(m_mutex);
  m_entries = std::move(entries);
}

int32_t CSwitchedBatch::TotalNum() {
  {
    std::lock_guard lock(m_mutex);
    if (!m_entries.empty()) return static_cast<int32_t>(m_entries.size());
  }
  return m_fallback.TotalNum();
}

BatchEntry CSwitchedBatch::Entry(int32_t index) {
  {
    std::lock_guard lock(m_mutex);
    if (!m_entries.empty())
      return index >= 0 && static_cast<size_t>(index) < m_entries.size() ? m_entries[static_cast<size_t>(index)]
                                                                         : BatchEntry{};
  }
  return m_fallback.Entry(index);
}
