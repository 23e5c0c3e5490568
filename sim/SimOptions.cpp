#include "sim/SimOptions.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

constexpr const char* kStageNames[kSimStageCount] = {"request", "boot",    "settings", "length", "loader",
                                                     "control", "data",    "erase",    "program", "dump"};

const char* kUsage =
    "usage: chipsim [options]\n"
    "Stands in for the decoder chip on a pseudo-terminal. The device path is the\n"
    "first line on stdout; the session log goes to stderr or --log.\n"
    "\n"
    "device and images:\n"
    "  --link PATH            also reach the device through a symlink at PATH\n"
    "  --config DIR           match the downloads against DIR/boot.bin and DIR/flash.bin\n"
    "                         (default: the config folder beside chipsim, if it has them)\n"
    "  --boot FILE            boot image the boot block must carry\n"
    "  --loader FILE          flash loader the loader download must equal\n"
    "  --no-match             check sizes only\n"
    "  --max-loader N         largest loader length accepted (default 4194304)\n"
    "  --settings HEX         expect these 10 chip-settings bytes (20 hex digits)\n"
    "  --clear-exclusive      undo a host's exclusive mode (TIOCEXCL) as soon as it is\n"
    "                         set, for hosts that leave it set when they close\n"
    "flash:\n"
    "  --flash-file PATH      file that holds the flash (default chipsim-flash.bin)\n"
    "  --flash-size N         flash size in bytes (default 16777216)\n"
    "timing:\n"
    "  --baud N|line          pace every byte at N baud (10 bits a byte), or at the\n"
    "                         rate the host set on the device (default: instant)\n"
    "  --request-delay MS     wait before the request 'X' (default 0)\n"
    "  --repeat MS            repeat the request every MS until 0x18 arrives\n"
    "                         (default: once a session; SIGUSR1 starts a session)\n"
    "  --console              console text at boot and between steps\n"
    "  --rx-timeout MS        a block that stops arriving for MS is short (default 1000)\n"
    "  --end-idle MS          quiet line after an act ends the session (default 1000)\n"
    "  --hang-idle MS         quiet line mid-session abandons it (default 5000, 0 never)\n"
    "  --sessions N           exit after N sessions (default: until SIGTERM/SIGINT)\n"
    "  --erase-delay MS       flash time before each 'E'\n"
    "  --program-delay MS     flash time before each 'P'\n"
    "  --flash-delay MS       both of the above\n"
    "faults (reproducible with --seed):\n"
    "  --nak STAGE:N          answer 'Y' to the next N blocks of STAGE\n"
    "  --silent STAGE[:N]     ignore the next N blocks of STAGE; without N hang there\n"
    "                         until SIGUSR1\n"
    "  --corrupt P            flip a bit of a received byte with probability P\n"
    "  --drop P               lose a received byte with probability P\n"
    "  --corrupt-tx P         the same for sent bytes\n"
    "  --drop-tx P\n"
    "  --vanish dump:N|program:N   close the device after N bytes of a dump or of\n"
    "                         the application data\n"
    "  --corrupt-flash ADDR   a bad flash cell: bit 0 of the byte at ADDR comes out\n"
    "                         wrong whenever it is programmed (repeatable)\n"
    "  --seed N               seed of the random faults (default 1)\n"
    "  STAGE is one of request boot settings length loader control data erase program dump\n"
    "log:\n"
    "  --log FILE             session log to FILE instead of stderr\n"
    "  --verbose              also log every frame, repeated request and line fault\n"
    "signals: SIGUSR1 resets the chip (a new session), SIGTERM/SIGINT end the run.\n"
    "exit status: 0 all checks passed, 1 a check failed, 2 bad command line or setup.\n";

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty() || text[0] == '-') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || v > max) return false;
  *value = v;
  return true;
}

bool ParseInt(const std::string& text, int* value) {
  uint64_t v = 0;
  if (!ParseUnsigned(text, 0x7FFFFFFF, &v)) return false;
  *value = static_cast<int>(v);
  return true;
}

