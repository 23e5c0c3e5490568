// The rules of a run over several ports, the JSON record, the progress
// figures and the order of lines around a progress bar.
#include "cli/CliBoardConsole.h"
#include "prod/BoardNames.h"
#include "prod/Report.h"
#include "app/ProgressMeter.h"
#include "tests/support/Json.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <filesystem>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

TEST(BoardPorts, NamesListsAndFileNames) {
  EXPECT_EQ(PortName("/dev/ttyUSB0"), "ttyUSB0");
  EXPECT_EQ(PortName("/dev/pts/3"), "pts-3");
  EXPECT_EQ(PortName("3"), "COM3");
  EXPECT_EQ(PortName("com7"), "COM7");
  // A Windows device path names its port; no backslash reaches a file name.
  EXPECT_EQ(PortName("\\\\.\\COM10"), "COM10");
  EXPECT_EQ(PortName("odd\\name"), "odd-name");

  std::vector<BoardPort> ports;
  EXPECT_EQ(SplitPorts({"/dev/ttyUSB0,/dev/ttyUSB1", "COM3"}, ports), std::nullopt);
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports[2].port, "COM3");
  EXPECT_TRUE(SplitPorts({"/dev/ttyUSB0,"}, ports).has_value());
  EXPECT_TRUE(SplitPorts({"/dev/ttyUSB0", "/dev/ttyUSB0"}, ports).has_value());
  // Different ports whose files would collide.
  EXPECT_TRUE(SplitPorts({"3", "COM3"}, ports).has_value());

  EXPECT_EQ(ExpandFileName("out/{port}-{n}.bin", "pts-3", 12), "out/pts-3-12.bin");
  EXPECT_EQ(CheckDumpPattern("d.bin", 1, false), std::nullopt);
  EXPECT_TRUE(CheckDumpPattern("d.bin", 2, false).has_value());
  EXPECT_TRUE(CheckDumpPattern("d-{port}.bin", 1, true).has_value());
  EXPECT_EQ(CheckDumpPattern("d-{port}-{n}.bin", 4, true), std::nullopt);
}

// A station started again goes on after the dumps an earlier one left, a
// link (even one that leads nowhere) counting as a file that is there.
TEST(BoardPorts, AStationStartedAgainWritesOverNoEarlierDump) {
  TempDir dir;
  const std::string pattern = dir.File("d-{port}-{n}.bin");
  EXPECT_EQ(FirstFreeRun(pattern, "pts-3", 1), 1);
  dir.Write("d-pts-3-1.bin", "earlier");
  dir.Write("d-pts-3-2.bin", "earlier");
  std::filesystem::create_symlink(dir.File("nowhere"), dir.File("d-pts-3-3.bin"));
  EXPECT_EQ(FirstFreeRun(pattern, "pts-3", 1), 4);
  EXPECT_EQ(FirstFreeRun(pattern, "pts-4", 1), 1);
  // Without {n} every board has the same file: nothing to skip to.
  EXPECT_EQ(FirstFreeRun(dir.File("d-pts-3-1.bin"), "pts-3", 1), 1);
}

TEST(BoardPorts, ExitStatusIsTheFirstFailureInPortOrder) {
  EXPECT_EQ(BoardsExitStatus({EXIT_DONE, EXIT_DONE}, false), EXIT_DONE);
  EXPECT_EQ(BoardsExitStatus({EXIT_DONE, EXIT_SILENT, EXIT_FAILED}, false), EXIT_SILENT);
  EXPECT_EQ(BoardsExitStatus({EXIT_NO_PORT, EXIT_FAILED}, false), EXIT_NO_PORT);
  EXPECT_EQ(BoardsExitStatus({EXIT_FAILED, EXIT_DONE}, true), EXIT_INTERRUPTED);
}

