// The command line's decisions without a chip: the exit status of every way
// a run can end, the comparison of the --verify read-back, the memory sink
// that read-back goes to, and the refusals of the plan.
#include "app/HeadlessWindow.h"
#include "app/ReadBack.h"
#include "prod/BoardPlan.h"
#include "prod/BoardStatus.h"
#include "app/PortText.h"
#include "comm/FileAccess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

RunFacts Stopped(RunStop s) { return RunFacts{{}, s, {}, {}, {}}; }
RunFacts Ended(UpdateOutcome o, std::optional<VerifyResult> v = {}) { return RunFacts{{}, {}, {}, o, v}; }

TEST(CliExitStatus, EveryEndingHasItsStatus) {
  // Usage and configuration problems are 2; files that cannot be used are 1.
  for (auto r : {RunRefusal::LogFileUnusable, RunRefusal::NoConfiguration, RunRefusal::BadOption,
                 RunRefusal::NoBaudRate, RunRefusal::NoListEntry, RunRefusal::BadBatchList, RunRefusal::LinkRefused,
                 RunRefusal::ImageTooLarge})
    EXPECT_EQ(ExitStatus(RefusedRun(r)), EXIT_USAGE) << static_cast<int>(r);
  EXPECT_EQ(ExitStatus(RefusedRun(RunRefusal::ImageUnreadable)), EXIT_FAILED);
  EXPECT_EQ(ExitStatus(RefusedRun(RunRefusal::DumpUnwritable)), EXIT_FAILED);

  EXPECT_EQ(ExitStatus(Stopped(RunStop::NoWorker)), EXIT_FAILED);
  EXPECT_EQ(ExitStatus(Stopped(RunStop::Interrupted)), EXIT_INTERRUPTED);
  EXPECT_EQ(ExitStatus(Stopped(RunStop::PortLost)), EXIT_FAILED);
  EXPECT_EQ(ExitStatus(Stopped(RunStop::ChipSilent)), EXIT_SILENT);

  for (auto p : {PortOpenResult::BadPortNumber, PortOpenResult::NoDevice, PortOpenResult::Busy,
                 PortOpenResult::PermissionDenied, PortOpenResult::NotSerial, PortOpenResult::SetupFailed,
                 PortOpenResult::OtherError})
    EXPECT_EQ(ExitStatus(RunFacts{{}, {}, p, {}, {}}), EXIT_NO_PORT) << static_cast<int>(p);

  EXPECT_EQ(ExitStatus(Ended(UpdateOutcome::Completed)), EXIT_DONE);
  for (auto o : {UpdateOutcome::RetryFailed, UpdateOutcome::AckTimeout, UpdateOutcome::FileError,
                 UpdateOutcome::PortLost, UpdateOutcome::ActCutShort})
    EXPECT_EQ(ExitStatus(Ended(o)), EXIT_FAILED) << static_cast<int>(o);
  EXPECT_EQ(ExitStatus(Ended(UpdateOutcome::Completed, VerifyResult::Same)), EXIT_DONE);
  for (auto v : {VerifyResult::Differs, VerifyResult::LengthDiffers, VerifyResult::ImageUnreadable})
    EXPECT_EQ(ExitStatus(Ended(UpdateOutcome::Completed, v)), EXIT_FAILED) << static_cast<int>(v);

  // A run that recorded nothing did not complete.
  EXPECT_EQ(ExitStatus(RunFacts{}), EXIT_FAILED);
}

TEST(CliExitStatus, EarlierFactsCountFirst) {
  // A stop from outside wins over an outcome that came in while stopping.
  EXPECT_EQ(ExitStatus(RunFacts{{}, RunStop::Interrupted, {}, UpdateOutcome::Completed, {}}), EXIT_INTERRUPTED);
  EXPECT_EQ(ExitStatus(RunFacts{{}, {}, PortOpenResult::Busy, UpdateOutcome::Completed, {}}), EXIT_NO_PORT);
  EXPECT_EQ(ExitStatus(RunFacts{RunRefusal::BadOption, RunStop::ChipSilent, {}, {}, {}}), EXIT_USAGE);
}

