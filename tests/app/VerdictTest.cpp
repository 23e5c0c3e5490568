// The window's status line from the values an update reports: which phase a
// progress value belongs to, and how each ending reads.
#include "app/Verdict.h"

#include "core/UpdateSettings.h"

#include <gtest/gtest.h>

namespace {

using Clock = CVerdict::Clock;
using namespace std::chrono_literals;

TEST(Verdict, ProgressNamesThePhaseOfAProgramWithReadBack) {
  CVerdict v;
  const auto t0 = Clock::now();
  v.Start(ACT_PROGRAM, true, 10000, t0);
  EXPECT_EQ(v.Current().kind, VerdictKind::Waiting);
  EXPECT_EQ(v.MeterText(t0), "");
  v.BoardHeard(t0 + 100ms);
  EXPECT_EQ(v.Current().text, "Running: starting the chip");
  // Upload, erase, program and read-back each run from low to 100.
  const std::pair<int, const char*> steps[] = {
      {40, "Running: sending the image 40%"}, {100, "Running: sending the image 100%"},
      {0, "Running: erasing 0%"},             {100, "Running: erasing 100%"},
      {100, "Running: programming 100%"},     {50, "Running: reading back 50%"}};
  auto t = t0 + 1s;
  for (const auto& [percent, text] : steps) {
    v.Progress(percent, t += 1s);
    EXPECT_EQ(v.Current().text, text) << percent;
  }
  EXPECT_TRUE(v.UpdateRunning());
  // Half of 10000 bytes confirmed one second into the phase.
  EXPECT_EQ(v.MeterText(t + 1s).substr(0, 10), "5000/10000");
  EXPECT_NE(v.MeterText(t + 1s).find("left"), std::string::npos);
}

TEST(Verdict, EndingsReadAsDoneOrFailedWithTheirReason) {
  VerifyReport same;
  VerifyReport differs;
  differs.result = VerifyResult::Differs;
  differs.offset = 0x10;
  const auto t = Clock::now();
  struct Case {
    int32_t act;
    UpdateOutcome outcome;
    std::optional<VerifyReport> verify;
    VerdictKind kind;
    std::string text;
  } cases[] = {
      {ACT_PROGRAM, UpdateOutcome::Completed, same, VerdictKind::Done, "Done, verified"},
      {ACT_PROGRAM, UpdateOutcome::Completed, std::nullopt, VerdictKind::Done, "Done, not verified"},
      {ACT_DUMP, UpdateOutcome::Completed, std::nullopt, VerdictKind::Done, "Done"},
      {ACT_PROGRAM, UpdateOutcome::Completed, differs, VerdictKind::Failed,
       "Failed: verify failed: first difference at offset 0x10 (image 0x00, flash 0x00)"},
      {ACT_ERASE, UpdateOutcome::RetryFailed, std::nullopt, VerdictKind::Failed,
       "Failed: the chip refused ten times in a row"},
      {ACT_DUMP, UpdateOutcome::PortLost, std::nullopt, VerdictKind::Failed, "Failed: the port went away"},
  };
  for (const Case& c : cases) {
    CVerdict v;
    v.Start(c.act, c.verify.has_value(), 100, t);
    v.Ended(c.outcome, c.verify);
    EXPECT_EQ(v.Current().kind, c.kind) << c.text;
    EXPECT_EQ(v.Current().text, c.text);
    EXPECT_FALSE(v.UpdateRunning());
  }
}

TEST(Verdict, CancelCountsOnlyWhileAnUpdateRuns) {
  CVerdict v;
  v.Cancelled();
  EXPECT_EQ(v.Current().text, "Ready");
  v.Start(ACT_DUMP, false, 100, Clock::now());
  v.Cancelled();
  EXPECT_EQ(v.Current().text, "Failed: stopped by the operator");
  // Values that arrive after the end change nothing.
  v.Progress(50, Clock::now());
  v.BoardHeard(Clock::now());
  EXPECT_EQ(v.Current().kind, VerdictKind::Failed);
}

}  // namespace
