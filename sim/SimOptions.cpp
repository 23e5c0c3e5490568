#include "sim/SimOptions.h"

#include "core/Config.h"
#include "core/ConfigLocation.h"
#include "core/Numbers.h"
#include "core/Version.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <cstdio>
#include <functional>
#include <iterator>

namespace fs = std::filesystem;

namespace {

constexpr const char* kStageNames[kSimStageCount] = {"request", "boot",    "settings", "length", "loader",
                                                     "control", "data",    "erase",    "program", "dump"};

constexpr const char* kDescription =
    "Stands in for the decoder chip on a pseudo-terminal. The device path is the\n"
    "first line on stdout; the session log goes to stderr or --log.";
constexpr const char* kFooter =
    "STAGE is one of request boot settings length loader control data erase program dump.\n"
    "Signals: SIGUSR1 resets the chip (a new session), SIGTERM/SIGINT end the run.\n"
    "Exit status: 0 all checks passed, 1 a check failed, 2 bad command line or setup.";

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* value) {
  const auto v = ParseCNumber(text, max);
  if (v) *value = *v;
  return v.has_value();
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

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes) {
  FILE* in = std::fopen(path.c_str(), "rbe");
  if (in == nullptr) return false;
  bytes->clear();
  uint8_t buffer[65536];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) bytes->insert(bytes->end(), buffer, buffer + got);
  const bool ok = !std::ferror(in);
  std::fclose(in);
  return ok;
}

// Reads one option's value; false for a value the option does not take.
using ValueReader = std::function<bool(const std::string&)>;

ValueReader Text(std::string* target) {
  return [target](const std::string& value) {
    *target = value;
    return true;
  };
}

ValueReader Int(int* target, bool positive = false) {
  return [=](const std::string& value) { return ParseInt(value, target) && (!positive || *target > 0); };
}

ValueReader Probability(double* target) {
  return [target](const std::string& value) { return ParseProbability(value, target); };
}

// An option with a value, read as it comes on the command line, so that a
// later option overrides an earlier one and repeated ones add up.
void AddValue(CLI::App& app, const std::string& group, const std::string& name, const std::string& type,
              const std::string& help, ValueReader read) {
  app.add_option_function<std::string>(
         name,
         [name, read](const std::string& value) {
           if (!read(value)) throw CLI::ValidationError("bad value for " + name + ": " + value);
         },
         help)
      ->type_name(type)
      ->group(group)
      ->trigger_on_parse();
}

// Where the downloads are checked against; noMatch and configDir are
// settled after the whole command line is read.
void AddDeviceOptions(CLI::App& app, SimOptions* o, bool* noMatch, std::string* configDir) {
  const std::string g = "Device and images";
  AddValue(app, g, "--link", "PATH", "also reach the device through a symlink at PATH", Text(&o->m_strLink));
  AddValue(app, g, "--config", "DIR",
           "match the downloads against DIR/boot.bin and DIR/flash.bin (default: the config folder beside "
           "chipsim, else the installed defaults, if they have them)",
           Text(configDir));
  AddValue(app, g, "--boot", "FILE", "boot image the boot block must carry", Text(&o->m_strBootFile));
  AddValue(app, g, "--loader", "FILE", "flash loader the loader download must equal", Text(&o->m_strLoaderFile));
  app.add_flag("--no-match", *noMatch, "check sizes only")->group(g);
  AddValue(app, g, "--max-loader", "N", "largest loader length accepted (default 4194304)",
           [o](const std::string& v) {
             uint64_t u = 0;
             const bool ok = ParseUnsigned(v, 0xFFFFFFFFu, &u) && u > 0;
             o->m_nMaxLoader = u;
             return ok;
           });
  AddValue(app, g, "--settings", "HEX", "expect these 10 chip-settings bytes (20 hex digits)",
           [o](const std::string& v) { return ParseHexBytes(v, &o->m_byExpectSettings) && o->m_byExpectSettings.size() == 10; });
  app.add_flag("--clear-exclusive", o->m_bClearExclusive,
               "undo a host's exclusive mode (TIOCEXCL) as soon as it is set, for hosts that leave it set when "
               "they close")
      ->group(g);
}

