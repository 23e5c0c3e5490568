// Runs that must not end as done, nor hang, nor say a thing twice: an empty
// or unusable port argument, a chip line that is no list of numbers, a
// report file that cannot take the record, and a hang-up.
#include "tests/cli/CliFixture.h"

#include <sys/stat.h>

namespace {

using namespace clitest;

class CliRefusalTest : public CliTest {
protected:
  bool ErrHas(const std::string& text) const { return host->Err().find(text) != std::string::npos; }
  size_t ErrCount(const std::string& text) const {
    const std::string err = host->Err();
    size_t n = 0;
    for (size_t at = err.find(text); at != std::string::npos; at = err.find(text, at + 1)) ++n;
    return n;
  }
  bool UpdateBegan() const { return host->Out().find("Begin updating now.") != std::string::npos; }
  // Starts tqupdate with its report already as large as the file size limit
  // lets it grow: writing a record fails (EFBIG), as it would on a full disk.
  std::string StartWithFullReport(const std::string& device, const std::vector<std::string>& extra) {
    const std::string report = dir.Write("line.jsonl", std::string(65535, 'x') + "\n");
    std::vector<std::string> args{"/bin/sh", "-c", "ulimit -f 128 && trap '' XFSZ && exec \"$@\"", "sh",
                                  kBin + "/tqupdate", "-c", Config(), "-q", "-p", device, "--report", report};
    args.insert(args.end(), extra.begin(), extra.end());
    host = std::make_unique<CChildProcess>(args, dir.File("host.out"), dir.File("host.err"));
    return report;
  }
};

// --- The port argument

TEST_F(CliRefusalTest, EmptyPortIsRefusedNeverReplacedOrDropped) {
  // The remembered port (COM1) leads to a live board: an empty -p must not reach it.
  const auto device = StartSim();
  EditConfig("COM1=/dev/ttyUSB0", "COM1=" + device);
  EXPECT_EQ(Run({"-p", "", "erase", "0", "4096"}), 2) << Report();
  EXPECT_TRUE(ErrHas("-p: an empty port name")) << Report();
  EXPECT_FALSE(UpdateBegan()) << Report();
  // The other spellings of an empty entry are parse checks (CliArgs tests).
  EXPECT_EQ(Run({"-p", device + ",," + dir.File("gone"), "erase", "0", "4096"}), 2) << Report();
  EXPECT_TRUE(ErrHas("-p: an empty port in \"" + device + ",,")) << Report();
  EXPECT_FALSE(UpdateBegan()) << Report();
  // The board was never touched: a plain run still finds it waiting.
  EXPECT_EQ(Run({"-p", device, "--timeout", "10", "erase", "0", "4096"}, 30s), 0) << Report();
}

TEST_F(CliRefusalTest, FolderGivenAsThePortIsCalledAFolder) {
  EXPECT_EQ(Run({"-p", dir.Path(), "erase", "0", "4096"}), 3) << Report();
  EXPECT_TRUE(ErrHas("cannot open the port " + dir.Path() + ": it is a folder, not a device")) << Report();
}

TEST_F(CliRefusalTest, RefusedPortIsReportedOnceWithDeviceAndReason) {
  const std::string gone = dir.File("gone");
  EXPECT_EQ(Run({"-p", gone, "dump", "0", "4096", dir.File("d.bin")}), 3) << Report();
  EXPECT_EQ(ErrCount("tqupdate: "), 1u) << Report();
  EXPECT_TRUE(ErrHas("cannot open the port " + gone + ": no such device")) << Report();

  // Several ports: one message for each refused board.
  const std::string gone2 = dir.File("gone2");
  EXPECT_EQ(Run({"-p", gone + "," + gone2, "dump", "0", "4096", dir.File("d-{port}.bin")}), 3) << Report();
  EXPECT_EQ(ErrCount("tqupdate: "), 2u) << Report();
  EXPECT_EQ(ErrCount("cannot open the port " + gone + ": no such device"), 1u) << Report();
  EXPECT_EQ(ErrCount("cannot open the port " + gone2 + ": no such device"), 1u) << Report();
}

// --- The chip's line in cfg.ini

TEST_F(CliRefusalTest, ChipLineThatIsNoListOfNumbersIsRefusedBeforeThePort) {
  const auto device = StartSim();
  const std::string good = "TQ2210=0x22,1,0x10,2,3,4,5,6,7";
  for (const std::string& line : std::vector<std::string>{"TQ2210=abc,def", "TQ2210", "TQ2210=0x22,1,,2,3,4,5,6,7"}) {
    EditConfig(good, line);
    EXPECT_EQ(Run({"-p", device, "erase", "0", "4096"}), 2) << line << Report();
    EXPECT_TRUE(ErrHas("the ChipModel line \"" + line + "\"")) << Report();
    EXPECT_FALSE(UpdateBegan()) << Report();
    EditConfig(line + "\n", good + "\n");
  }
}

// --- The report file

TEST_F(CliRefusalTest, ReportThatIsNoRegularFileIsRefusedAtOnce) {
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // A FIFO without a reader would block the open for ever; /dev/full would lose every record.
  for (const std::string& report : {fifo, std::string("/dev/full"), dir.Path()}) {
    EXPECT_EQ(Run({"-p", dir.File("gone"), "--report", report, "erase", "0", "4096"}, 10s), 2) << report << Report();
    EXPECT_TRUE(ErrHas("cannot append to the report " + report + ": not a regular file")) << Report();
  }
}

TEST_F(CliRefusalTest, RecordThatCannotBeWrittenMakesTheRunFail) {
  const std::string report = StartWithFullReport(StartSim(), {"erase", "0", "4096"});
  EXPECT_EQ(host->Wait(60s), 1) << Report();
  EXPECT_TRUE(ErrHas("cannot write the report " + report)) << Report();
  // The erase itself succeeded; the table says why the board counts as failed.
  EXPECT_NE(host->Out().find("compelete."), std::string::npos) << Report();
  EXPECT_NE(host->Out().find("no-record"), std::string::npos) << Report();
}

TEST_F(CliRefusalTest, StationStopsWhenItsRecordsCannotBeWritten) {
  // Without the stop it would go on updating boards whose records are lost, until Ctrl-C.
  const std::string report = StartWithFullReport(StartSim(), {"--loop", "erase", "0", "4096"});
  EXPECT_EQ(host->Wait(60s), 1) << Report();
  EXPECT_TRUE(ErrHas("cannot write the report " + report)) << Report();
  EXPECT_TRUE(ErrHas("stopped: the report cannot be written")) << Report();
}

// --- Signals

TEST_F(CliRefusalTest, HangUpStopsTheDumpAsCtrlCDoes) {
  StartLongDump(dir.File("long.bin"));
  host->Signal(SIGHUP);
  ASSERT_EQ(host->Wait(5s), 130) << Report();
  EXPECT_FALSE(fs::exists(dir.File("long.bin")));
  EXPECT_GT(fs::file_size(dir.File("long.bin.part")), 0u);
  EXPECT_TRUE(ErrHas("interrupted")) << Report();
}

}  // namespace
