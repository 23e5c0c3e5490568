// A scripted chip for the update engine: fakes for the port, the clock, the
// files and the batch list and a recording view, all writing into one
// ordered trace, and a fixture that drives the engine byte by byte.
#pragma once

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/Messages.h"
#include "tests/support/Bytes.h"
#include "tests/support/RecordingView.h"
#include "update/UpdateEngine.h"

struct Trace {
  std::vector<std::string> events;
  void Add(std::string e) { events.push_back(std::move(e)); }
  // Index of the first event equal to `e` at or after `from`, or -1.
  int Find(const std::string& e, int from = 0) const {
    for (size_t i = static_cast<size_t>(from); i < events.size(); ++i)
      if (events[i] == e) return static_cast<int>(i);
    return -1;
  }
};

class FakePort : public IUpdatePort {
public:
  explicit FakePort(Trace& t) : trace(t) {}
  void Write(const uint8_t* data, size_t length) override {
    writes.emplace_back(data, data + length);
    trace.Add("write:" + std::to_string(length));
  }
  size_t OutputQueued() override { return outputQueued; }
  void DiscardInput() override { ++discards; }
  // The line stays quiet unless a test says otherwise.
  bool InputWithin(uint32_t ms) override {
    quietWaits.push_back(ms);
    return inputWithin ? inputWithin(ms) : false;
  }
  void ExpectStream(size_t bytes) override {
    owed.push_back(bytes);
    owedAfterWrites.push_back(writes.size());
  }
  PortOpenResult ReopenAtBaud(uint32_t baud) override {
    reopens.push_back(baud);
    trace.Add("reopen:" + std::to_string(baud));
    return reopenResult;
  }
  Bytes All() const {
    Bytes out;
    for (const Bytes& w : writes) out.insert(out.end(), w.begin(), w.end());
    return out;
  }
  Trace& trace;
  std::vector<Bytes> writes;
  std::vector<uint32_t> reopens;
  PortOpenResult reopenResult = PortOpenResult::Opened;
  size_t outputQueued = 0;  // what OutputQueued answers
  int discards = 0;
  std::function<bool(uint32_t)> inputWithin;  // what InputWithin answers; none: quiet
  std::vector<uint32_t> quietWaits;           // the InputWithin calls
  std::vector<size_t> owed;                   // the ExpectStream calls
  std::vector<size_t> owedAfterWrites;        // how many writes had gone before each
};

// A stop on its way: waiting behind the step from the n-th look on (0 the
// first), and the front end's wish to stop after the block in flight.
class FakeStop : public IUpdateStop {
public:
  bool StopWaiting() override { return stopFromLook >= 0 && looks++ >= stopFromLook; }
  bool WindingDown() override { return windingDown; }
  int stopFromLook = -1;
  int looks = 0;
  bool windingDown = false;
};

// A recording view whose events also go into the trace.
inline CRecordingView::Listener Into(Trace& trace) {
  return [&trace](const std::string& event) { trace.Add(event); };
}

inline const std::string kEndEvent = PostEvent(WM_UPDATE_END, 1, 1);
inline std::string TimerEvent(uint32_t id, int32_t ms) { return PostEvent(WM_UPDATE_TIMER, id, ms); }

class FakeClock : public IUpdateClock {
public:
  explicit FakeClock(Trace& t) : trace(t) {}
  void Wait(uint32_t ms) override {
    waits.push_back(ms);
    now += ms;
    trace.Add("wait:" + std::to_string(ms));
  }
  uint64_t NowMs() override { return now; }
  Trace& trace;
  std::vector<uint32_t> waits;
  uint64_t now = 1000000;
};

// Files in memory. A dump sink keeps what it was given in a buffer until
// Flush or Close, so a test sees only what the engine really flushed.
class MemFiles : public IFileAccess {
public:
  struct DumpState {
    bool open = false;
    int creates = 0;
    size_t capacity = SIZE_MAX;  // bytes that fit on the "disk"
  };

  class Sink : public IDumpSink {
  public:
    Sink(MemFiles& fs, std::string path) : m_fs(fs), m_path(std::move(path)) {}
    ~Sink() override {
      std::string ignored;
      Close(ignored);
    }
    bool Write(const uint8_t* data, size_t length, std::string& error) override {
      if (!m_open) {
        error = "closed";
        return false;
      }
      m_pending.insert(m_pending.end(), data, data + length);
      // Like a real buffer: a full buffer goes to the disk.
      if (m_pending.size() >= 1024) return Flush(error);
      return true;
    }
    bool Flush(std::string& error) override {
      Bytes& disk = m_fs.files[m_path];
      const size_t room = m_fs.dumps[m_path].capacity - std::min(disk.size(), m_fs.dumps[m_path].capacity);
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
      m_fs.dumps[m_path].open = false;
      return Flush(error);
    }

  private:
    MemFiles& m_fs;
    std::string m_path;
    Bytes m_pending;
    bool m_open = true;
  };