void AddFlashOptions(CLI::App& app, SimOptions* o) {
  const std::string g = "Flash";
  AddValue(app, g, "--flash-file", "PATH", "file that holds the flash (default chipsim-flash.bin)",
           Text(&o->m_strFlashFile));
  AddValue(app, g, "--flash-size", "N", "flash size in bytes (default 16777216)", [o](const std::string& v) {
    uint64_t u = 0;
    const bool ok = ParseUnsigned(v, 0xFFFFFFFFu, &u) && u > 0;
    o->m_nFlashSize = static_cast<uint32_t>(u);
    return ok;
  });
}

void AddLogOptions(CLI::App& app, SimOptions* o) {
  const std::string g = "Log";
  AddValue(app, g, "--log", "FILE", "session log to FILE instead of stderr", Text(&o->m_strLogFile));
  app.add_flag("--verbose", o->m_bVerbose, "also log every frame, repeated request and line fault")->group(g);
}

void AddTimingOptions(CLI::App& app, SimOptions* o) {
  const std::string g = "Timing";
  AddValue(app, g, "--baud", "N|line",
           "pace every byte at N baud (10 bits a byte), or at the rate the host set on the device (default: "
           "instant)",
           [o](const std::string& v) {
             if (v != "line") return ParseInt(v, &o->m_nBaud);
             o->m_bBaudFromLine = true;
             return true;
           });
  AddValue(app, g, "--request-delay", "MS", "wait before the request 'X' (default 0)", Int(&o->m_nRequestDelayMs));
  AddValue(app, g, "--repeat", "MS",
           "repeat the request every MS until 0x18 arrives (default: once a session; SIGUSR1 starts a session)",
           Int(&o->m_nRepeatMs));
  app.add_flag("--console", o->m_bConsole, "console text at boot and between steps")->group(g);
  AddValue(app, g, "--chatter", "MS",
           "console text every MS while the chip waits in its boot ROM or hangs (a prompt that advances nothing)",
           Int(&o->m_nChatterMs));
  AddValue(app, g, "--rx-timeout", "MS", "a block that stops arriving for MS is short (default 1000)",
           Int(&o->m_nRxTimeoutMs, true));
  AddValue(app, g, "--end-idle", "MS", "quiet line after an act ends the session (default 1000)",
           Int(&o->m_nEndIdleMs, true));
  AddValue(app, g, "--hang-idle", "MS", "quiet line mid-session abandons it (default 5000, 0 never)",
           Int(&o->m_nHangIdleMs));
  AddValue(app, g, "--sessions", "N", "exit after N sessions (default: until SIGTERM/SIGINT)", Int(&o->m_nSessions));
  AddValue(app, g, "--erase-delay", "MS", "flash time before each 'E'", Int(&o->m_nEraseDelayMs));
  AddValue(app, g, "--program-delay", "MS", "flash time before each 'P'", Int(&o->m_nProgramDelayMs));
  AddValue(app, g, "--flash-delay", "MS", "both of the above", [o](const std::string& v) {
    const bool ok = ParseInt(v, &o->m_nEraseDelayMs);
    o->m_nProgramDelayMs = o->m_nEraseDelayMs;
    return ok;
  });
}

