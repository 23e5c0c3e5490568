// The update engine driven by the fuzzer: settings, files and batch list from
// the first bytes, then the chip's bytes, timer ticks, stops, restarts and a
// lost port in any order. Beside the checks of the fakes, an update may only
// succeed when the chip acknowledged every block of every act.
#include "tests/fuzz/EngineFuzzFakes.h"
#include "tests/fuzz/EngineLineModel.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

const std::string kConfigDir = "/cfg/";
const std::string kAppFile = "/img/app.bin";
const std::string kDumpFile = "/out/dump.bin";
const char* const kEntryFiles[] = {"/img/app.bin", "/out/entry.bin", "/missing/entry.bin", "/img/empty.bin"};

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>((i + seed) % 251);
  return out;
}

int32_t ActFrom(uint8_t b) {
  static const int32_t acts[] = {ACT_PROGRAM, ACT_ERASE, ACT_DUMP, ACT_BATCH, 7, 255, ACT_DUMP, ACT_PROGRAM};
  return acts[b % std::size(acts)];
}

class CHarness : public IUpdateObserver {
public:
  CHarness() {
    m_enginePtr = &m_engine;
    m_port.onWrite = [this](uint32_t stage, const Bytes& b) { m_model.OnWrite(stage, b); };
  }

  void OnUpdateOutcome(UpdateOutcome outcome) override {
    FUZZ_CHECK(m_rec.running, "an outcome with no update running");
    if (!m_rec.running) return;
    FUZZ_CHECK(++m_rec.outcomes == 1, "a second outcome for one update");
    FUZZ_CHECK(m_rec.ends == 0, "an outcome after the end message");
    if (outcome == UpdateOutcome::Completed) m_model.CheckCompleted();
  }

  // Settings, files and the batch list from the head of the input.
  void Setup(FuzzInput& in) {
    m_settings.m_nAct = ActFrom(in.Byte());
    m_settings.m_nLength = static_cast<int32_t>(in.U16() % 20000);
    m_settings.m_nBase = in.Byte() << 12;
    m_settings.m_nChipParam1 = 2;
    m_settings.m_nFlashModel = 0x85;
    m_settings.m_strAppFile = kAppFile;
    m_settings.m_strDumpFile = kDumpFile;
    m_files.files[kAppFile] = Pattern(in.U16() % 12000, 3);
    m_files.files["/img/empty.bin"] = {};
    m_files.files[kConfigDir + "boot.bin"] = Pattern(in.U16() % 2060, 1);
    m_files.files[kConfigDir + "flash.bin"] = Pattern(in.U16() % 5000, 2);
    const uint8_t flags = in.Byte();
    m_port.reopenResult = (flags & 1) == 0;
    if (flags & 2) m_files.capacity = in.U16() % 20000;
    if (flags & 4) m_settings.m_strDumpFile = "/missing/dump.bin";
    if (flags & 8) m_settings.m_strAppFile = "/img/empty.bin";
    if (flags & 16) m_files.failRead = in.Byte();
    if (m_settings.m_nAct == ACT_BATCH) {
      m_batch.total = static_cast<int8_t>(in.Byte()) % 6;
      const int entries = in.Byte() % 5;
      for (int i = 0; i < entries; ++i) {
        const int32_t act = ActFrom(in.Byte());
        const int32_t length = static_cast<int32_t>(in.U16() % 9000);
        m_batch.entries.push_back(BatchEntry{act, 0, length, kEntryFiles[in.Byte() % std::size(kEntryFiles)]});
      }
    }
  }

  void Start() {
    m_rec.running = true;
    m_rec.ends = m_rec.outcomes = 0;
    m_rec.dumpAsked = -1;
    m_model.Start(Expected());
    m_engine.OnUpdateStart(m_settings);
  }

  // One step of the script.
  void Step(FuzzInput& in) {
    const uint8_t op = in.Byte();
    switch (op) {
      case 't': m_clock.now += TIMER_ACK_PERIOD_MS; m_engine.OnUpdateTick(ID_TIMER_ACK); break;
      case 'T': m_clock.now += in.Byte() * 10u; m_engine.OnUpdateTick(ID_TIMER_ACK); break;
      case 'w': m_engine.OnUpdateTick(ID_TIMER_WAIT); break;
      case 's': m_rec.running = false; m_engine.OnUpdateStop(); break;
      case 'l': m_engine.OnPortLost("gone"); break;
      case 'S': Start(); break;
      case 'd': FeedDump((in.Byte() + 1) * 32); break;
      case 'D':
        while (InDump()) FeedDump(3000);
        break;
      default: FeedByte(op); break;
    }
    FUZZ_CHECK(m_engine.Stage() <= STAGE_DUMP, "stage " + std::to_string(m_engine.Stage()));
    if (m_rec.ends > 0) FUZZ_CHECK(m_engine.Stage() == STAGE_IDLE, "not idle after the end");
  }

  void Finish() {
    m_rec.running = false;
    m_engine.OnUpdateStop();
  }

private:
  std::vector<ExpectedAct> Expected() {
    std::vector<ExpectedAct> acts;
    if (m_settings.m_nAct != ACT_BATCH) {
      acts.push_back({m_settings.m_nAct, m_settings.m_nLength, m_settings.m_strAppFile, m_settings.m_strDumpFile});
      return acts;
    }
    for (int32_t i = 0; i < std::max(1, m_batch.total); ++i) {
      const BatchEntry e = m_batch.Entry(i);
      acts.push_back({e.act, e.length, e.file, e.file});
    }
    return acts;
  }

  void Feed(const Bytes& bytes) {
    for (uint8_t b : bytes) m_model.OnRead(b);
    m_engine.OnReceive(bytes.data(), bytes.size());
  }

  // One byte from the chip. Outside a dump, 'X' clears the row of 'Y' and the
  // tenth 'Y' in a row ends a running update. A 'Y' with no update running
  // answers nothing: it neither counts nor ends anything.
  void FeedByte(uint8_t byte) {
    Feed(Bytes{byte});
  }

  // The chip owes dump data: the engine takes the next bytes as flash contents.
  bool InDump() const { return m_engine.Stage() == STAGE_DUMP && m_model.DumpLeft() > 0; }

  // Up to n bytes of dump data, never more than the chip owes.
  void FeedDump(int64_t n) {
    if (!InDump()) return;
    n = std::min(n, m_model.DumpLeft());
    Feed(Pattern(static_cast<size_t>(n), static_cast<uint8_t>(m_model.DumpLeft())));
  }

  UpdateRecord m_rec;
  const CUpdateEngine* m_enginePtr = nullptr;
  FuzzPort m_port{m_rec, m_enginePtr};
  FuzzView m_view{m_rec};
  FuzzClock m_clock;
  FuzzFiles m_files{m_rec};
  FuzzBatch m_batch;
  CLineModel m_model{m_rec, m_files, kConfigDir + "boot.bin", kConfigDir + "flash.bin"};
  UpdateSettings m_settings;
  CUpdateEngine m_engine{UpdateEngineDeps{m_port, m_view, m_clock, m_files, m_batch, this, kConfigDir, nullptr}};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  CHarness harness;
  harness.Setup(in);
  harness.Start();
  while (!in.Empty()) harness.Step(in);
  harness.Finish();
  return 0;
}
