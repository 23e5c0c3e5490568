// The update engine's surroundings for the engine fuzz target: port, view,
// clock, files and batch list, all in memory. The port passes every write on
// to the harness, and the fakes check the invariants that hold at every call:
// nothing is written once the update has ended, the dump file never grows
// past the length asked for, one end message per update.
#pragma once

#include "core/Messages.h"
#include "tests/fuzz/FuzzSupport.h"
#include "update/UpdateEngine.h"

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// What the harness knows about the update in progress.
struct UpdateRecord {
  bool running = false;     // started and not yet ended or stopped
  int ends = 0;             // WM_UPDATE_END since the start
  int outcomes = 0;
  int64_t dumpAsked = -1;   // length of the dump in progress, from its control info
};

class FuzzPort : public IUpdatePort {
public:
  FuzzPort(UpdateRecord& r, const CUpdateEngine* const& e) : m_rec(r), m_engine(e) {}
  void Write(const uint8_t* data, size_t length) override {
    FUZZ_CHECK(m_rec.running, "a write to the port after the update ended");
    if (onWrite) onWrite(m_engine->Stage(), Bytes(data, data + length));
  }
  size_t OutputQueued() override { return 0; }
  void DiscardInput() override {}
  PortOpenResult ReopenAtBaud(uint32_t) override {
    return reopenResult ? PortOpenResult::Opened : PortOpenResult::NoDevice;
  }
  bool reopenResult = true;
  // Told of every write with the stage the engine was in.
  std::function<void(uint32_t, const Bytes&)> onWrite;

private:
  UpdateRecord& m_rec;
  const CUpdateEngine* const& m_engine;
};

class FuzzView : public IDlgView {
public:
  explicit FuzzView(UpdateRecord& r) : m_rec(r) {}
  void AppendLogLine(const std::string&) override {}
  void AppendConsoleChar(char) override {}
  void SetControlText(int, const std::string&) override {}
  void EnableControl(int, bool) override {}
  void ShowMessageBox(const std::string&, const std::string&) override {}
  void PostWindowMessage(uint32_t msg, uint32_t, int32_t lParam) override {
    if (msg == WM_UPDATE_PROGRESS) FUZZ_CHECK(lParam >= 0 && lParam <= 100, "progress " + std::to_string(lParam));
    if (msg != WM_UPDATE_END) return;
    FUZZ_CHECK(m_rec.running, "an end message with no update running");
    if (!m_rec.running) return;
    FUZZ_CHECK(++m_rec.ends == 1, "a second end message for one update");
    FUZZ_CHECK(m_rec.outcomes == 1, "an end message without one outcome before it");
    m_rec.running = false;
  }

private:
  UpdateRecord& m_rec;
};

class FuzzClock : public IUpdateClock {
public:
  void Wait(uint32_t ms) override { now += ms; }
  uint64_t NowMs() override { return now; }
  uint64_t now = 5000;
};

class FuzzFiles : public IFileAccess {
public:
  class Sink : public IDumpSink {
  public:
    Sink(FuzzFiles& fs, std::string path) : m_fs(fs), m_path(std::move(path)) {}
    bool Write(const uint8_t* data, size_t length, std::string& error) override {
      FUZZ_CHECK(m_fs.rec.running, "a write to the dump file after the update ended");
      FUZZ_CHECK(m_open, "a write to a closed dump file");
      m_written += length;
      FUZZ_CHECK(static_cast<int64_t>(m_written) <= m_fs.rec.dumpAsked,
                 "dump file longer than asked: " + std::to_string(m_written) + " of " +
                     std::to_string(m_fs.rec.dumpAsked));
      m_pending.insert(m_pending.end(), data, data + length);
      return m_pending.size() < 1024 || Flush(error);
    }
    bool Flush(std::string& error) override {
      Bytes& disk = m_fs.files[m_path];
      const size_t room = m_fs.capacity > disk.size() ? m_fs.capacity - disk.size() : 0;
      const size_t n = std::min(room, m_pending.size());
      disk.insert(disk.end(), m_pending.begin(), m_pending.begin() + static_cast<long>(n));
      const bool full = n < m_pending.size();
      m_pending.clear();
      if (full) error = "No space left on device";
      return !full;
    }
    bool Close(std::string& error) override {
      if (!m_open) return true;
      m_open = false;
      return Flush(error);
    }

  private:
    FuzzFiles& m_fs;
    std::string m_path;
    Bytes m_pending;
    size_t m_written = 0;
    bool m_open = true;
  };

  explicit FuzzFiles(UpdateRecord& r) : rec(r) {}
  bool FileSize(const std::string& path, uint64_t& size, std::string& error) override {
    auto it = files.find(path);
    if (it == files.end()) {
      error = "No such file or directory";
      return false;
    }
    size = it->second.size();
    return true;
  }
  bool ReadAt(const std::string& path, uint64_t offset, uint8_t* buffer, size_t length, size_t& got,
              std::string& error) override {
    auto it = files.find(path);
    if (it == files.end() || ++reads == failRead) {
      error = "Input/output error";
      return false;
    }
    const Bytes& d = it->second;
    got = offset >= d.size() ? 0 : std::min<size_t>(length, d.size() - static_cast<size_t>(offset));
    std::copy_n(d.begin() + static_cast<long>(std::min<uint64_t>(offset, d.size())), got, buffer);
    return true;
  }
  std::unique_ptr<IDumpSink> CreateDump(const std::string& path, std::string& error) override {
    if (path.empty() || path.rfind("/missing/", 0) == 0) {
      error = "No such file or directory";
      return nullptr;
    }
    files[path].clear();
    return std::make_unique<Sink>(*this, path);
  }

  UpdateRecord& rec;
  std::map<std::string, Bytes> files;
  size_t capacity = SIZE_MAX;  // bytes that fit on the "disk" per dump file
  int reads = 0;
  int failRead = 0;            // this read (1-based) fails; 0: none
};

class FuzzBatch : public IBatchSource {
public:
  int32_t TotalNum() override { return total; }
  BatchEntry Entry(int32_t index) override {
    if (index >= 0 && static_cast<size_t>(index) < entries.size()) return entries[static_cast<size_t>(index)];
    return BatchEntry{};
  }
  int32_t total = 0;
  std::vector<BatchEntry> entries;
};
