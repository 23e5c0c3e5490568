#include "cli/CliFiles.h"

namespace {

// A dump that appends to a buffer; it cannot fail.
class CMemorySink : public IDumpSink {
public:
  explicit CMemorySink(std::vector<uint8_t>& out) : m_out(out) { m_out.clear(); }
  bool Write(const uint8_t* data, size_t length, std::string&) override {
    m_out.insert(m_out.end(), data, data + length);
    return true;
  }
  bool Flush(std::string&) override { return true; }
  bool Close(std::string&) override { return true; }

private:
  std::vector<uint8_t>& m_out;
};

}  // namespace

bool CCliFileAccess::FileSize(const std::string& path, uint64_t& size, std::string& error) {
  return m_files.FileSize(path, size, error);
}

bool CCliFileAccess::ReadAt(const std::string& path, uint64_t offset, uint8_t* buffer, size_t length, size_t& got,
                            std::string& error) {
  return m_files.ReadAt(path, offset, buffer, length, got, error);
}

std::unique_ptr<IDumpSink> CCliFileAccess::CreateDump(const std::string& path, std::string& error) {
  if (m_dumpsToMemory) return std::make_unique<CMemorySink>(m_readBack);
  return m_files.CreateDump(path, error);
}

BatchEntry CMemoryBatch::Entry(int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= m_entries.size()) return BatchEntry{};
  return m_entries[static_cast<size_t>(index)];
}
