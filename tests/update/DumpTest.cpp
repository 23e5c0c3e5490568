// Dump-receive mode and the dump file: exact contents, the host's 'X' every
// 4096 bytes, restarts, and what is left on disk when a dump is cut short.
#include "comm/FileAccess.h"
#include "tests/support/TempDir.h"
#include "tests/update/EngineFixture.h"

namespace {

const std::string kDumpPath = "/out/dump.bin";
const Bytes kAck = B({'X'});

class DumpTest : public EngineTest {
protected:
  void StartDump(int32_t length) { RunToDump(length); }
  // Dump data with every protocol byte in it.
  static Bytes Data(size_t n, uint8_t seed = 0) {
    Bytes d = Pattern(n, seed);
    const Bytes protocol = S("XYEP");
    for (size_t i = 0; i < n; i += 97) d[i] = protocol[(i / 97) % 4];
    return d;
  }
};

TEST_F(DumpTest, FiveThousandBytesGetOneAcknowledge) {
  StartDump(5000);
  const Bytes data = Data(5000);
  Feed(Bytes(data.begin(), data.begin() + 4095));
  EXPECT_TRUE(port.writes.empty());
  Feed(Bytes(data.begin() + 4095, data.begin() + 4096));
  EXPECT_EQ(port.writes, std::vector<Bytes>{kAck});
  EXPECT_EQ(view.console, "d");
  EXPECT_EQ(view.Progress(), std::vector<int32_t>{81});

  Feed(Bytes(data.begin() + 4096, data.end()));
  EXPECT_EQ(port.writes.size(), 1u);
  EXPECT_FALSE(files.dumps[kDumpPath].open);  // closed after byte 5000, before the chip's 'X'
  EXPECT_EQ(files.files[kDumpPath], data);
  EXPECT_TRUE(view.logs.empty());  // the protocol bytes in the data were data

  Feed("X");
  EXPECT_EQ(view.logs, (std::vector<std::string>{"\ndump ok.", "\ncompelete."}));
  EXPECT_EQ(engine.Stage(), STAGE_IDLE);
}

TEST_F(DumpTest, EightKilobytesAndTheClosingAckInOneRead) {
  StartDump(8192);
  Bytes data = Data(8192, 5);
  Bytes read = data;
  read.push_back('X');
  Feed(read);
  EXPECT_EQ(port.writes, (std::vector<Bytes>{kAck, kAck}));
  EXPECT_EQ(view.console, "dd");
  EXPECT_EQ(files.files[kDumpPath], data);
  EXPECT_EQ(view.logs, (std::vector<std::string>{"\ndump ok.", "\ncompelete."}));
}

TEST_F(DumpTest, NegativeAcknowledgeAfterTheDataStartsTheDumpAfresh) {
  StartDump(5000);
  Feed(Data(5000));
  Feed("Y");
  EXPECT_EQ(port.writes.back(), B({0xFF, 0x06, 0x00, 0x00, 0xFF, 0xFF}));
  EXPECT_EQ(view.logs.back(), "\ncheck error 1 time");
  const Bytes second = Data(5000, 77);
  Feed(second);
  EXPECT_EQ(files.dumps[kDumpPath].creates, 2);
  EXPECT_EQ(files.files[kDumpPath], second);
  Feed("X");
  EXPECT_EQ(view.logs.back(), "\ncompelete.");
}

TEST_F(DumpTest, StrayByteAfterACompleteDumpDoesNotRestartIt) {
  StartDump(5000);
  const Bytes data = Data(5000);
  Feed(data);
  Feed("AX");
  EXPECT_EQ(view.console, "dA");
  EXPECT_EQ(files.dumps[kDumpPath].creates, 1);
  EXPECT_EQ(files.files[kDumpPath], data);
  EXPECT_EQ(view.logs, (std::vector<std::string>{"\ndump ok.", "\ncompelete."}));
}

TEST_F(DumpTest, FileThatCannotBeCreatedEndsTheUpdate) {
  UpdateSettings s = BaseSettings(ACT_DUMP);
  s.m_nLength = 5000;
  s.m_strDumpFile = "/missing/dump.bin";
  RunToControlInfo(s);
  Feed("X");
  Clear();
  // Flash data that happens to hold ten 'Y': dropped with the failed dump,
  // not counted as negative acknowledges.
  Feed(Bytes(10, 'Y'));
  EXPECT_EQ(view.logs, std::vector<std::string>{"\ncan't create dump file /missing/dump.bin: No such file or directory"});
  EXPECT_EQ(observer.outcomes, std::vector<UpdateOutcome>{UpdateOutcome::FileError});
  EXPECT_EQ(engine.Stage(), STAGE_IDLE);
  Feed("X");
  ExpectNoSuccessAfter(0);
  EXPECT_EQ(view.Count(WM_UPDATE_END), 1);
}

TEST_F(DumpTest, DiskFullKeepsWhatFitAndSaysSo) {
  files.dumps[kDumpPath].capacity = 3000;
  StartDump(5000);
  const Bytes data = Data(5000);
  Feed(data);
  EXPECT_EQ(view.logs[0], "\ncan't write dump file /out/dump.bin: No space left on device");
  EXPECT_EQ(view.logs[1], "\ndump cut short: /out/dump.bin holds 3000 of 5000 bytes.");
  EXPECT_EQ(files.files[kDumpPath], Bytes(data.begin(), data.begin() + 3000));
  EXPECT_FALSE(files.dumps[kDumpPath].open);
  EXPECT_EQ(observer.outcomes, std::vector<UpdateOutcome>{UpdateOutcome::FileError});
  EXPECT_EQ(engine.Stage(), STAGE_IDLE);
  ExpectNoSuccessAfter(0);
}

TEST_F(DumpTest, StopFlushesAndClosesThePartialDump) {
  StartDump(5000);
  const Bytes data = Data(2000);
  Feed(data);
  EXPECT_TRUE(files.dumps[kDumpPath].open);
  Clear();
  engine.OnUpdateStop();
  EXPECT_FALSE(files.dumps[kDumpPath].open);
  EXPECT_EQ(files.files[kDumpPath], data);
  EXPECT_EQ(trace.events, (std::vector<std::string>{"enable:1017=1",
                                                     "log:\ndump cut short: /out/dump.bin holds 2000 of 5000 bytes."}));
  EXPECT_EQ(engine.Stage(), STAGE_IDLE);
  // Further bytes are those of an idle update and leave the file alone.
  Feed(Data(100));
  EXPECT_EQ(files.files[kDumpPath], data);
}

TEST_F(DumpTest, LostPortEndsTheUpdateAndKeepsThePartialDump) {
  StartDump(5000);
  const Bytes data = Data(4500);
  Feed(data);
  Clear();
  engine.OnPortLost("device disconnected");
  EXPECT_EQ(trace.events,
            (std::vector<std::string>{"log:\nserial port lost (device disconnected), update stopped.",
                                      "log:\ndump cut short: /out/dump.bin holds 4500 of 5000 bytes.",
                                      "outcome:" + std::to_string(int(UpdateOutcome::PortLost)), kEndEvent}));
  EXPECT_EQ(files.files[kDumpPath], data);
  Clear();
  engine.OnPortLost("again");  // nothing runs any more
  EXPECT_TRUE(trace.events.empty());
}

TEST_F(DumpTest, ShutdownFlushesTheDumpWithoutTouchingTheWindow) {
  StartDump(5000);
  const Bytes data = Data(1500);
  Feed(data);
  Clear();
  engine.Shutdown();
  EXPECT_FALSE(files.dumps[kDumpPath].open);
  EXPECT_EQ(files.files[kDumpPath], data);
  EXPECT_TRUE(trace.events.empty());
}

// The same dump through the real files: exact sizes on disk.
class RealDumpTest : public ::testing::Test {
protected:
  void SetUp() override {
    temp.Write("boot.bin", "boot");
    temp.Write("flash.bin", "loader");
  }