TEST(BoardRecord, OneWholeJsonObjectPerLine) {
  BoardRecord r;
  r.port = "/dev/pts/3";
  r.name = "pts-3";
  r.command = "program";
  r.base = 0x20000;
  r.facts.outcome = UpdateOutcome::Completed;
  r.facts.verify = VerifyResult::Differs;
  r.verifyOffset = 0x123;
  // Quotes, backslashes, control bytes, UTF-8 and a byte that is no UTF-8.
  r.logTail = {"verify failed: \"x\"", "a\"b\\c\n\x01", "caf\xc3\xa9", "bad \xff byte"};
  const std::string line = RecordLine(r);
  ASSERT_EQ(line.back(), '\n');
  EXPECT_EQ(line.find('\n'), line.size() - 1);
  const auto parsed = CJsonLine::Parse(line.substr(0, line.size() - 1));
  ASSERT_TRUE(parsed.has_value()) << line;
  EXPECT_EQ(parsed->at("result").text, "failed");
  EXPECT_EQ(parsed->at("reason").text, "verify-failed");
  EXPECT_EQ(parsed->at("exit_status").text, "1");
  EXPECT_EQ(parsed->at("verify").text, "differs");
  EXPECT_EQ(parsed->at("verify_offset").text, "291");
  EXPECT_EQ(parsed->at("base").text, "131072");
  EXPECT_EQ(parsed->at("length").text, "null");
  EXPECT_EQ(parsed->at("log_tail").items.at(0).text, "verify failed: \"x\"");
  EXPECT_EQ(parsed->at("log_tail").items.at(1).text, "a\"b\\c\n\x01");
  EXPECT_EQ(parsed->at("log_tail").items.at(2).text, "caf\xc3\xa9");
  EXPECT_EQ(parsed->at("log_tail").items.at(3).text, "bad \xef\xbf\xbd byte");
  EXPECT_EQ(Iso8601Utc(std::chrono::system_clock::time_point(std::chrono::milliseconds(1700000000123))),
            "2023-11-14T22:13:20.123Z");
}

TEST(BoardRecord, Sha256AndAppendedRecords) {
  EXPECT_EQ(Sha256Hex(reinterpret_cast<const uint8_t*>("abc"), 3),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  TempDir dir;
  std::string why;
  EXPECT_EQ(Sha256OfFile(dir.Write("empty", ""), why),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_FALSE(Sha256OfFile(dir.File("missing"), why).has_value());

  // Records go to the end of what is there, from two writers at once.
  dir.Write("r.jsonl", "{\"old\":1}\n");
  CRecordFile a, b;
  ASSERT_TRUE(a.Open(dir.File("r.jsonl"), why) && b.Open(dir.File("r.jsonl"), why)) << why;
  ASSERT_TRUE(a.Append("{\"a\":1}\n", why));
  ASSERT_TRUE(b.Append("{\"b\":2}\n", why));
  EXPECT_EQ(TempDir::Read(dir.File("r.jsonl")), "{\"old\":1}\n{\"a\":1}\n{\"b\":2}\n");
  CRecordFile nowhere;
  EXPECT_FALSE(nowhere.Open(dir.File("no/such/folder/r.jsonl"), why));
}

// A disk that fills up in the middle of a record: the write takes part of
// the line, the record is refused, and the file keeps whole records only, so
// the next record, once there is room, does not run on from half of it.
TEST(BoardRecord, ARecordCutShortByAFullDiskLeavesNoHalfLine) {
  TempDir dir;
  std::string why;
  const std::string path = dir.Write("r.jsonl", "{\"old\":1}\n");
  CRecordFile file;
  ASSERT_TRUE(file.Open(path, why)) << why;
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit full = saved;
  full.rlim_cur = 15;  // room for 5 bytes of the next record
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &full), 0);
  const bool appended = file.Append("{\"board\":\"cut\"}\n", why);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(appended);
  EXPECT_NE(why.find("short write"), std::string::npos) << why;
  EXPECT_EQ(TempDir::Read(path), "{\"old\":1}\n");
  ASSERT_TRUE(file.Append("{\"board\":\"next\"}\n", why)) << why;
  EXPECT_EQ(TempDir::Read(path), "{\"old\":1}\n{\"board\":\"next\"}\n");
}

