// The plan of a run: list choices, line speed, port, and the settings of the
// operation, each checked before the port is opened.
#include "prod/BoardPlan.h"

#include "prod/ConfigChecks.h"
#include "prod/DumpFile.h"
#include "core/Numbers.h"
#include "core/Profile.h"

#include "prod/Report.h"
#include "core/platform/HostFiles.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>

namespace {

constexpr int64_t kDumpBlock = 4096;  // the chip sends a dump in blocks of this size

std::string HexText(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", value);
  return text;
}

PlanRefusal BadOption(std::string text) { return PlanRefusal{RunRefusal::BadOption, std::move(text)}; }

std::string JoinChoices(const std::vector<std::string>& entries) {
  std::string out;
  for (size_t i = 0; i < entries.size(); ++i) out += (i ? ", " : "") + std::to_string(i) + " \"" + entries[i] + "\"";
  return out.empty() ? "(none configured)" : out;
}

// Selects the entry the option names (no option: the remembered one stays).
std::optional<PlanRefusal> Choose(const std::vector<std::string>& entries, const std::string& text, const char* what,
                                  int32_t& sel) {
  if (text.empty()) return std::nullopt;
  auto pos = ParseListChoice(entries, text);
  if (!pos) return BadOption(std::string("unknown ") + what + " \"" + text + "\"; choices: " + JoinChoices(entries));
  sel = *pos;
  return std::nullopt;
}

std::optional<PlanRefusal> ChooseFlashType(const std::string& text, CSettingsModel& model) {
  if (text.empty()) return std::nullopt;
  if (EqualNoCase(text, "flash")) model.m_sel.m_nFlashTypeSel = 0;
  else if (EqualNoCase(text, "spi-flash")) model.m_sel.m_nFlashTypeSel = FLASH_TYPE_SPI;
  else return BadOption("unknown flash type \"" + text + "\"; choices: flash, spi-flash");
  model.OnFlashTypeChanged();
  return std::nullopt;
}

std::optional<PlanRefusal> ChooseChip(const JobOptions& o, CSettingsModel& model) {
  auto& sel = model.m_sel;
  if (auto r = Choose(model.m_chipModels, o.chip, "chip", sel.m_nChipModelSel)) return r;
  if (auto r = Choose(model.m_ramTypes, o.ramType, "RAM type", sel.m_nRamTypeSel)) return r;
  if (auto r = Choose(model.m_ramSizes, o.ramSize, "RAM size", sel.m_nRamSizeSel)) return r;
  if (auto r = Choose(model.m_xtals, o.xtal, "crystal", sel.m_nXtalSel)) return r;
  // As the window's crystal list does: crystal entry p goes with baud entry p
  // (a --baud given with it chooses the baud after this).
  if (!o.xtal.empty()) model.OnXtalChanged();
  if (auto r = ChooseFlashType(o.flashType, model)) return r;
  return Choose(model.m_flashModels, o.flashModel, "flash model", sel.m_nFlashModelSel);
}

// The line speed of the boot stages: an entry of the list, or any rate.
std::optional<PlanRefusal> ChooseBaud(const std::string& baud, bool crystalGiven, CSettingsModel& model) {
  if (!baud.empty()) {
    auto rate = ParseNumberOperand(baud);
    if (!rate || *rate == 0) return BadOption("bad baud rate \"" + baud + "\"");
    const std::string text = std::to_string(*rate);
    auto pos = ParseListChoice(model.m_bauds, text);
    if (!pos || model.m_bauds[static_cast<size_t>(*pos)] != text) {
      model.m_bauds.push_back(text);  // in memory only: the command line never writes cfg.ini
      pos = static_cast<int32_t>(model.m_bauds.size() - 1);
    }
    model.m_sel.m_nBaudSel = *pos;
  }
  if (!model.HasBaudRate())
    return PlanRefusal{RunRefusal::NoBaudRate, NoBaudRateText(model, crystalGiven)};
  return std::nullopt;
}

// The port: a device path, or a COM number mapped as the window maps it.
std::optional<PlanRefusal> ChoosePort(const std::string& port, CSettingsModel& model, BoardPlan& plan) {
  if (port.empty()) return std::nullopt;
  if (port.find_first_of("/\\") != std::string::npos) {
    std::error_code ec;
    if (std::filesystem::is_directory(port, ec))
      return PlanRefusal{RunRefusal::PortIsFolder, "cannot open the port " + port + ": it is a folder, not a device"};
    plan.devicePath = port;
    model.m_sel.m_nPortSel = 0;
    return std::nullopt;
  }
  std::string digits = port;
  if (digits.size() > 3 && EqualNoCase(digits.substr(0, 3), "COM")) digits = digits.substr(3);
  auto n = ParseNumberOperand(digits);
  if (!n || *n < 1 || *n > 1024) return BadOption("bad port \"" + port + "\": give a device path, COMn or n (1 to 1024)");
  model.m_sel.m_nPortSel = static_cast<int32_t>(*n) - 1;
  return std::nullopt;
}

std::optional<PlanRefusal> PlanProgram(const JobOptions& o, CSettingsModel& model, CDlgLogic& logic, CDumpApp& app,
                                       UpdateSettings& s, BoardPlan& plan) {
  auto base = ParseNumberOperand(o.base);
  if (!base) return BadOption("bad BASE \"" + o.base + "\": decimal or 0x-hexadecimal, 32 bits");
  if (auto refusal = logic.ChooseAppFile(o.image)) {
    const bool tooLarge = refusal->reason == AppFileRefusal::Reason::TooLarge;
    return PlanRefusal{tooLarge ? RunRefusal::ImageTooLarge : RunRefusal::ImageUnreadable, refusal->text};
  }
  s = model.Capture(app.m_settings);
  s.m_nBase = static_cast<int32_t>(*base);
  s.m_nLength = static_cast<int32_t>(app.m_settings.m_nAppFileSize);
  s.m_nAct = ACT_PROGRAM;
  plan.progressTotal = app.m_settings.m_nAppFileSize;
  if (o.verify)
    plan.verifyBatch = ReadBackBatch(s.m_nBase, s.m_nLength, o.image);
  return std::nullopt;
}

// Whatever is at FILE.part is removed when the dump starts (a link, not
// what it points to): only a folder there, or a folder that cannot be
// written, stands in the way.
std::optional<PlanRefusal> CheckPartFile(const std::string& part) {
  const std::filesystem::path p(part);
  std::error_code ec;
  const auto folder = p.has_parent_path() ? p.parent_path() : std::filesystem::path(".");
  std::string why;
  if (std::filesystem::is_directory(std::filesystem::symlink_status(p, ec))) why = "is a directory";
  else if (host::AccessError(folder.string(), host::Access::Write) != 0) why = "its folder cannot be written";
  if (why.empty()) return std::nullopt;
  return PlanRefusal{RunRefusal::DumpUnwritable, "cannot write the dump file \"" + part + "\": " + why};
}

// The dump runs into FILE.part; FILE is replaced once the dump is complete.
// `written` becomes the path the update writes.
std::optional<PlanRefusal> PlanDumpFile(const std::string& file, int32_t base, int32_t length, BoardPlan& plan,
                                        std::string& written) {
  if (auto refusal = CheckDumpFile(file)) return refusal;
  const std::string target = DumpTargetPath(file);
  DumpFileJob job{DumpPartPath(target), target, length, {}};
  job.file.record = DumpRecord{static_cast<uint32_t>(base), static_cast<uint32_t>(length),
                               Iso8601Utc(std::chrono::system_clock::now())};
  if (auto refusal = CheckPartFile(job.part)) return refusal;
  written = job.part;
  // Two entries into one file: the later dump is what the file ends with.
  std::erase_if(plan.dumpFiles, [&](const DumpFileJob& j) { return j.part == job.part; });
  plan.dumpFiles.push_back(std::move(job));
  return std::nullopt;
}

// --resume: FILE.part goes on when its record says it is part of this very
// dump. It is read again from one block before the end of its whole blocks.
std::optional<PlanRefusal> PlanResume(DumpFileJob& job, std::string& note) {
  const std::string& part = job.part;
  std::error_code ec;
  const auto status = std::filesystem::symlink_status(part, ec);
  if (!std::filesystem::exists(status)) {
    note = "nothing to resume: there is no " + part + "; the whole range is read.";
    return std::nullopt;
  }
  const auto refuse = [&](const std::string& why) {
    return PlanRefusal{RunRefusal::CannotResume,
                       "cannot resume from " + part + ": " + why + "; run without --resume to read the whole range"};
  };
  if (!std::filesystem::is_regular_file(status)) return refuse("not a regular file");
  std::string text;
  const std::string recordPath = DumpRecordPath(part);
  const auto record = host::ReadRegularFile(recordPath, text) ? ParseDumpRecord(text) : std::nullopt;
  if (!record) return refuse("no record of what it holds in " + recordPath);
  const DumpRecord& mine = job.file.record;
  if (record->base != mine.base || record->length != mine.length)
    return refuse("it holds part of another dump: " + std::to_string(record->length) + " bytes at " +
                  HexText(record->base) + ", begun " + record->begun);
  const auto size = std::filesystem::file_size(part, ec);
  const int64_t held = std::min<int64_t>(ec ? 0 : static_cast<int64_t>(size), mine.length) / kDumpBlock * kDumpBlock;
  if (held < kDumpBlock) {
    note = "nothing to resume: " + part + " holds less than a block; the whole range is read.";
    return std::nullopt;
  }
  job.file.held = held;
  job.file.continueAt = held - kDumpBlock;
  job.file.record.begun = record->begun;
  job.length = mine.length - job.file.continueAt;
  note = "resuming: " + part + " holds " + std::to_string(held) + " bytes; reading again from offset " +
         HexText(static_cast<uint32_t>(job.file.continueAt)) + ".";
  return std::nullopt;
}

std::optional<PlanRefusal> PlanEraseOrDump(const JobOptions& o, UpdateSettings& s, BoardPlan& plan) {
  auto base = ParseNumberOperand(o.base);
  auto length = ParseNumberOperand(o.length);
  if (!base || !length)
    return BadOption("bad " + std::string(!base ? "BASE \"" + o.base : "LENGTH \"" + o.length) +
                     "\": decimal or 0x-hexadecimal, 32 bits");
  if (*length > static_cast<uint32_t>(INT32_MAX))
    return BadOption("LENGTH \"" + o.length + "\" is too large: at most 0x7FFFFFFF");
  s.m_nBase = static_cast<int32_t>(*base);
  s.m_nLength = static_cast<int32_t>(*length);
  s.m_nAct = o.command == JobCommand::Erase ? ACT_ERASE : ACT_DUMP;
  plan.progressTotal = *length;
  if (s.m_nAct != ACT_DUMP) return std::nullopt;
  plan.checksDump = o.verifyDump;
  if (auto refusal = PlanDumpFile(o.dumpFile, s.m_nBase, s.m_nLength, plan, s.m_strDumpFile)) return refusal;
  if (!o.resume) return std::nullopt;
  DumpFileJob& job = plan.dumpFiles.back();
  if (auto refusal = PlanResume(job, plan.note)) return refusal;
  if (job.file.continueAt < 0) return std::nullopt;
  // The chip is asked for the rest only, from the block read again.
  s.m_nBase = static_cast<int32_t>(static_cast<uint32_t>(s.m_nBase) + static_cast<uint32_t>(job.file.continueAt));
  s.m_nLength = static_cast<int32_t>(job.length);
  plan.progressTotal = job.length;
  return std::nullopt;
}

// Every dump entry of a batch runs into its FILE.part, as `dump` does.
std::optional<PlanRefusal> PlanBatchDumps(BoardPlan& plan) {
  for (BatchEntry& entry : plan.batchList) {
    if (entry.act != ACT_DUMP) continue;
    if (auto refusal = PlanDumpFile(entry.file, entry.base, entry.length, plan, entry.file)) return refusal;
  }
  return std::nullopt;
}

std::optional<PlanRefusal> PlanOperation(const JobOptions& o, CSettingsModel& model, CDlgLogic& logic, CDumpApp& app,
                                         UpdateSettings& s, BoardPlan& plan) {
  switch (o.command) {
    case JobCommand::Program:
      return PlanProgram(o, model, logic, app, s, plan);
    case JobCommand::Erase:
    case JobCommand::Dump:
      return PlanEraseOrDump(o, s, plan);
    case JobCommand::Batch:
      break;
  }
  s.m_nAct = ACT_BATCH;
  if (auto refusal = ReadBatchList(model.Config(), plan.batchList)) return refusal;
  return PlanBatchDumps(plan);
}

// The checks of "Link", as if the port were open; the message without its line break.
std::optional<PlanRefusal> CheckAsLink(const UpdateSettings& s) {
  auto failure = CheckLink(kCaptionClose, s.m_nAct, s);
  if (!failure) return std::nullopt;
  std::string text = *failure;
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return PlanRefusal{RunRefusal::LinkRefused, text};
}

}  // namespace