TEST(CliVerify, ComparisonFindsTheFirstDifferenceOrTheShortfall) {
  const std::vector<uint8_t> image{1, 2, 3, 4};
  auto same = CompareReadBack(image, image);
  EXPECT_EQ(same.result, VerifyResult::Same);
  EXPECT_EQ(VerifyLine(same), "verify ok.");

  auto differs = CompareReadBack(image, {1, 2, 0xF3, 0});
  EXPECT_EQ(differs.result, VerifyResult::Differs);
  EXPECT_EQ(VerifyLine(differs), "verify failed: first difference at offset 0x2 (image 0x03, flash 0xf3)");

  // A byte that differs counts before a length that differs.
  EXPECT_EQ(CompareReadBack(image, {9}).result, VerifyResult::Differs);
  auto shorter = CompareReadBack(image, {1, 2});
  EXPECT_EQ(shorter.result, VerifyResult::LengthDiffers);
  EXPECT_EQ(VerifyLine(shorter), "verify failed: read back 2 of 4 bytes");
  auto longer = CompareReadBack(image, {1, 2, 3, 4, 5});
  EXPECT_EQ(longer.result, VerifyResult::LengthDiffers);
  EXPECT_EQ(VerifyLine(longer), "verify failed: read back 5 of 4 bytes");
  EXPECT_EQ(CompareReadBack(image, {}).result, VerifyResult::LengthDiffers);
}

TEST(CliVerify, DumpsGoToMemoryOnlyWhenTold) {
  TempDir dir;
  CPosixFileAccess system;
  CReadBackFiles files(system);
  std::string error;
  const uint8_t bytes[] = {7, 8, 9};

  // Not told: a dump is a file like any other.
  auto sink = files.CreateDump(dir.File("real.bin"), error);
  ASSERT_NE(sink, nullptr) << error;
  ASSERT_TRUE(sink->Write(bytes, 2, error));
  ASSERT_TRUE(sink->Close(error));
  EXPECT_EQ(TempDir::Read(dir.File("real.bin")), std::string("\x07\x08"));
  EXPECT_TRUE(files.ReadBack().empty());

  // Told: whatever the dump is called, no file is made or touched.
  files.KeepDumpsInMemory();
  sink = files.CreateDump(dir.File("real.bin"), error);
  ASSERT_NE(sink, nullptr);
  ASSERT_TRUE(sink->Write(bytes, 2, error));
  ASSERT_TRUE(sink->Write(bytes + 2, 1, error));
  ASSERT_TRUE(sink->Flush(error));
  ASSERT_TRUE(sink->Close(error));
  EXPECT_EQ(files.ReadBack(), (std::vector<uint8_t>{7, 8, 9}));
  EXPECT_EQ(TempDir::Read(dir.File("real.bin")), std::string("\x07\x08"));
  EXPECT_FALSE(std::filesystem::exists(dir.File(kReadBackName)));
  // A dump that starts over starts from nothing.
  sink = files.CreateDump(kReadBackName, error);
  ASSERT_TRUE(sink->Write(bytes, 1, error));
  EXPECT_EQ(files.ReadBack(), (std::vector<uint8_t>{7}));

  // Reads still come from the files.
  uint8_t back[2] = {};
  size_t got = 0;
  ASSERT_TRUE(files.ReadAt(dir.File("real.bin"), 0, back, 2, got, error));
  EXPECT_EQ(got, 2u);
}

class NullView : public CHeadlessView {
public:
  NullView() : CHeadlessView(0) {}
  void AppendLogLine(const std::string&) override {}
  void AppendConsoleChar(char) override {}
  void ShowMessageBox(const std::string&, const std::string&) override {}
};

class NullTimers : public IDlgTimers {
public:
  void SetTimer(uint32_t, uint32_t) override {}
  void KillTimer(uint32_t) override {}
};

// Every list the chip is told about, with one entry each.
const std::string kLists =
    "[COM]\nCOM1\n[BaudRate]\n57600\n[ChipModel]\nC=1,2,3\n[RAMType]\nSDRAM\n[RAMSize]\n8MB\n[XTAL]\n27MHz\n"
    "[ACT]\nProgram\nErase\nDump\nBatch\n[PFLASH]\nM=3\n";

class CliPlanTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir.Write("cfg.ini", kLists + "[Setting]\nBaudRate=0\n");
    model.Load();
  }
  std::optional<PlanRefusal> Plan(JobOptions o) { return MakePlan(o, model, logic, app, plan); }
  std::optional<RunRefusal> Refusal(JobOptions o) {
    auto r = Plan(std::move(o));
    return r ? std::optional<RunRefusal>(r->reason) : std::nullopt;
  }
  static JobOptions Program(std::string image, bool verify = false) {
    JobOptions o;
    o.command = JobCommand::Program;
    o.base = "0x30000";
    o.image = std::move(image);
    o.verify = verify;
    return o;
  }
  static JobOptions Dump(std::string file, std::string length = "4096") {
    JobOptions o;
    o.command = JobCommand::Dump;
    o.base = "0";
    o.length = std::move(length);
    o.dumpFile = std::move(file);
    return o;
  }

  TempDir dir;
  CDumpApp app;
  CSettingsModel model{CConfigFile::InFolder(dir.Path())};
  NullView view;
  NullTimers timers;
  CDlgLogic logic{app, model, view, timers};
  BoardPlan plan;
};

TEST_F(CliPlanTest, RefusalsCarryTheirReason) {
  EXPECT_EQ(Refusal(Program(dir.Write("big.bin", std::string(4194305, 'a')))), RunRefusal::ImageTooLarge);
  EXPECT_EQ(Refusal(Program(dir.File("missing.bin"))), RunRefusal::ImageUnreadable);
  EXPECT_EQ(Refusal(Program(dir.Write("empty.bin", ""))), RunRefusal::LinkRefused);
  EXPECT_EQ(Refusal(Dump(dir.File("no/such/folder/d.bin"))), RunRefusal::DumpUnwritable);
  EXPECT_EQ(Refusal(Dump("")), RunRefusal::BadOption);
  EXPECT_EQ(Refusal(Dump(dir.File("d.bin"), "0")), RunRefusal::LinkRefused);
  JobOptions o = Dump(dir.File("d.bin"));
  o.chip = "NoSuchChip";
  EXPECT_EQ(Refusal(o), RunRefusal::BadOption);
  o.chip.clear();
  o.port = "COM0";
  EXPECT_EQ(Refusal(o), RunRefusal::BadOption);
  EXPECT_FALSE(std::filesystem::exists(dir.File("d.bin")));  // the checks never create the dump

  // No baud entry at the remembered position: refused until --baud names one.
  dir.Write("cfg.ini", kLists + "[Setting]\nBaudRate=3\n");
  model.Load();
  auto refusal = Plan(Dump(dir.File("d.bin")));
  ASSERT_TRUE(refusal.has_value());
  EXPECT_EQ(refusal->reason, RunRefusal::NoBaudRate);
  EXPECT_EQ(refusal->text,
            "no baud rate: cfg.ini's Setting BaudRate=3 names no entry of the list BaudRate, which has 1 entry; use "
            "--baud");
  o = Dump(dir.File("d.bin"));
  o.baud = "115200";
  EXPECT_FALSE(Plan(o).has_value());
  EXPECT_EQ(model.PortSettingsText(), "115200,N,8,1");
}

TEST_F(CliPlanTest, VerifyIsAProgramThenAReadBackOfTheSameRange) {
  const auto image = dir.Write("image.bin", std::string(5000, 'x'));
  ASSERT_FALSE(Plan(Program(image)).has_value());
  EXPECT_FALSE(plan.Verifies());
  EXPECT_EQ(plan.settings.m_nAct, ACT_PROGRAM);

  plan = BoardPlan{};
  ASSERT_FALSE(Plan(Program(image, true)).has_value());
  ASSERT_TRUE(plan.Verifies());
  EXPECT_EQ(plan.settings.m_nAct, ACT_BATCH);
  EXPECT_EQ(plan.settings.m_nLength, 5000);
  ASSERT_EQ(plan.verifyBatch.size(), 2u);
  EXPECT_EQ(plan.verifyBatch[0].act, ACT_PROGRAM);
  EXPECT_EQ(plan.verifyBatch[0].base, 0x30000);
  EXPECT_EQ(plan.verifyBatch[0].file, image);
  EXPECT_EQ(plan.verifyBatch[1].act, ACT_DUMP);
  EXPECT_EQ(plan.verifyBatch[1].base, 0x30000);
  EXPECT_EQ(plan.verifyBatch[1].length, 5000);
  CMemoryBatch batch(plan.verifyBatch);
  EXPECT_EQ(batch.TotalNum(), 2);
  EXPECT_EQ(batch.Entry(1).act, ACT_DUMP);
  EXPECT_EQ(batch.Entry(2).act, BatchEntry{}.act);  // past the end: no act
}

}  // namespace