bool ParseProbability(const std::string& text, double* value) {
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || errno != 0 || *end != '\0' || !(v >= 0.0 && v <= 1.0)) return false;
  *value = v;
  return true;
}

bool ParseHexBytes(const std::string& text, std::vector<uint8_t>* bytes) {
  std::string digits;
  for (char c : text)
    if (c != ' ' && c != ':' && c != ',') digits += c;
  if (digits.size() % 2 != 0) return false;
  bytes->clear();
  for (size_t i = 0; i < digits.size(); i += 2) {
    uint64_t v = 0;
    if (!ParseUnsigned("0x" + digits.substr(i, 2), 0xFF, &v)) return false;
    bytes->push_back(static_cast<uint8_t>(v));
  }
  return true;
}

// "stage:N" or, when the count may be left out, "stage" (count -1).
bool ParseStageCount(const std::string& text, bool countOptional, SimStage* stage, int* count) {
  const size_t colon = text.find(':');
  if (!ParseSimStage(text.substr(0, colon), stage)) return false;
  if (colon == std::string::npos) {
    *count = -1;
    return countOptional;
  }
  return ParseInt(text.substr(colon + 1), count);
}

std::string ProgramFolder(const char* argv0) {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) self = fs::absolute(argv0 ? argv0 : "", ec);
  return self.parent_path().string();
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

const char* SimStageName(SimStage stage) { return kStageNames[static_cast<size_t>(stage)]; }

bool ParseSimStage(const std::string& name, SimStage* stage) {
  for (size_t i = 0; i < kSimStageCount; ++i) {
    if (name == kStageNames[i]) {
      *stage = static_cast<SimStage>(i);
      return true;
    }
  }
  return false;
}

const char* SimUsage() { return kUsage; }

