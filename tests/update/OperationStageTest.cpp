// The operation stage: control info, application image, erase, program and
// batch runs to their completion.
#include <algorithm>

#include "tests/update/EngineFixture.h"
#include "update/Frame.h"

namespace {

const std::string kAppPath = "/img/app.bin";

class OperationTest : public EngineTest {};

TEST_F(OperationTest, EraseRunsToCompletion) {
  engine.OnUpdateStart(BaseSettings(ACT_ERASE));
  Feed("X");
  Feed("X");
  Clear();
  Feed("X");
  EXPECT_EQ(view.logs, (std::vector<std::string>{"\nflash file receive ok.", "\nSend Control info.",
                                                  "\nSend erase Lenth = 0x20000"}));
  ASSERT_EQ(port.writes.size(), 1u);
  EXPECT_EQ(port.writes[0], B({0xFF, 0x02, 0x00, 0x0C, 0x01, 0x02, 0x01, 0x85, 0x00, 0x01, 0x00, 0x00, 0x00,
                               0x02, 0x00, 0x00, 0x42, 0xA8}));
  EXPECT_EQ(clock.waits, std::vector<uint32_t>{18 / 11 + 1});

  Clear();
  Feed("X");
  EXPECT_EQ(port.writes, std::vector<Bytes>{B({0xFF, 0x04, 0x00, 0x00, 0xFF, 0xFF})});
  EXPECT_EQ(engine.Stage(), STAGE_ERASE);

  Feed(std::string(32, 'E'));
  std::vector<int32_t> expected;
  for (int i = 1; i <= 32; ++i) expected.push_back(i * 100 / 32);
  EXPECT_EQ(view.Progress(), expected);
  EXPECT_EQ(view.Progress().front(), 3);
  EXPECT_EQ(view.console, std::string(32, 'e'));

  Clear();
  Feed("X");
  EXPECT_EQ(trace.events, (std::vector<std::string>{
                              "log:\nerase ok.", "log:\ncompelete.",
                              "post:" + std::to_string(WM_UPDATE_PROGRESS) + ",1,100",
                              "outcome:" + std::to_string(int(UpdateOutcome::Completed)), kEndEvent}));
  EXPECT_EQ(engine.Stage(), STAGE_IDLE);
}

TEST_F(OperationTest, TenThousandByteImageIsSentErasedAndProgrammed) {
  files.files[kAppPath] = Pattern(10000, 1);
  RunToControlInfo(BaseSettings(ACT_PROGRAM));
  const Bytes control = port.writes.back();
  ASSERT_EQ(control.size(), 18u);
  EXPECT_EQ(Bytes(control.begin() + 12, control.begin() + 16), B({0x00, 0x00, 0x27, 0x10}));
  EXPECT_EQ(view.logs.back(), "\nSend App file lenth.");
  EXPECT_EQ(engine.Settings().m_nLength, 10000);

  Clear();
  Feed("X");
  EXPECT_EQ(view.logs, (std::vector<std::string>{"\nSend App file.", "\nAppFile length = 10000.\n"}));
  Feed("XX");
  EXPECT_EQ(trace.Find(TimerEvent(ID_TIMER_ACK, 0)) >= 0, true);
  Feed("X");

  ASSERT_EQ(port.writes.size(), 4u);
  EXPECT_EQ(port.writes[0].size(), 4102u);
  EXPECT_EQ(port.writes[1].size(), 4102u);
  EXPECT_EQ(port.writes[2].size(), 1814u);
  Bytes image;
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(port.writes[i][1], FRAME_APP_DATA);
    image.insert(image.end(), port.writes[i].begin() + 4, port.writes[i].end() - 2);
  }
  EXPECT_EQ(image, files.files[kAppPath]);
  EXPECT_EQ(port.writes[3], B({0xFF, 0x04, 0x00, 0x00, 0xFF, 0xFF}));
  EXPECT_EQ(view.console, "****");
  EXPECT_EQ(view.Progress(), (std::vector<int32_t>{0, 40, 81, 100}));
  EXPECT_EQ(view.logs.back(), "\napp file receive ok.");
  EXPECT_EQ(view.Count(WM_UPDATE_TIMER), 3 + 3);  // (2, 2000) per chunk, (2, 0) per acknowledge
  // The timer stopped by the last acknowledge is not restarted.
  const auto lastTimer = std::find_if(view.posts.rbegin(), view.posts.rend(),
                                      [](const PostedMessage& p) { return p.msg == WM_UPDATE_TIMER; });
  EXPECT_EQ(*lastTimer, (PostedMessage{WM_UPDATE_TIMER, ID_TIMER_ACK, 0}));
  EXPECT_EQ(engine.Stage(), STAGE_ERASE);

