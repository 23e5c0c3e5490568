// The command line against the chip simulator: a configuration folder of
// its own for each test, chipsim on a pseudo-terminal, and tqupdate runs
// with their output captured.
#pragma once

#include "tests/support/Bytes.h"
#include "tests/support/Json.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;

namespace clitest {

namespace fs = std::filesystem;

const std::string kBin = TQ_BIN_DIR;

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

const std::vector<std::string> kBootLines = {
    "Begin updating now.", "Recv updating request.", "Send 2KB Bin file.", "boot file receive ok.",
    "Send Chip Type/Sdram Size/Xtal", "Send flash file lenth.", "Send flash file code.", "Flash File length = 10000.",
    "flash file receive ok.", "Send Control info."};

// A configuration folder with the sample cfg.ini, boot.bin and flash.bin.
inline void MakeConfigFolder(const std::string& folder) {
  fs::create_directory(folder);
  for (const char* f : {"cfg.ini", "boot.bin", "flash.bin"}) fs::copy_file(kBin + "/config/" + f, folder + "/" + f);
}

// Every line of a JSON Lines report, each of which must be one whole object.
inline std::vector<JsonObject> JsonRecords(const std::string& file) {
  const std::string text = TempDir::Read(file);
  EXPECT_TRUE(text.empty() || text.back() == '\n') << "the report ends inside a record";
  std::vector<JsonObject> records;
  for (const auto& line : Lines(text)) {
    auto record = CJsonLine::Parse(line);
    EXPECT_TRUE(record.has_value()) << "not a JSON object: " << line;
    if (record) records.push_back(*record);
  }
  return records;
}

inline std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class CliTest : public ::testing::Test {
protected:
  void SetUp() override { MakeConfigFolder(Config()); }
  std::string Config() const { return dir.File("config"); }
  // Replaces the first `from` in cfg.ini by `to`.
  void EditConfig(const std::string& from, const std::string& to) {
    std::string cfg = TempDir::Read(Config() + "/cfg.ini");
    const auto at = cfg.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    dir.Write("config/cfg.ini", cfg.replace(at, from.size(), to));
  }

  // Starts the simulator with extra options and returns its device path.
  std::string StartSim(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{kBin + "/chipsim", "--flash-file", dir.File("flash.img"), "--config", Config(),
                                  "--repeat", "50", "--end-idle", "200"};
    args.insert(args.end(), extra.begin(), extra.end());
    sim = std::make_unique<CChildProcess>(args, dir.File("sim.out"), dir.File("sim.err"));
    const std::string device = sim->FirstLine(5s);
    EXPECT_FALSE(device.empty()) << sim->Err();
    return device;
  }
  std::unique_ptr<CChildProcess> Start(std::vector<std::string> args) {
    args.insert(args.begin(), {kBin + "/tqupdate", "-c", Config(), "-q"});
    return std::make_unique<CChildProcess>(args, dir.File("host.out"), dir.File("host.err"));
  }
  // Starts a dump of 1 MiB into `file` from a chip paced at 115200 baud
  // (about a minute and a half); returns the chip's device once its data is flowing.
  std::string StartLongDump(const std::string& file) {
    const auto device = StartSim({"--baud", "115200", "--hang-idle", "2000"});
    host = Start({"-p", device, "dump", "0", "1048576", file});
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (host->Out().find("Send dump Lenth") == std::string::npos && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(20ms);
    std::this_thread::sleep_for(500ms);
    return device;
  }
  // Runs tqupdate to its end; returns the exit status.
  int Run(std::vector<std::string> args, std::chrono::seconds limit = 60s) {
    host = Start(std::move(args));
    return host->Wait(limit);
  }
  // Bytes of the simulated chip's flash.
  std::string Flash(size_t at, size_t n) const { return TempDir::Read(dir.File("flash.img")).substr(at, n); }
  std::string Report() const {
    return "\n--- host stdout\n" + host->Out() + "--- host stderr\n" + host->Err() + "--- sim\n" +
           (sim ? sim->Err() : std::string());
  }

  TempDir dir;
  std::unique_ptr<CChildProcess> sim;
  std::unique_ptr<CChildProcess> host;
};

}  // namespace clitest
