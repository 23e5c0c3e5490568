// The chip core driven by the scripted host over an in-memory line.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "sim/ChipCore.h"
#include "tests/sim/ScriptedHost.h"
#include "tests/support/TempDir.h"

namespace {

class ChipCoreTest : public ::testing::Test {
protected:
  ChipCoreTest() {
    m_opt.m_nFlashSize = 1u << 20;
    m_images.m_byBoot = m_boot;
    m_images.m_byLoader = m_loader;
    m_images.m_bCheckBoot = m_images.m_bCheckLoader = true;
    m_log.Silence();
    m_log.KeepText(true);
  }

  // Builds the chip from the options set so far and brings it out of reset.
  void Start() {
    std::string error;
    ASSERT_TRUE(m_flash.Open(m_dir.File("flash.bin"), m_opt.m_nFlashSize, &error)) << error;
    m_core = std::make_unique<CChipCore>(m_opt, m_images, m_flash, m_log);
    m_line = std::make_unique<CCoreLine>(*m_core);
    m_host = std::make_unique<CScriptedHost>(*m_line);
    m_line->Start();
  }
  void StartLoaded() {
    Start();
    ASSERT_TRUE(m_host->Download(m_boot, m_loader)) << m_log.Text();
  }
  void Send(const Bytes& b) { m_line->Send(b); }
  // A dump of 8192 bytes: the first block came and the host asked for the next.
  void DumpFirstBlockOf8192() {
    Send(CScriptedHost::ControlInfo(2, 0, 8192));
    ASSERT_EQ(m_host->Answer(), 'X');
    Send(CScriptedHost::Frame(FRAME_DUMP));
    EXPECT_EQ(m_core->TakeBytes().size(), 4096u);
    Send({'X'});
  }