  Feed("EEEX");  // one tick per 4096 bytes: three for 10000
  EXPECT_EQ(port.writes.back(), B({0xFF, 0x05, 0x00, 0x00, 0xFF, 0xFF}));
  EXPECT_EQ(engine.Stage(), STAGE_PROGRAM);
  Clear();
  Feed("PPPX");
  EXPECT_EQ(view.console, "ppp");
  EXPECT_EQ(view.Progress(), (std::vector<int32_t>{40, 81, 100, 100}));
  EXPECT_EQ(view.logs, (std::vector<std::string>{"\nprograme ok.", "\ncompelete."}));
  EXPECT_EQ(observer.outcomes, std::vector<UpdateOutcome>{UpdateOutcome::Completed});
}

TEST_F(OperationTest, MissingImageEndsBeforeTheControlInfo) {
  engine.OnUpdateStart(BaseSettings(ACT_PROGRAM));
  Feed("X");
  Feed("X");
  Clear();
  Feed("XXX");
  EXPECT_EQ(view.logs, (std::vector<std::string>{"\nflash file receive ok.", "\nSend Control info.",
                                                  "\nSend App file lenth.", "can't open file :", kAppPath,
                                                  "No such file or directory"}));
  EXPECT_TRUE(port.writes.empty());
  EXPECT_EQ(engine.Stage(), STAGE_IDLE);
  EXPECT_EQ(observer.outcomes, std::vector<UpdateOutcome>{UpdateOutcome::FileError});
  EXPECT_EQ(view.Count(WM_UPDATE_END), 1);
}

TEST_F(OperationTest, ImageThatFailsAtAChunkEndsTheUpdate) {
  files.files[kAppPath] = Pattern(10000);
  files.failReadAt[kAppPath] = 2;
  RunToControlInfo(BaseSettings(ACT_PROGRAM));
  Feed("X");
  Clear();
  Feed("X");
  EXPECT_EQ(view.logs.back(), "\ncan't read app file /img/app.bin: Input/output error");
  EXPECT_TRUE(port.writes.empty());
  EXPECT_EQ(engine.Stage(), STAGE_IDLE);
  EXPECT_EQ(view.Count(WM_UPDATE_END), 1);
  // The acknowledge timer is over: a late tick resends nothing.
  AckTimeout();
  Feed("XX");
  EXPECT_TRUE(port.writes.empty());
  ExpectNoSuccessAfter(0);
}

TEST_F(OperationTest, ImageThatChangedSizeSinceTheControlInfoIsNotSentCut) {
  files.files[kAppPath] = Pattern(10000);
  RunToControlInfo(BaseSettings(ACT_PROGRAM));
  Feed("X");
  files.files[kAppPath].resize(4096);  // the image shrank under the update
  Clear();
  Feed("X");
  EXPECT_EQ(view.logs, std::vector<std::string>{
                           "\napp file /img/app.bin changed size: 10000 bytes announced, 4096 now."});
  EXPECT_TRUE(port.writes.empty());
  EXPECT_EQ(observer.outcomes, std::vector<UpdateOutcome>{UpdateOutcome::FileError});
}

TEST_F(OperationTest, NegativeAcknowledgesResendTheCommandOfTheStage) {
  RunToControlInfo(BaseSettings(ACT_ERASE));
  const Bytes control = port.writes.back();
  Feed("Y");
  EXPECT_EQ(port.writes.back(), control);
  Feed("XEEY");
  EXPECT_EQ(port.writes.back(), B({0xFF, 0x04, 0x00, 0x00, 0xFF, 0xFF}));
  Clear();
  // The progress count restarts with the resent command.
  Feed("E");
  EXPECT_EQ(view.Progress(), std::vector<int32_t>{3});
}