  bool FileSize(const std::string& path, uint64_t& size, std::string& error) override {
    auto it = files.find(path);
    if (it == files.end()) {
      error = "No such file or directory";
      return false;
    }
    size = sizeOverride.count(path) ? sizeOverride[path] : it->second.size();
    return true;
  }
  bool ReadAt(const std::string& path, uint64_t offset, uint8_t* buffer, size_t length, size_t& got,
              std::string& error) override {
    ++reads[path];
    if (failReadAt.count(path) && reads[path] >= failReadAt[path]) {
      error = "Input/output error";
      return false;
    }
    auto it = files.find(path);
    if (it == files.end()) {
      error = "No such file or directory";
      return false;
    }
    const Bytes& data = it->second;
    got = offset >= data.size() ? 0 : std::min<size_t>(length, data.size() - offset);
    std::copy_n(data.begin() + static_cast<long>(offset), got, buffer);
    return true;
  }
  std::unique_ptr<IDumpSink> CreateDump(const std::string& path, std::string& error) override {
    if (path.empty() || path.find("/missing/") != std::string::npos) {
      error = "No such file or directory";
      return nullptr;
    }
    files[path].clear();
    dumps[path].open = true;
    ++dumps[path].creates;
    return std::make_unique<Sink>(*this, path);
  }

  std::map<std::string, Bytes> files;
  std::map<std::string, DumpState> dumps;
  std::map<std::string, uint64_t> sizeOverride;  // FileSize answers this instead
  std::map<std::string, int> failReadAt;         // the n-th read (1-based) and later fail
  std::map<std::string, int> reads;
};

class FakeBatch : public IBatchSource {
public:
  int32_t TotalNum() override { return total; }
  BatchEntry Entry(int32_t index) override {
    requested.push_back(index);
    if (index >= 0 && static_cast<size_t>(index) < entries.size()) return entries[static_cast<size_t>(index)];
    return BatchEntry{};
  }
  bool HasEntry(int32_t index) override { return index < endsBefore; }
  int32_t total = 0;
  int32_t endsBefore = INT32_MAX;  // the first entry the list says it does not have
  std::vector<BatchEntry> entries;
  std::vector<int32_t> requested;
};

class FakeObserver : public IUpdateObserver {
public:
  explicit FakeObserver(Trace& t) : trace(t) {}
  void OnUpdateOutcome(UpdateOutcome outcome) override {
    outcomes.push_back(outcome);
    trace.Add("outcome:" + std::to_string(static_cast<int>(outcome)));
  }
  void OnPortOpenResult(PortOpenResult result) override {
    trace.Add("port:" + std::to_string(static_cast<int>(result)));
  }
  void OnProgressMade() override { ++progress; }
  Trace& trace;
  std::vector<UpdateOutcome> outcomes;
  int progress = 0;
};

inline const std::string kConfigDir = "/cfg/";
inline const std::string kBootPath = kConfigDir + "boot.bin";
inline const std::string kLoaderPath = kConfigDir + "flash.bin";

class EngineTest : public ::testing::Test {
protected:
  EngineTest() {
    files.files[kBootPath] = Pattern(1000);
    files.files[kLoaderPath] = Pattern(300, 7);
  }

  UpdateSettings BaseSettings(int32_t act) const {
    UpdateSettings s;
    s.m_nAct = act;
    s.m_nChipParam1 = 2;
    s.m_nFlashType = 1;
    s.m_nFlashModel = 0x85;
    s.m_nBase = 0x10000;
    s.m_nLength = 0x20000;
    s.m_strAppFile = "/img/app.bin";
    s.m_strDumpFile = "/out/dump.bin";
    return s;
  }

  void Feed(const Bytes& bytes) { engine.OnReceive(bytes.data(), bytes.size()); }
  void Feed(const std::string& text) { Feed(S(text)); }

  // Start, then the chip's request, the boot image's and the loader's
  // acknowledges: the control info is on the line (stage 6).
  void RunToControlInfo(const UpdateSettings& s) {
    engine.OnUpdateStart(s);
    // Three reads: an 'X' with more 'X' right behind it is one request.
    Feed("X");
    Feed("X");
    Feed("X");
    ASSERT_EQ(engine.Stage(), STAGE_CONTROL_INFO);
  }

  // Runs to the dump command for a range of `length` bytes and forgets
  // what was recorded on the way.
  void RunToDump(int32_t length) {
    UpdateSettings s = BaseSettings(ACT_DUMP);
    s.m_nLength = length;
    RunToControlInfo(s);
    Feed("X");
    ASSERT_EQ(engine.Stage(), STAGE_DUMP);
    ASSERT_EQ(port.writes.back(), B({0xFF, 0x06, 0x00, 0x00, 0xFF, 0xFF}));
    Clear();
  }

  // Forgets everything recorded so far.
  void Clear() {
    trace.events.clear();
    port.writes.clear();
    port.quietWaits.clear();
    port.owed.clear();
    port.owedAfterWrites.clear();
    view.Clear();
    clock.waits.clear();
    observer.outcomes.clear();
  }

  // A tick of the acknowledge timer one full period after it was armed.
  void AckTimeout() {
    clock.now += TIMER_ACK_PERIOD_MS;
    engine.OnUpdateTick(ID_TIMER_ACK);
  }

  bool Ended() const { return trace.Find(kEndEvent) >= 0; }

  // No log line after the given event reports success.
  void ExpectNoSuccessAfter(int from) const {
    for (size_t i = static_cast<size_t>(from); i < trace.events.size(); ++i) {
      const std::string& e = trace.events[i];
      EXPECT_TRUE(e.find(" ok.") == std::string::npos && e.find("compelete") == std::string::npos)
          << "success line after a failure: " << e;
    }
  }

  Trace trace;
  FakePort port{trace};
  CRecordingView view{Into(trace)};
  FakeClock clock{trace};
  MemFiles files;
  FakeBatch batch;
  FakeObserver observer{trace};
  FakeStop stop;
  CUpdateEngine engine{UpdateEngineDeps{port, view, clock, files, batch, &observer, kConfigDir, &stop}};
};