  TempDir m_dir;
  Bytes m_boot = TempDir::ReadBytes(TQ_SOURCE_DIR "/config/boot.bin");
  Bytes m_loader = TempDir::ReadBytes(TQ_SOURCE_DIR "/config/flash.bin");
  SimOptions m_opt;
  SimImages m_images;
  CSimLog m_log;
  CFlashStore m_flash;
  std::unique_ptr<CChipCore> m_core;
  std::unique_ptr<CCoreLine> m_line;
  std::unique_ptr<CScriptedHost> m_host;
};

TEST_F(ChipCoreTest, SampleImagesFitTheDownload) {
  ASSERT_EQ(m_boot.size(), 1536u);
  ASSERT_EQ(m_loader.size(), 10000u);
  EXPECT_NE(m_boot.back(), 0x55);  // a cut image must not look like fill
}

TEST_F(ChipCoreTest, ProgramDumpEraseAndBatchInOneSession) {
  m_opt.m_bConsole = true;  // console text must never pass for a tick or an answer
  StartLoaded();
  const Bytes image = Pattern(10000, 3);
  ASSERT_TRUE(m_host->Program(0x10000, image));
  EXPECT_EQ(m_host->m_nErase, 3);
  EXPECT_EQ(m_host->m_nProgram, 3);

  Bytes dump;
  ASSERT_TRUE(m_host->Dump(0x10000, 10000, &dump));
  EXPECT_EQ(dump, image);
  // Programming covered only the image: the byte after it is still erased.
  ASSERT_TRUE(m_host->Dump(0x10000 + 10000, 1, &dump));
  EXPECT_EQ(dump, Bytes{0xFF});

  ASSERT_TRUE(m_host->Erase(0x10000, 0x20000));
  EXPECT_EQ(m_host->m_nErase, 32);
  ASSERT_TRUE(m_host->Dump(0x10000, 8192, &dump));
  EXPECT_EQ(dump, Bytes(8192, 0xFF));

  EXPECT_EQ(m_core->ActsDone(), 5);
  EXPECT_EQ(m_core->ChecksFailed(), 0) << m_log.Text();
  EXPECT_NE(m_host->m_console.find("flash loader"), std::string::npos);

  // A quiet line after the last act ends the session; the chip starts over.
  m_line->Wait(m_opt.m_nEndIdleMs);
  EXPECT_EQ(m_core->SessionsEnded(), 1);
  EXPECT_EQ(m_host->Answer(), 'X');  // the next session's request
}

TEST_F(ChipCoreTest, UnknownActIsAcknowledgedAndTheBatchGoesOn) {
  StartLoaded();
  Send(CScriptedHost::ControlInfo(7, 0, 0));
  EXPECT_EQ(m_host->Answer(), 'X');
  ASSERT_TRUE(m_host->Erase(0, 4096));
  EXPECT_EQ(m_host->m_nErase, 1);
  EXPECT_EQ(m_core->ChecksFailed(), 0);
}

TEST_F(ChipCoreTest, DumpWaitsForTheHostAfterEveryFullBlockOnly) {
  StartLoaded();
  Send(CScriptedHost::ControlInfo(2, 0, 8192));
  ASSERT_EQ(m_host->Answer(), 'X');
  Send(CScriptedHost::Frame(FRAME_DUMP));
  EXPECT_EQ(m_line->Drain().size(), 4096u);
  m_line->Wait(100);
  EXPECT_TRUE(m_line->Drain().empty());
  Send({'X'});
  EXPECT_EQ(m_line->Drain().size(), 4096u);  // the last full block is acknowledged too
  Send({'X'});
  EXPECT_EQ(m_line->Drain(), Bytes{'X'});

  // A final partial block is not waited for: the closing 'X' follows it.
  Send(CScriptedHost::ControlInfo(2, 0, 5000));
  ASSERT_EQ(m_host->Answer(), 'X');
  Send(CScriptedHost::Frame(FRAME_DUMP));
  EXPECT_EQ(m_line->Drain().size(), 4096u);
  Send({'X'});
  const Bytes rest = m_line->Drain();
  ASSERT_EQ(rest.size(), 905u);
  EXPECT_EQ(rest.back(), 'X');
}

// ------------------------------------------------------------ checks

TEST_F(ChipCoreTest, WrongChecksumIsRefusedAndTheResendAccepted) {
  StartLoaded();
  Bytes frame = CScriptedHost::ControlInfo(1, 0, 4096);
  frame[frame.size() - 1] ^= 0x01;
  Send(frame);
  EXPECT_EQ(m_host->Answer(), 'Y');
  EXPECT_EQ(m_core->ChecksFailed(), 1);
  Send(CScriptedHost::ControlInfo(1, 0, 4096));
  EXPECT_EQ(m_host->Answer(), 'X');
}

TEST_F(ChipCoreTest, FramesOfTheWrongTypeSizeOrRangeAreRefused) {
  StartLoaded();
  Send(CScriptedHost::Frame(FRAME_DUMP));  // no control info yet
  EXPECT_EQ(m_host->Answer(), 'Y');
  Send(CScriptedHost::Frame(FRAME_CONTROL_INFO, Bytes(11, 0)));
  EXPECT_EQ(m_host->Answer(), 'Y');
  Send(CScriptedHost::Frame(9, Bytes(12, 0)));
  EXPECT_EQ(m_host->Answer(), 'Y');
  Send(CScriptedHost::ControlInfo(2, m_opt.m_nFlashSize - 4096, 4097));  // past the end
  EXPECT_EQ(m_host->Answer(), 'Y');

  // Program: a chunk longer than the announced image is refused.
  Send(CScriptedHost::ControlInfo(0, 0, 100));
  ASSERT_EQ(m_host->Answer(), 'X');
  Send(CScriptedHost::Frame(FRAME_APP_DATA, Bytes(101, 1)));
  EXPECT_EQ(m_host->Answer(), 'Y');

  // A header announcing more than 4096 bytes: the rest is swallowed and
  // refused once the line goes quiet, not taken as new frames.
  Send({0xFF, FRAME_APP_DATA, 0x20, 0x00});
  Send(Bytes(0x2000, 0xFF));
  EXPECT_EQ(m_host->Answer(), 'Y');
  EXPECT_EQ(m_line->Drain(), Bytes{});
  Send(CScriptedHost::Frame(FRAME_APP_DATA, Bytes(100, 1)));
  EXPECT_EQ(m_host->Answer(), 'X');
  EXPECT_EQ(m_core->ChecksFailed(), 6);
}

TEST_F(ChipCoreTest, ShortBootBlockIsRefusedWhenTheLineGoesQuiet) {
  Start();
  ASSERT_EQ(m_host->Answer(), 'X');
  Send({BYTE_UPDATE_REPLY});
  Bytes block = CScriptedHost::BootBlock(m_boot);
  block.resize(2000);
  Send(block);
  EXPECT_EQ(m_host->Answer(), 'Y');
  EXPECT_EQ(m_core->ChecksFailed(), 1);
  EXPECT_NE(m_log.Text().find("short boot block: 2000 of 2048"), std::string::npos) << m_log.Text();
  Send(CScriptedHost::BootBlock(m_boot));
  EXPECT_EQ(m_host->Answer(), 'X');
}

TEST_F(ChipCoreTest, BootBlockMustCarryTheImageAndItsFill) {
  Start();
  ASSERT_EQ(m_host->Answer(), 'X');
  Send({BYTE_UPDATE_REPLY});
  Bytes block = CScriptedHost::BootBlock(m_boot);
  block[2047] = 0x00;  // fill damaged
  Send(block);
  EXPECT_EQ(m_host->Answer(), 'Y');
  block = CScriptedHost::BootBlock(m_boot);
  block[10] ^= 0x80;
  Send(block);
  EXPECT_EQ(m_host->Answer(), 'Y');
  EXPECT_EQ(m_core->ChecksFailed(), 2);
}

TEST_F(ChipCoreTest, WrongLoaderLengthIsRefusedAtEveryBodySend) {
  Start();
  ASSERT_EQ(m_host->Answer(), 'X');
  Send({BYTE_UPDATE_REPLY});
  Send(CScriptedHost::BootBlock(m_boot));
  ASSERT_EQ(m_host->Answer(), 'X');
  Send(Bytes(CHIP_SETTINGS_SIZE, 0));
  Send({0x00, 0x00, 0x27, 0x0F});  // 9999, the loader has 10000
  EXPECT_EQ(m_core->ChecksFailed(), 1);
  for (int attempt = 0; attempt < 2; ++attempt) {
    Send(m_loader);
    EXPECT_EQ(m_host->Answer(), 'Y') << "attempt " << attempt;
  }
  EXPECT_EQ(m_core->GetState(), CChipCore::State::LoaderBody);
}

TEST_F(ChipCoreTest, LoaderWithOtherContentIsRefused) {
  Start();
  Bytes loader = m_loader;
  loader[9999] ^= 1;
  EXPECT_FALSE(m_host->Download(m_boot, loader));
  EXPECT_EQ(m_core->ChecksFailed(), 1);
  EXPECT_NE(m_log.Text().find("at byte 9999"), std::string::npos);
}

TEST_F(ChipCoreTest, ExpectedChipSettingsAreChecked) {
  m_opt.m_byExpectSettings = {0x22, 0, 0x02, 0x03, 1, 0, 1, 0, 0x10, 0x04};
  Start();
  EXPECT_TRUE(m_host->Download(m_boot, m_loader, m_opt.m_byExpectSettings));
  EXPECT_EQ(m_core->ChecksFailed(), 0);
  m_core->Reset(m_line->NowUs());
  EXPECT_TRUE(m_host->Download(m_boot, m_loader, Bytes(CHIP_SETTINGS_SIZE, 0)));
  EXPECT_EQ(m_core->ChecksFailed(), 1);
}

// ------------------------------------------------------------ faults

TEST_F(ChipCoreTest, NakFaultRefusesOnlyTheChosenBlocks) {
  m_opt.m_nNak[static_cast<size_t>(SimStage::Data)] = 2;
  StartLoaded();
  Send(CScriptedHost::ControlInfo(0, 0, 10));
  ASSERT_EQ(m_host->Answer(), 'X');
  const Bytes chunk = CScriptedHost::Frame(FRAME_APP_DATA, Bytes(10, 0x42));
  for (uint8_t want : {'Y', 'Y', 'X'}) {
    Send(chunk);
    EXPECT_EQ(m_host->Answer(), want);
  }
  EXPECT_EQ(m_core->GetExpect(), CChipCore::Expect::Erase);  // the refused chunks were not kept
  EXPECT_EQ(m_core->ChecksFailed(), 0);
}

TEST_F(ChipCoreTest, SilentFaultIgnoresBlocksOrHangsTheChip) {
  m_opt.m_nSilent[static_cast<size_t>(SimStage::Data)] = 1;
  m_opt.m_nSilent[static_cast<size_t>(SimStage::Erase)] = -1;
  StartLoaded();
  const Bytes image = Pattern(100, 9);
  Send(CScriptedHost::ControlInfo(0, 0, 100));
  ASSERT_EQ(m_host->Answer(), 'X');
  const Bytes chunk = CScriptedHost::Frame(FRAME_APP_DATA, image);
  Send(chunk);
  EXPECT_EQ(m_host->Answer(), 0);
  Send(chunk);  // the updater's resend after its acknowledge time-out
  EXPECT_EQ(m_host->Answer(), 'X');
  Send(CScriptedHost::Frame(FRAME_ERASE));
  EXPECT_EQ(m_host->Answer(), 0);
  m_line->Wait(60'000);
  EXPECT_EQ(m_core->GetState(), CChipCore::State::Hung);
  EXPECT_EQ(m_core->SessionsEnded(), 0);
}

TEST_F(ChipCoreTest, VanishAfterDumpBytes) {
  m_opt.m_nVanishAfter = 5000;
  m_opt.m_vanishStage = SimStage::Dump;
  StartLoaded();
  DumpFirstBlockOf8192();
  size_t bytes = 0;
  bool vanished = false;
  while (m_core->HasOutput()) {
    const SimTx tx = m_core->TakeOutput();
    EXPECT_FALSE(vanished) << "nothing may follow the vanish";
    bytes += tx.m_byData.size();
    vanished = vanished || tx.m_bVanish;
  }
  EXPECT_EQ(bytes, 904u);
  EXPECT_TRUE(vanished);
  EXPECT_TRUE(m_core->Finished());
}

TEST_F(ChipCoreTest, ResetFaultMidDumpStartsTheBootLoaderOver) {
  m_opt.m_nResetDumpAfter = 5000;
  StartLoaded();
  DumpFirstBlockOf8192();
  const Bytes rest = m_core->TakeBytes();
  ASSERT_EQ(rest.size(), 905u);  // 904 dump bytes, then the boot loader's request
  EXPECT_EQ(rest.back(), 'X');
  EXPECT_EQ(m_core->GetState(), CChipCore::State::WaitSync);
  EXPECT_EQ(m_core->SessionsEnded(), 1);
}

TEST_F(ChipCoreTest, VanishDuringApplicationData) {
  m_opt.m_nVanishAfter = 3000;
  m_opt.m_vanishStage = SimStage::Program;
  StartLoaded();
  Send(CScriptedHost::ControlInfo(0, 0, 10000));
  ASSERT_EQ(m_host->Answer(), 'X');
  Send(CScriptedHost::Frame(FRAME_APP_DATA, Bytes(4096, 1)));
  EXPECT_EQ(m_line->Drain(), Bytes{});
  EXPECT_TRUE(m_core->Vanished());
}

TEST_F(ChipCoreTest, RequestRepeatsUntilSyncButNotWhileUnread) {
  m_opt.m_nRepeatMs = 100;
  Start();
  EXPECT_EQ(m_line->Drain(), Bytes{'X'});
  m_line->Wait(100);
  EXPECT_EQ(m_line->Drain(), Bytes{'X'});
  m_core->SetLineBacklog(1);  // nobody read the last one
  m_line->Wait(100);
  EXPECT_EQ(m_line->Drain(), Bytes{});
  m_core->SetLineBacklog(0);
  m_line->Wait(100);
  EXPECT_EQ(m_line->Drain(), Bytes{'X'});
  Send({BYTE_UPDATE_REPLY});
  m_line->Wait(500);
  EXPECT_EQ(m_line->Drain(), Bytes{});
}

TEST_F(ChipCoreTest, SlowFlashPausesBeforeEveryTick) {
  m_opt.m_nEraseDelayMs = 20;
  StartLoaded();
  Send(CScriptedHost::ControlInfo(1, 0, 3 * 4096));
  ASSERT_EQ(m_host->Answer(), 'X');
  Send(CScriptedHost::Frame(FRAME_ERASE));
  std::string ticks;
  int64_t paused = 0;
  while (m_core->HasOutput()) {
    const SimTx tx = m_core->TakeOutput();
    paused += tx.m_nPauseUs;
    ticks.append(tx.m_byData.begin(), tx.m_byData.end());
  }
  EXPECT_EQ(ticks, "EEEX");
  EXPECT_EQ(paused, 3 * 20'000);
}

TEST_F(ChipCoreTest, LineFaultsRepeatWithTheSeed) {
  auto run = [this](uint64_t seed) {
    SimOptions opt = m_opt;
    opt.m_nSeed = seed;
    opt.m_fCorruptTx = 0.01;
    opt.m_fDropTx = 0.01;
    CChipCore core(opt, m_images, m_flash, m_log);
    CCoreLine line(core);
    line.Start();
    line.Send({BYTE_UPDATE_REPLY});
    line.Send(CScriptedHost::BootBlock(m_boot));
    line.Send(Bytes(CHIP_SETTINGS_SIZE, 0));
    line.Send({0x00, 0x00, 0x27, 0x10});
    line.Send(m_loader);
    line.Send(CScriptedHost::ControlInfo(2, 0, 4000));
    line.Send(CScriptedHost::Frame(FRAME_DUMP));
    return line.Drain();
  };
  std::string error;
  ASSERT_TRUE(m_flash.Open(m_dir.File("flash.bin"), m_opt.m_nFlashSize, &error));
  const Bytes a = run(5);
  EXPECT_EQ(a, run(5));
  EXPECT_NE(a, run(6));
  EXPECT_LT(a.size(), 4005u);  // some bytes were dropped
}

TEST_F(ChipCoreTest, SessionLimitFinishesTheChip) {
  m_opt.m_nSessions = 2;
  Start();
  m_core->Reset(m_line->NowUs());
  EXPECT_FALSE(m_core->Finished());
  ASSERT_TRUE(m_host->Download(m_boot, m_loader));
  m_line->Wait(m_opt.m_nEndIdleMs);
  EXPECT_TRUE(m_core->Finished());
}

// ------------------------------------------------------------ flash file

TEST(FlashStoreTest, NewFlashIsErasedAndKeepsWhatWasProgrammed) {
  TempDir dir;
  const std::string path = dir.File("flash.bin");
  std::string error;
  const Bytes data = Pattern(5000, 1);
  {
    CFlashStore flash;
    ASSERT_TRUE(flash.Open(path, 65536, &error)) << error;
    Bytes all(65536);
    ASSERT_TRUE(flash.Read(0, all.data(), all.size()));
    EXPECT_EQ(all, Bytes(65536, 0xFF));
    ASSERT_TRUE(flash.Program(100, data.data(), data.size()));
  }
  CFlashStore flash;
  ASSERT_TRUE(flash.Open(path, 65536, &error)) << error;
  Bytes back(data.size());
  ASSERT_TRUE(flash.Read(100, back.data(), back.size()));
  EXPECT_EQ(back, data);
}

TEST(FlashStoreTest, ProgrammingOnlyClearsBitsAndRangesStayInside) {
  TempDir dir;
  CFlashStore flash;
  std::string error;
  ASSERT_TRUE(flash.Open(dir.File("flash.bin"), 8192, &error));
  const uint8_t first = 0xF0, second = 0x3C;
  ASSERT_TRUE(flash.Program(10, &first, 1));
  ASSERT_TRUE(flash.Program(10, &second, 1));
  uint8_t got = 0;
  ASSERT_TRUE(flash.Read(10, &got, 1));
  EXPECT_EQ(got, 0x30);
  ASSERT_TRUE(flash.Erase(0, 4096));
  ASSERT_TRUE(flash.Read(10, &got, 1));
  EXPECT_EQ(got, 0xFF);
  flash.AddBadCell(20);  // programs with bit 0 wrong
  const Bytes zeros(16, 0x00);
  ASSERT_TRUE(flash.Program(16, zeros.data(), zeros.size()));
  ASSERT_TRUE(flash.Read(20, &got, 1));
  EXPECT_EQ(got, 0x01);
  EXPECT_FALSE(flash.Read(8190, &got, 3));
  EXPECT_FALSE(flash.Erase(4096, 4097));
  EXPECT_EQ(TempDir::Read(dir.File("flash.bin")).size(), 8192u);
}

}  // namespace
