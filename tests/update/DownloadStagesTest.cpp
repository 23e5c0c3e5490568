// The download: the chip's request, the boot image, the chip settings, the
// switch to 115200 baud and the flash loader, byte for byte.
#include <algorithm>

#include "tests/update/EngineFixture.h"
#include "update/Frame.h"

namespace {

TEST(FrameTest, WorkedFramesAndCheckValues) {
  EXPECT_EQ(FrameChecksum(nullptr, 0), 0xFFFF);
  EXPECT_EQ(FrameChecksum(S("123456789").data(), 9), 0x2135);
  const Bytes abc = S("abc");
  EXPECT_EQ(BuildFrame(FRAME_APP_DATA, abc.data(), abc.size()), B({0xFF, 0x03, 0x00, 0x03, 0x61, 0x62, 0x63, 0x10, 0x21}));
  EXPECT_EQ(BuildFrame(FRAME_DUMP, nullptr, 0), B({0xFF, 0x06, 0x00, 0x00, 0xFF, 0xFF}));
  EXPECT_EQ(BuildFrame(FRAME_ERASE, nullptr, 0), B({0xFF, 0x04, 0x00, 0x00, 0xFF, 0xFF}));
}

class DownloadTest : public EngineTest {
protected:
  // Chip model list 0x10, 2, 3, 4, 5, 6, 7, 8, 9 with RAM type 1, chip model
  // 2, RAM size 1, crystal 0, flash type 1. v2 is given above 255 to show
  // that only its low byte travels.
  UpdateSettings ChipSettings() const {
    UpdateSettings s = BaseSettings(ACT_ERASE);
    s.m_nChipParam0 = 0x10;
    s.m_nChipParam1 = 2;
    s.m_nChipParam2 = 0x103;
    s.m_nRamType = 1;
    s.m_nRamParam0 = 7;
    s.m_nRamParam1 = 8;
    s.m_nRamParam2 = 9;
    s.m_nChipModel = 2;
    s.m_nSdramSize = 1;
    s.m_nXtal = 0;
    s.m_nFlashType = 1;
    return s;
  }
};

TEST_F(DownloadTest, StartWaitsForTheRequestAndSendsNothing) {
  engine.OnUpdateStart(ChipSettings());
  EXPECT_EQ(engine.Stage(), STAGE_WAIT_REQUEST);
  EXPECT_EQ(trace.events, std::vector<std::string>{"enable:1017=0"});
  engine.OnUpdateTick(ID_TIMER_WAIT);
  engine.OnUpdateTick(ID_TIMER_WAIT);
  engine.OnUpdateTick(3);
  EXPECT_EQ(view.console, ">>");
  EXPECT_TRUE(port.writes.empty());
  EXPECT_TRUE(view.logs.empty());
}

TEST_F(DownloadTest, RequestAnswersAndSendsThePaddedBootImage) {
  engine.OnUpdateStart(ChipSettings());
  Clear();
  Feed("X");

  ASSERT_EQ(port.writes.size(), 2u);
  EXPECT_EQ(port.writes[0], B({0x18}));
  Bytes expected = files.files[kBootPath];
  expected.resize(2048, 0x55);
  EXPECT_EQ(port.writes[1], expected);
  EXPECT_EQ(engine.Stage(), STAGE_BOOT_IMAGE);
  EXPECT_EQ(trace.events, (std::vector<std::string>{
                              "write:1", TimerEvent(ID_TIMER_WAIT, 0), "log:\nRecv updating request.",
                              "log:\nSend 2KB Bin file.", "wait:50", "write:2048", "wait:200"}));
}

TEST_F(DownloadTest, BootAcknowledgeSendsSettingsReopensAndSendsTheLoader) {
  files.files[kLoaderPath] = Pattern(10000, 3);
  engine.OnUpdateStart(ChipSettings());
  Feed("X");
  Clear();
  Feed("X");

  ASSERT_EQ(port.writes.size(), 5u);
  EXPECT_EQ(port.writes[0], B({0x10, 0x02, 0x07, 0x08, 0x01, 0x00, 0x01, 0x01, 0x03, 0x09}));
  EXPECT_EQ(port.writes[1], B({0x00, 0x00, 0x27, 0x10}));
  EXPECT_EQ(port.writes[2].size(), 4096u);
  EXPECT_EQ(port.writes[3].size(), 4096u);
  EXPECT_EQ(port.writes[4].size(), 1808u);
  Bytes body;
  for (size_t i = 2; i < 5; ++i) body.insert(body.end(), port.writes[i].begin(), port.writes[i].end());
  EXPECT_EQ(body, files.files[kLoaderPath]);
  EXPECT_EQ(view.console, "***");
  EXPECT_EQ(port.reopens, std::vector<uint32_t>{115200});
  EXPECT_EQ(engine.Stage(), STAGE_LOADER_BODY);
  EXPECT_TRUE(view.Progress().empty());

  EXPECT_EQ(trace.events,
            (std::vector<std::string>{"log:\nboot file receive ok.", "log:\nSend Chip Type/Sdram Size/Xtal", "write:10",
                                      "log:\nSend flash file lenth.", "wait:1000", "reopen:115200", "write:4",
                                      "log:\nSend flash file code.", "wait:50", "log:\nFlash File length = 10000.\n",
                                      "write:4096", "wait:373", "con:*", "write:4096", "wait:373", "con:*",
                                      "write:1808", "wait:165", "con:*"}));
}

TEST_F(DownloadTest, TwoAcknowledgesInOneReadRunBothSteps) {
  engine.OnUpdateStart(ChipSettings());
  // A request repeated within one read is one request, not the boot
  // image's acknowledge as well.
  Feed("XX");
  EXPECT_EQ(engine.Stage(), STAGE_BOOT_IMAGE);
  ASSERT_EQ(port.writes.size(), 2u);
  EXPECT_EQ(port.writes[0], B({0x18}));
  EXPECT_EQ(port.writes[1].size(), 2048u);
  // Past the request every byte is judged against the stage it moved to.
  Feed("XX");
  EXPECT_EQ(engine.Stage(), STAGE_CONTROL_INFO);
  EXPECT_EQ(port.writes[2].size(), 10u);
}

TEST_F(DownloadTest, FailedReopenWarnsAndCarriesOn) {
  port.reopenResult = PortOpenResult::Busy;
  engine.OnUpdateStart(ChipSettings());
  Feed("X");
  Feed("X");
  const int box = trace.Find("box:Can't open port!/Error");
  ASSERT_GE(box, 0);
  EXPECT_EQ(trace.events[static_cast<size_t>(box) + 1], "text:1012=Open");
  // The observer hears why, after the window has been told.
  EXPECT_EQ(trace.events[static_cast<size_t>(box) + 2], "port:" + std::to_string(static_cast<int>(PortOpenResult::Busy)));
  EXPECT_GT(trace.Find("write:4", box), box);
  EXPECT_EQ(engine.Stage(), STAGE_LOADER_BODY);
  EXPECT_FALSE(Ended());
}

TEST_F(DownloadTest, NegativeAcknowledgeResendsTheWholeBlock) {
  engine.OnUpdateStart(ChipSettings());
  Feed("X");
  Feed("X");
  const size_t before = port.writes.size();
  Feed("Y");
  EXPECT_EQ(view.logs.back().substr(0, 21), "\nFlash File length = ");
  EXPECT_EQ(view.logs[view.logs.size() - 2], "\ncheck error 1 time");
  // The body only: the length is not sent again.
  ASSERT_EQ(port.writes.size(), before + 1);
  EXPECT_EQ(port.writes.back(), files.files[kLoaderPath]);
}

// A missing or unusable boot.bin or flash.bin ends the update with one line
// naming the file and the reason; nothing is sent for it and no success line
// follows, even when the chip goes on acknowledging.
struct FileFault {
  const char* name;
  void (*arrange)(MemFiles&);
  int acks;  // 'X' bytes that reach the failing step
  const char* line;
};

void PrintTo(const FileFault& f, std::ostream* os) { *os << f.name; }

class DownloadFileFaultTest : public DownloadTest, public ::testing::WithParamInterface<FileFault> {};

TEST_P(DownloadFileFaultTest, EndsWithALineNamingTheFile) {
  const FileFault& f = GetParam();
  f.arrange(files);
  engine.OnUpdateStart(ChipSettings());
  Feed("X");  // the request, in a read of its own
  Feed(std::string(static_cast<size_t>(f.acks - 1), 'X'));

  EXPECT_EQ(engine.Stage(), STAGE_IDLE);
  const int failure = trace.Find(std::string("log:") + f.line);
  ASSERT_GE(failure, 0) << ::testing::PrintToString(view.logs);
  EXPECT_EQ(trace.events[static_cast<size_t>(failure) + 1], "outcome:" + std::to_string(int(UpdateOutcome::FileError)));
  EXPECT_EQ(trace.events[static_cast<size_t>(failure) + 2], kEndEvent);
  EXPECT_EQ(view.Count(WM_UPDATE_END), 1);
  const size_t writes = port.writes.size();
  Feed("XXXX");
  EXPECT_EQ(port.writes.size(), writes);
  ExpectNoSuccessAfter(failure);
}

INSTANTIATE_TEST_SUITE_P(
    Files, DownloadFileFaultTest,
    ::testing::Values(
        FileFault{"BootMissing", [](MemFiles& f) { f.files.erase(kBootPath); }, 1,
                  "\ncan't open boot file /cfg/boot.bin: No such file or directory"},
        FileFault{"BootTooLong", [](MemFiles& f) { f.files[kBootPath] = Pattern(2049); }, 1,
                  "\nboot file /cfg/boot.bin is 2049 bytes, more than 2048."},
        // An empty image would go out as 2048 bytes of 0x55, an empty loader
        // as a zero length: neither gives the chip anything to run.
        FileFault{"BootEmpty", [](MemFiles& f) { f.files[kBootPath].clear(); }, 1,
                  "\nboot file /cfg/boot.bin is empty."},
        FileFault{"LoaderEmpty", [](MemFiles& f) { f.files[kLoaderPath].clear(); }, 2,
                  "\nflash file /cfg/flash.bin is empty."},
        FileFault{"BootUnreadable", [](MemFiles& f) { f.failReadAt[kBootPath] = 1; }, 1,
                  "\ncan't read boot file /cfg/boot.bin: Input/output error"},
        FileFault{"LoaderMissing", [](MemFiles& f) { f.files.erase(kLoaderPath); }, 2,
                  "\ncan't open flash file /cfg/flash.bin: No such file or directory"},
        FileFault{"LoaderUnreadable", [](MemFiles& f) { f.failReadAt[kLoaderPath] = 1; }, 2,
                  "\ncan't read flash file /cfg/flash.bin: Input/output error"},
        FileFault{"LoaderShorterThanItsSize",
                  [](MemFiles& f) {
                    f.files[kLoaderPath] = Pattern(5000);
                    f.sizeOverride[kLoaderPath] = 9000;
                  },
                  2, "\ncan't read flash file /cfg/flash.bin: it ended after 5000 of 9000 bytes."}),
    [](const ::testing::TestParamInfo<FileFault>& info) { return std::string(info.param.name); });

TEST_F(DownloadTest, BootImageOfExactly2048BytesIsSentUnpadded) {
  files.files[kBootPath] = Pattern(2048, 9);
  engine.OnUpdateStart(ChipSettings());
  Feed("X");
  EXPECT_EQ(port.writes[1], files.files[kBootPath]);
}

}  // namespace