class BatchTest : public EngineTest {
protected:
  UpdateSettings BatchSettings(int32_t total) {
    batch.total = total;
    batch.entries = {BatchEntry{ACT_ERASE, 0x1000, 0x2000, "/b/erase.bin"}, BatchEntry{255, 0, 0, ""},
                     BatchEntry{ACT_DUMP, 0x3000, 8, "/b/dump.bin"}};
    return BaseSettings(ACT_BATCH);
  }
  static Bytes ControlPayload(const Bytes& frame) { return Bytes(frame.begin() + 4, frame.end() - 2); }
};

TEST_F(BatchTest, RunsEveryEntryAndCompletesOnce) {
  RunToControlInfo(BatchSettings(3));
  EXPECT_EQ(ControlPayload(port.writes.back()), B({1, 2, 1, 0x85, 0, 0, 0x10, 0, 0, 0, 0x20, 0}));
  EXPECT_EQ(view.logs.back(), "\nSend erase Lenth = 0x2000");

  Feed("XEEX");  // erase entry 0: control acknowledged, ticks, erase done
  EXPECT_EQ(engine.Settings().m_nBatchIndex, 1);
  EXPECT_EQ(ControlPayload(port.writes.back()), B({255, 2, 1, 0x85, 0, 0, 0, 0, 0, 0, 0, 0}));

  Feed("X");  // entry 1 has no valid act
  EXPECT_EQ(view.logs.back(), "\nAct error.");
  EXPECT_EQ(engine.Settings().m_nBatchIndex, 2);
  EXPECT_EQ(ControlPayload(port.writes.back()), B({2, 2, 1, 0x85, 0, 0, 0x30, 0, 0, 0, 0, 8}));
  EXPECT_EQ(engine.Settings().m_strAppFile, "/b/dump.bin");
  EXPECT_EQ(engine.Settings().m_strDumpFile, "/b/dump.bin");

  Feed("X");
  Feed("abcdefgh");
  Feed("X");
  EXPECT_EQ(files.files["/b/dump.bin"], S("abcdefgh"));

  int completes = 0;
  for (const std::string& line : view.logs) completes += line == "\ncompelete.";
  EXPECT_EQ(completes, 1);
  EXPECT_EQ(view.logs.back(), "\ncompelete.");
  EXPECT_EQ(view.Count(WM_UPDATE_END), 1);
  EXPECT_EQ(batch.requested, (std::vector<int32_t>{0, 1, 2}));
  // The flash loader is loaded once: one boot image, one settings block.
  EXPECT_EQ(std::count_if(port.writes.begin(), port.writes.end(), [](const Bytes& w) { return w.size() == 2048; }), 1);
}

TEST_F(BatchTest, TotalNumZeroRunsEntryZeroOnly) {
  RunToControlInfo(BatchSettings(0));
  Feed("XEEX");
  EXPECT_EQ(view.logs.back(), "\ncompelete.");
  EXPECT_EQ(batch.requested, std::vector<int32_t>{0});
  EXPECT_EQ(engine.Stage(), STAGE_IDLE);
}

TEST_F(BatchTest, ListThatEndsEarlyCompletesAfterItsLastEntry) {
  RunToControlInfo(BatchSettings(3));
  batch.endsBefore = 1;
  Feed("XEEX");
  EXPECT_EQ(view.logs.back(), "\ncompelete.");
  EXPECT_EQ(view.Count(WM_UPDATE_END), 1);
  EXPECT_EQ(batch.requested, std::vector<int32_t>{0});
  EXPECT_EQ(engine.Stage(), STAGE_IDLE);
}

TEST_F(BatchTest, NegativeAcknowledgeOfTheControlInfoReadsTheEntryAgain) {
  RunToControlInfo(BatchSettings(3));
  Feed("Y");
  EXPECT_EQ(batch.requested, (std::vector<int32_t>{0, 0}));
  EXPECT_EQ(view.logs.back(), "\ncheck error 1 time");
}

}  // namespace