TEST(ProgressMeter, NeverClaimsMoreThanTheLineCarried) {
  // 65536 bytes at exactly 11520 bytes a second, acknowledged every 4096
  // bytes; the phase's first byte went out 100 ms after the log line before it.
  using Clock = CProgressMeter::Clock;
  const auto t0 = Clock::time_point(1s);
  const double rate = 11520;
  CProgressMeter m;
  m.Note(t0);
  const auto firstByte = t0 + 100ms;
  for (int64_t done = 4096; done <= 65536; done += 4096) {
    const auto now = firstByte + std::chrono::microseconds(static_cast<int64_t>(done / rate * 1e6));
    const auto percent = static_cast<int32_t>(done * 100 / 65536);
    if (!m.Active()) m.Begin(65536, now);
    m.Set(percent);
    const PhaseFigures f = m.Figures(now);
    EXPECT_LE(f.bytesPerSecond, rate) << done;
    EXPECT_LE(f.doneBytes, done);
  }
  const PhaseFigures end = m.End(firstByte + std::chrono::microseconds(static_cast<int64_t>(65536 / rate * 1e6)));
  EXPECT_EQ(end.doneBytes, 65536);
  EXPECT_LE(end.bytesPerSecond, rate);
  EXPECT_GT(end.bytesPerSecond, rate * 0.97);  // honest, not pessimistic
  // A value lower than the last one starts the next phase.
  m.Begin(100, Clock::time_point(20s));
  m.Set(50);
  EXPECT_TRUE(m.StartsNewPhase(3));
  EXPECT_FALSE(m.StartsNewPhase(60));
}

// Captures what the display writes to stdout and stderr, in the order written.
class CCapture {
public:
  CCapture() : m_out(::dup(1)), m_err(::dup(2)) {
    std::fflush(stdout);
    std::fflush(stderr);
    const int fd = ::open(m_dir.File("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    ::close(fd);
  }
  std::string Stop() {
    std::fflush(stdout);
    std::fflush(stderr);
    ::dup2(m_out, 1);
    ::dup2(m_err, 2);
    ::close(m_out);
    ::close(m_err);
    return TempDir::Read(m_dir.File("out"));
  }

private:
  TempDir m_dir;
  int m_out, m_err;
};

TEST(BoardConsole, ALineThatEndsAPhaseComesBelowTheBar) {
  CCapture capture;
  {
    CBoardConsole console({"pts-1", "pts-2"}, CBoardConsole::Mode{false, true, true});
    console.Progress(0, 40, 65536);
    console.LogLine(0, "\ndump cut short: d.bin holds 26214 of 65536 bytes.");
    console.LogLine(1, "Recv updating request.");
    console.Finish(0);
    console.Close();
  }
  const std::string out = capture.Stop();
  const auto stopped = out.find("pts-1  [########            ]  40%  stopped: 26214 of 65536 B");
  const auto cut = out.find("pts-1: dump cut short");
  ASSERT_NE(stopped, std::string::npos) << out;
  ASSERT_NE(cut, std::string::npos) << out;
  EXPECT_LT(stopped, cut);
  // The other board's line did not wait for it.
  EXPECT_LT(out.find("pts-2: Recv updating request."), stopped);
}

TEST(BoardConsole, WithoutATerminalLinesGoOutAtOnce) {
  CCapture capture;
  {
    CBoardConsole console({"pts-1"}, CBoardConsole::Mode{false, false, true});
    console.Progress(0, 40, 65536);
    console.LogLine(0, "check error 1 time");
    console.ConsoleChar(0, 'o');
    console.ConsoleChar(0, 'k');
    console.ConsoleChar(0, '\n');
    console.Finish(0);
    console.Close();
  }
  EXPECT_EQ(capture.Stop(), "pts-1: check error 1 time\npts-1> ok\n");
}

}  // namespace