std::optional<PlanRefusal> CheckDumpFile(const std::string& path) {
  if (path.empty()) return PlanRefusal{RunRefusal::BadOption, "cannot write the dump file \"\""};
  const std::filesystem::path p(path);
  std::error_code ec;
  const auto folder = p.has_parent_path() ? p.parent_path() : std::filesystem::path(".");
  const auto unwritable = [&](const char* why) {
    return PlanRefusal{RunRefusal::DumpUnwritable, "cannot write the dump file \"" + path + "\": " + why};
  };
  const auto status = std::filesystem::status(p, ec);
  if (std::filesystem::is_directory(status)) return unwritable("is a directory");
  // A FIFO would block the run, and a device is nothing to dump into.
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
    return unwritable("not a regular file");
  if (!std::filesystem::is_directory(folder, ec)) return unwritable("no such folder");
  const auto mayWrite = [](const std::filesystem::path& q) {
    return host::AccessError(q.string(), host::Access::Write) == 0;
  };
  if (!mayWrite(folder) || (std::filesystem::exists(status) && !mayWrite(p)))
    return unwritable("permission denied");
  return std::nullopt;
}

std::optional<uint32_t> ParseNumberOperand(const std::string& text) { return ParseDecOrHex32(text); }

std::optional<int32_t> ParseListChoice(const std::vector<std::string>& entries, const std::string& text) {
  for (size_t i = 0; i < entries.size(); ++i)
    if (EqualNoCase(entries[i], text)) return static_cast<int32_t>(i);
  auto n = ParseNumberOperand(text);
  if (n && *n < entries.size()) return static_cast<int32_t>(*n);
  return std::nullopt;
}

std::optional<PlanRefusal> MakePlan(const JobOptions& o, CSettingsModel& model, CDlgLogic& logic, CDumpApp& app,
                                    BoardPlan& plan) {
  if (auto r = ChooseChip(o, model)) return r;
  if (auto r = ChooseBaud(o.baud, !o.xtal.empty(), model)) return r;
  if (auto r = ChoosePort(o.port, model, plan)) return r;
  if (auto r = CheckNeededEntries(model, !o.port.empty())) return r;
  if (auto why = model.ChipLineProblem()) return PlanRefusal{RunRefusal::BadChipLine, *why};
  UpdateSettings s = model.Capture(app.m_settings);
  if (auto r = PlanOperation(o, model, logic, app, s, plan)) return r;
  if (auto r = CheckAsLink(s)) return r;
  s.m_nFlashModel = model.FlashModelCode();
  // A verifying run is a batch of its own: the checks above were those of "program".
  if (plan.RunsAsBatch()) s.m_nAct = ACT_BATCH;
  plan.settings = s;
  return std::nullopt;
}