  // Dumps `sent` bytes of a range of `length` and stops.
  Bytes DumpThenStop(int32_t length, size_t sent) {
    Trace trace;
    FakePort port{trace};
    CRecordingView view{Into(trace)};
    FakeClock clock{trace};
    FakeBatch batch;
    CPosixFileAccess files;
    CUpdateEngine engine{UpdateEngineDeps{port, view, clock, files, batch, nullptr, dir + "/", nullptr}};
    UpdateSettings s;
    s.m_nAct = ACT_DUMP;
    s.m_nLength = length;
    s.m_strDumpFile = dir + "/dump.bin";
    engine.OnUpdateStart(s);
    const Bytes data = Pattern(sent, 3);
    engine.OnReceive(kAck.data(), kAck.size());  // the request, in a read of its own
    Bytes read = S("XXX");
    read.insert(read.end(), data.begin(), data.end());
    engine.OnReceive(read.data(), read.size());
    engine.OnUpdateStop();
    acks = 0;
    for (const Bytes& w : port.writes) acks += w == kAck;
    return data;
  }

  TempDir temp;
  const std::string dir = temp.Path();
  int acks = 0;
};

TEST_F(RealDumpTest, FilesHoldExactlyTheRange) {
  Bytes data = DumpThenStop(5000, 5000);
  EXPECT_EQ(TempDir::ReadBytes(temp.File("dump.bin")), data);
  EXPECT_EQ(acks, 1);
  data = DumpThenStop(8192, 8192);
  EXPECT_EQ(TempDir::ReadBytes(temp.File("dump.bin")), data);
  EXPECT_EQ(acks, 2);
}

TEST_F(RealDumpTest, DumpCutShortStaysOnDisk) {
  const Bytes data = DumpThenStop(100000, 70001);
  EXPECT_EQ(TempDir::ReadBytes(temp.File("dump.bin")), data);
}

}  // namespace
