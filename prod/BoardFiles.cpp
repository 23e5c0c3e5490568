#include "prod/BoardFiles.h"

#include "core/platform/HostFiles.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace {

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

// A resumed dump: its first bytes must be those the file already holds
// from the same offset on; only then is the file opened, cut to what it
// held, and the rest of the bytes appended. When they differ the file is
// never opened for writing.
class CContinuingSink : public IDumpSink {
public:
  CContinuingSink(CHostFileAccess& files, std::string path, const WorkingFilePlan& plan, std::vector<uint8_t> held,
                  WorkingFileState& state)
      : m_files(files), m_path(std::move(path)), m_plan(plan), m_held(std::move(held)), m_state(state) {
    m_state = WorkingFileState{};
  }
  bool Write(const uint8_t* data, size_t length, std::string& error) override {
    if (!m_failure.empty()) return Fail(error);
    const size_t n = std::min(length, m_held.size() - m_compared);
    const auto differ = std::mismatch(data, data + n, m_held.begin() + static_cast<std::ptrdiff_t>(m_compared));
    if (differ.first != data + n) {
      m_state.differsAt = m_plan.continueAt + static_cast<int64_t>(m_compared) + (differ.first - data);
      char text[96];
      std::snprintf(text, sizeof text, "the flash differs from the bytes held at offset 0x%llx",
                    static_cast<unsigned long long>(m_state.differsAt));
      m_failure = text;
      return Fail(error);
    }
    m_compared += n;
    m_state.bytes += n;
    if (n == length) return true;
    if (!m_inner && !Open(error)) return false;
    if (!m_inner->Write(data + n, length - n, error)) return false;
    m_state.bytes += length - n;
    return true;
  }
  bool Flush(std::string& error) override { return m_inner ? m_inner->Flush(error) : true; }
  bool Close(std::string& error) override {
    if (!m_failure.empty()) return Fail(error);
    if (!m_inner && !Open(error)) return false;
    m_state.closed = m_inner->Close(error);
    return m_state.closed;
  }

private:
  bool Fail(std::string& error) const {
    error = m_failure;
    return false;
  }
  bool Open(std::string& error) {
    m_inner = m_files.ContinueDump(m_path, static_cast<uint64_t>(m_plan.held), error);
    if (!m_inner) m_failure = error;
    m_state.created = m_inner != nullptr;
    return m_inner != nullptr;
  }

  CHostFileAccess& m_files;
  const std::string m_path;
  const WorkingFilePlan m_plan;
  const std::vector<uint8_t> m_held;  // the file's bytes from continueAt to held
  WorkingFileState& m_state;
  size_t m_compared = 0;
  std::unique_ptr<IDumpSink> m_inner;
  std::string m_failure;
};

}  // namespace

std::unique_ptr<IDumpSink> CBoardFileAccess::CreateWorkingDump(const std::string& path, Working& working,
                                                             std::string& error) {
  const WorkingFilePlan& plan = working.plan;
  if (plan.continueAt >= 0) {
    std::vector<uint8_t> held(static_cast<size_t>(plan.held - plan.continueAt));
    size_t got = 0;
    if (!m_files.ReadAt(path, static_cast<uint64_t>(plan.continueAt), held.data(), held.size(), got, error))
      return nullptr;
    if (got != held.size()) {
      error = "it holds fewer bytes than when the run began";
      return nullptr;
    }
    return std::make_unique<CContinuingSink>(m_files, path, plan, std::move(held), working.state);
  }
  // The old record goes first: a new FILE.part is never paired with it.
  const std::string record = DumpRecordPath(path);
  std::error_code ec;
  std::filesystem::remove(record, ec);
  auto sink = m_files.CreateFreshDump(path, error);
  if (!sink) return nullptr;
  if (!host::ReplaceFileWith(record, DumpRecordText(plan.record))) {
    error = "cannot write " + record;
    return nullptr;
  }
  return std::make_unique<CRecordedSink>(std::move(sink), working.state);
}

WorkingFileState CBoardFileAccess::WorkingFile(const std::string& path) const {
  const auto it = m_working.find(path);
  return it == m_working.end() ? WorkingFileState{} : it->second.state;
}

bool CBoardFileAccess::FileSize(const std::string& path, uint64_t& size, std::string& error) {
  return m_files.FileSize(path, size, error);
}

bool CBoardFileAccess::ReadAt(const std::string& path, uint64_t offset, uint8_t* buffer, size_t length, size_t& got,
                            std::string& error) {
  return m_files.ReadAt(path, offset, buffer, length, got, error);
}

std::unique_ptr<IDumpSink> CBoardFileAccess::CreateDump(const std::string& path, std::string& error) {
  if (const auto it = m_working.find(path); it != m_working.end()) return CreateWorkingDump(path, it->second, error);
  return m_readBacks.CreateDump(path, error);
}