bool ParseSimOptions(int argc, char** argv, SimOptions* o, bool* help, std::string* error) {
  *help = false;
  std::string configDir;
  bool noMatch = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      *help = true;
      return true;
    }
    // Switches without a value.
    if (arg == "--no-match") { noMatch = true; continue; }
    if (arg == "--console") { o->m_bConsole = true; continue; }
    if (arg == "--verbose") { o->m_bVerbose = true; continue; }
    if (arg == "--clear-exclusive") { o->m_bClearExclusive = true; continue; }

    if (i + 1 >= argc) {
      *error = arg.rfind("--", 0) == 0 ? arg + " needs a value" : "unknown argument " + arg;
      return false;
    }
    const std::string val = argv[++i];
    bool ok = true;
    uint64_t u = 0;
    SimStage stage{};
    int count = 0;
    if (arg == "--link") o->m_strLink = val;
    else if (arg == "--config") configDir = val;
    else if (arg == "--boot") o->m_strBootFile = val;
    else if (arg == "--loader") o->m_strLoaderFile = val;
    else if (arg == "--max-loader") {
      ok = ParseUnsigned(val, 0xFFFFFFFFu, &u) && u > 0;
      o->m_nMaxLoader = u;
    }
    else if (arg == "--settings") ok = ParseHexBytes(val, &o->m_byExpectSettings) && o->m_byExpectSettings.size() == 10;
    else if (arg == "--flash-file") o->m_strFlashFile = val;
    else if (arg == "--flash-size") {
      ok = ParseUnsigned(val, 0xFFFFFFFFu, &u) && u > 0;
      o->m_nFlashSize = static_cast<uint32_t>(u);
    }
    else if (arg == "--baud") {
      if (val == "line") o->m_bBaudFromLine = true;
      else ok = ParseInt(val, &o->m_nBaud);
    }
    else if (arg == "--request-delay") ok = ParseInt(val, &o->m_nRequestDelayMs);
    else if (arg == "--repeat") ok = ParseInt(val, &o->m_nRepeatMs);
    else if (arg == "--rx-timeout") ok = ParseInt(val, &o->m_nRxTimeoutMs) && o->m_nRxTimeoutMs > 0;
    else if (arg == "--end-idle") ok = ParseInt(val, &o->m_nEndIdleMs) && o->m_nEndIdleMs > 0;
    else if (arg == "--hang-idle") ok = ParseInt(val, &o->m_nHangIdleMs);
    else if (arg == "--sessions") ok = ParseInt(val, &o->m_nSessions);
    else if (arg == "--erase-delay") ok = ParseInt(val, &o->m_nEraseDelayMs);
    else if (arg == "--program-delay") ok = ParseInt(val, &o->m_nProgramDelayMs);
    else if (arg == "--flash-delay") {
      ok = ParseInt(val, &o->m_nEraseDelayMs);
      o->m_nProgramDelayMs = o->m_nEraseDelayMs;
    }
    else if (arg == "--nak") {
      ok = ParseStageCount(val, false, &stage, &count) && stage != SimStage::Request &&
           stage != SimStage::Settings && stage != SimStage::Length;
      if (ok) o->m_nNak[static_cast<size_t>(stage)] = count;
    } else if (arg == "--silent") {
      ok = ParseStageCount(val, true, &stage, &count);
      if (ok) o->m_nSilent[static_cast<size_t>(stage)] = count;
    }
    else if (arg == "--corrupt") ok = ParseProbability(val, &o->m_fCorruptRx);
    else if (arg == "--drop") ok = ParseProbability(val, &o->m_fDropRx);
    else if (arg == "--corrupt-tx") ok = ParseProbability(val, &o->m_fCorruptTx);
    else if (arg == "--drop-tx") ok = ParseProbability(val, &o->m_fDropTx);
    else if (arg == "--vanish") {
      ok = ParseStageCount(val, false, &stage, &count) && (stage == SimStage::Dump || stage == SimStage::Program);
      o->m_vanishStage = stage;
      o->m_nVanishAfter = count;
    }
    else if (arg == "--corrupt-flash") {
      ok = ParseUnsigned(val, 0xFFFFFFFFu, &u);
      o->m_badCells.push_back(static_cast<uint32_t>(u));
    }
    else if (arg == "--seed") ok = ParseUnsigned(val, UINT64_MAX, &o->m_nSeed);
    else if (arg == "--log") o->m_strLogFile = val;
    else {
      *error = "unknown option " + arg;
      return false;
    }
    if (!ok) {
      *error = "bad value for " + arg + ": " + val;
      return false;
    }
  }

  if (noMatch) {
    o->m_strBootFile.clear();
    o->m_strLoaderFile.clear();
    return true;
  }
  const bool defaultFolder = configDir.empty();
  if (defaultFolder) configDir = ProgramFolder(argc > 0 ? argv[0] : nullptr) + "/config";
  for (auto [file, name] : {std::pair{&o->m_strBootFile, "boot.bin"}, std::pair{&o->m_strLoaderFile, "flash.bin"}}) {
    if (!file->empty()) continue;
    const std::string candidate = configDir + "/" + name;
    if (fs::exists(candidate)) {
      *file = candidate;
    } else if (!defaultFolder) {
      *error = "no " + candidate;
      return false;
    }
  }
  return true;
}

bool LoadSimImages(const SimOptions& options, SimImages* images, std::string* error) {
  *images = SimImages{};
  if (!options.m_strBootFile.empty()) {
    if (!ReadWholeFile(options.m_strBootFile, &images->m_byBoot)) {
      *error = "cannot read boot image " + options.m_strBootFile;
      return false;
    }
    if (images->m_byBoot.size() > 2048) {
      *error = "boot image " + options.m_strBootFile + " is larger than 2048 bytes";
      return false;
    }
    images->m_bCheckBoot = true;
  }
  if (!options.m_strLoaderFile.empty()) {
    if (!ReadWholeFile(options.m_strLoaderFile, &images->m_byLoader)) {
      *error = "cannot read loader " + options.m_strLoaderFile;
      return false;
    }
    images->m_bCheckLoader = true;
  }
  return true;
}
