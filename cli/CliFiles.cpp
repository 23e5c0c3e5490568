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

// A dump into a working file, counting what reaches it.
class CRecordedSink : public IDumpSink {
public:
  CRecordedSink(std::unique_ptr<IDumpSink> inner, WorkingFileState& state) : m_inner(std::move(inner)), m_state(state) {
    m_state = WorkingFileState{};
    m_state.created = true;
  }
  bool Write(const uint8_t* data, size_t length, std::string& error) override {
    if (!m_inner->Write(data, length, error)) return false;
    m_state.bytes += length;
    return true;
  }
  bool Flush(std::string& error) override { return m_inner->Flush(error); }
  bool Close(std::string& error) override {
    m_state.closed = m_inner->Close(error);
    return m_state.closed;
  }

private:
  std::unique_ptr<IDumpSink> m_inner;
  WorkingFileState& m_state;
};

}  // namespace

WorkingFileState CCliFileAccess::WorkingFile(const std::string& path) const {
  const auto it = m_working.find(path);
  return it == m_working.end() ? WorkingFileState{} : it->second;
}

bool CCliFileAccess::FileSize(const std::string& path, uint64_t& size, std::string& error) {
  return m_files.FileSize(path, size, error);
}

bool CCliFileAccess::ReadAt(const std::string& path, uint64_t offset, uint8_t* buffer, size_t length, size_t& got,
                            std::string& error) {
  return m_files.ReadAt(path, offset, buffer, length, got, error);
}

std::unique_ptr<IDumpSink> CCliFileAccess::CreateDump(const std::string& path, std::string& error) {
  if (const auto it = m_working.find(path); it != m_working.end()) {
    auto sink = m_files.CreateFreshDump(path, error);
    if (!sink) return nullptr;
    return std::make_unique<CRecordedSink>(std::move(sink), it->second);
  }
  if (m_dumpsToMemory) return std::make_unique<CMemorySink>(m_readBack);
  return m_files.CreateDump(path, error);
}

BatchEntry CMemoryBatch::Entry(int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= m_entries.size()) return BatchEntry{};
  return m_entries[static_cast<size_t>(index)];
}
