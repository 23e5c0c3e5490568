// Settings of the chip simulator: where its device and flash live, what it
// checks the host's downloads against, how fast the line runs and which
// faults it plays. Filled from the command line by ParseSimOptions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The blocks of one session, in the order they meet the line. Faults that
// are aimed at "a stage" name one of these.
enum class SimStage {
  Request,   // the boot loader's request 'X'
  Boot,      // the 2048-byte boot block
  Settings,  // the 10 chip-settings bytes
  Length,    // the 4-byte loader length
  Loader,    // the loader body
  Control,   // control info frame
  Data,      // application data frame
  Erase,     // erase command frame
  Program,   // program command frame
  Dump,      // dump command frame
};
inline constexpr size_t kSimStageCount = 10;

const char* SimStageName(SimStage stage);
bool ParseSimStage(const std::string& name, SimStage* stage);

struct SimOptions {
  // Device.
  std::string m_strLink;       // also publish the device under this symlink
  bool m_bClearExclusive = false;  // undo a host's exclusive mode as soon as it is set

  // What the downloads are checked against. Empty: sizes only.
  std::string m_strBootFile;
  std::string m_strLoaderFile;
  size_t m_nMaxLoader = 4u << 20;
  std::vector<uint8_t> m_byExpectSettings;  // empty: not checked

  // Flash.
  std::string m_strFlashFile = "chipsim-flash.bin";
  uint32_t m_nFlashSize = 16u << 20;

  // Timing. A baud of 0 means instant; m_bBaudFromLine follows the rate the
  // host set on its side of the device.
  int m_nBaud = 0;
  bool m_bBaudFromLine = false;
  int m_nRequestDelayMs = 0;
  int m_nRepeatMs = 0;         // 0: the request goes out once
  int m_nRxTimeoutMs = 1000;   // a block that stops arriving this long is short
  int m_nEndIdleMs = 1000;     // quiet line after an act ends the session
  int m_nHangIdleMs = 5000;    // quiet line elsewhere abandons it (0: never)
  int m_nEraseDelayMs = 0;     // before each 'E'
  int m_nProgramDelayMs = 0;   // before each 'P'
  bool m_bConsole = false;
  int m_nChatterMs = 0;        // a prompt every so often in the boot ROM or hung (0: never)
  int m_nSessions = 0;         // exit after this many sessions (0: never)

  // Faults, all drawn from one generator seeded with m_nSeed.
  uint64_t m_nSeed = 1;
  int m_nNak[kSimStageCount] = {};     // answer 'Y' to the next N blocks
  int m_nSilent[kSimStageCount] = {};  // ignore the next N blocks; -1: hang there
  double m_fCorruptRx = 0, m_fDropRx = 0, m_fCorruptTx = 0, m_fDropTx = 0;
  SimStage m_vanishStage = SimStage::Dump;  // Dump or Program
  int64_t m_nVanishAfter = -1;              // bytes; -1: never
  int64_t m_nResetDumpAfter = -1;           // reset once after this many dump bytes; -1: never
  std::vector<uint32_t> m_badCells;         // flash bytes that program wrong

  // Log.
  std::string m_strLogFile;  // empty: stderr
  bool m_bVerbose = false;
};

// Fills options from argv. Returns false with a message for a bad command
// line; when usage was asked for, returns true with the usage text in *help
// (empty otherwise). A --config folder (or, without one, the "config" folder
// beside the program when it holds the images) supplies the boot and loader
// files unless they are named or --no-match is given.
bool ParseSimOptions(int argc, char** argv, SimOptions* options, std::string* help, std::string* error);

// The boot and loader images the downloads must match (empty when not checked).
struct SimImages {
  std::vector<uint8_t> m_byBoot;
  std::vector<uint8_t> m_byLoader;
  bool m_bCheckBoot = false;
  bool m_bCheckLoader = false;
};
bool LoadSimImages(const SimOptions& options, SimImages* images, std::string* error);