void AddFaultOptions(CLI::App& app, SimOptions* o) {
  const std::string g = "Faults (reproducible with --seed)";
  AddValue(app, g, "--nak", "STAGE:N", "answer 'Y' to the next N blocks of STAGE", [o](const std::string& v) {
    SimStage stage{};
    int count = 0;
    const bool ok = ParseStageCount(v, false, &stage, &count) && stage != SimStage::Request &&
                    stage != SimStage::Settings && stage != SimStage::Length;
    if (ok) o->m_nNak[static_cast<size_t>(stage)] = count;
    return ok;
  });
  AddValue(app, g, "--silent", "STAGE[:N]", "ignore the next N blocks of STAGE; without N hang there until SIGUSR1",
           [o](const std::string& v) {
             SimStage stage{};
             int count = 0;
             const bool ok = ParseStageCount(v, true, &stage, &count);
             if (ok) o->m_nSilent[static_cast<size_t>(stage)] = count;
             return ok;
           });
  AddValue(app, g, "--corrupt", "P", "flip a bit of a received byte with probability P", Probability(&o->m_fCorruptRx));
  AddValue(app, g, "--drop", "P", "lose a received byte with probability P", Probability(&o->m_fDropRx));
  AddValue(app, g, "--corrupt-tx", "P", "flip a bit of a sent byte with probability P", Probability(&o->m_fCorruptTx));
  AddValue(app, g, "--drop-tx", "P", "lose a sent byte with probability P", Probability(&o->m_fDropTx));
  AddValue(app, g, "--vanish", "dump:N|program:N", "close the device after N bytes of a dump or of the application data",
           [o](const std::string& v) {
             SimStage stage{};
             int count = 0;
             const bool ok = ParseStageCount(v, false, &stage, &count) &&
                             (stage == SimStage::Dump || stage == SimStage::Program);
             o->m_vanishStage = stage;
             o->m_nVanishAfter = count;
             return ok;
           });
  AddValue(app, g, "--reset", "dump:N",
           "reset once after N bytes of a dump: the boot loader's request follows (with --repeat, repeated)",
           [o](const std::string& v) {
             SimStage stage{};
             int count = 0;
             const bool ok = ParseStageCount(v, false, &stage, &count) && stage == SimStage::Dump;
             o->m_nResetDumpAfter = count;
             return ok;
           });
  AddValue(app, g, "--corrupt-flash", "ADDR",
           "a bad flash cell: bit 0 of the byte at ADDR comes out wrong whenever it is programmed (repeatable)",
           [o](const std::string& v) {
             uint64_t u = 0;
             const bool ok = ParseUnsigned(v, 0xFFFFFFFFu, &u);
             o->m_badCells.push_back(static_cast<uint32_t>(u));
             return ok;
           });
  AddValue(app, g, "--seed", "N", "seed of the random faults (default 1)",
           [o](const std::string& v) { return ParseUnsigned(v, UINT64_MAX, &o->m_nSeed); });
}

// Without --no-match, a --config folder (or the "config" folder beside the
// program when it holds them) supplies the images not named.
bool SettleImageFiles(SimOptions* o, bool noMatch, std::string configDir, std::string* error) {
  if (noMatch) {
    o->m_strBootFile.clear();
    o->m_strLoaderFile.clear();
    return true;
  }
  const bool defaultFolder = configDir.empty();
  if (defaultFolder) {
    // config/ beside the program (the build tree), else an installation's defaults.
    configDir = ExecutableDirectory() + "config";
    if (!fs::exists(configDir + "/boot.bin")) configDir = InstalledDefaultsDir(ExecutableDirectory());
  }
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

bool ParseSimOptions(int argc, char** argv, SimOptions* o, std::string* help, std::string* error) {
  help->clear();
  CLI::App app{kDescription, "chipsim"};
  app.footer(kFooter);
  app.set_version_flag("--version", "chipsim " TQ_VERSION);
  bool noMatch = false;
  std::string configDir;
  AddDeviceOptions(app, o, &noMatch, &configDir);
  AddFlashOptions(app, o);
  AddTimingOptions(app, o);
  AddFaultOptions(app, o);
  AddLogOptions(app, o);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    *help = app.help();
    return true;
  } catch (const CLI::CallForVersion& e) {
    *help = std::string(e.what()) + "\n";  // printed like the help text
    return true;
  } catch (const CLI::ParseError& e) {
    *error = e.what();
    return false;
  }
  return SettleImageFiles(o, noMatch, configDir, error);
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
