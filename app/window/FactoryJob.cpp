#include "app/window/FactoryJob.h"

#include "core/Profile.h"
#include "core/UpdateSettings.h"

#include <cstdio>
#include <filesystem>

namespace {

std::string Hex(int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
  return text;
}

const char* ActWord(int32_t act) {
  switch (act) {
    case ACT_PROGRAM: return "Program";
    case ACT_ERASE: return "Erase";
    case ACT_DUMP: return "Dump";
    case ACT_BATCH: return "Batch";
    default: return "?";
  }
}

JobCommand CommandFor(int32_t act) {
  switch (act) {
    case ACT_ERASE: return JobCommand::Erase;
    case ACT_DUMP: return JobCommand::Dump;
    case ACT_BATCH: return JobCommand::Batch;
    default: return JobCommand::Program;
  }
}

}  // namespace

std::string ListChoice(const std::vector<std::string>& entries, int32_t pos) {
  if (pos < 0 || static_cast<size_t>(pos) >= entries.size()) return {};
  const std::string& text = entries[static_cast<size_t>(pos)];
  for (size_t i = 0; i < entries.size(); ++i)
    if (EqualNoCase(entries[i], text)) {
      // The text picks the first entry that has it; numbers are read as positions only when no entry has them.
      const bool numeric = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
      if (i == static_cast<size_t>(pos) && !numeric) return text;
      break;
    }
  return std::to_string(pos);
}

JobOptions MakeFactoryJob(const CSettingsModel& model, const FactoryChoices& choices) {
  const DlgSelections& sel = model.m_sel;
  JobOptions job;
  job.command = CommandFor(sel.m_nActSel);
  job.baud = CSettingsModel::EntryText(model.m_bauds, sel.m_nBaudSel);
  job.chip = ListChoice(model.m_chipModels, sel.m_nChipModelSel);
  job.ramType = ListChoice(model.m_ramTypes, sel.m_nRamTypeSel);
  job.ramSize = ListChoice(model.m_ramSizes, sel.m_nRamSizeSel);
  job.xtal = ListChoice(model.m_xtals, sel.m_nXtalSel);
  job.flashType = sel.m_nFlashTypeSel == FLASH_TYPE_SPI ? "spi-flash" : "flash";
  job.flashModel = ListChoice(model.m_flashModels, sel.m_nFlashModelSel);
  job.base = Hex(DigitsToAddress(sel.m_nBaseSel));
  job.length = Hex(DigitsToAddress(sel.m_nLengthSel));
  job.verify = choices.verify;
  if (job.command == JobCommand::Program) job.image = choices.image;
  if (job.command == JobCommand::Dump) job.dumpFile = choices.dumpPattern;
  return job;
}

std::vector<std::string> DescribeFactoryJob(const CSettingsModel& model, const FactoryChoices& choices) {
  const DlgSelections& sel = model.m_sel;
  const std::string base = Hex(DigitsToAddress(sel.m_nBaseSel)), length = Hex(DigitsToAddress(sel.m_nLengthSel));
  std::string act = ActWord(sel.m_nActSel);
  if (sel.m_nActSel == ACT_PROGRAM)
    act += " " + (choices.image.empty() ? std::string("(no image chosen)") : choices.image) + " at " + base +
           (choices.verify ? ", read back and compare" : ", no read-back");
  else if (sel.m_nActSel == ACT_ERASE)
    act += " " + length + " bytes at " + base;
  else if (sel.m_nActSel == ACT_DUMP)
    act += " " + length + " bytes at " + base + " into " +
           (choices.dumpPattern.empty() ? std::string("(no file pattern)") : choices.dumpPattern);
  auto entry = [](const std::vector<std::string>& list, int32_t pos) {
    const std::string text = CSettingsModel::EntryText(list, pos);
    return text.empty() ? std::string("(none)") : text;
  };
  return {act,
          "Chip " + entry(model.m_chipModels, sel.m_nChipModelSel) + ", RAM " + entry(model.m_ramTypes, sel.m_nRamTypeSel) +
              " " + entry(model.m_ramSizes, sel.m_nRamSizeSel) + ", crystal " + entry(model.m_xtals, sel.m_nXtalSel),
          "Flash " + entry(FlashTypeEntries(), sel.m_nFlashTypeSel) + " " +
              entry(model.m_flashModels, sel.m_nFlashModelSel) + ", baud " + entry(model.m_bauds, sel.m_nBaudSel)};
}

std::string DumpPatternFor(const std::string& dumpFile) {
  if (dumpFile.empty()) return {};
  if (dumpFile.find("{port}") != std::string::npos) return dumpFile;
  const std::filesystem::path p(dumpFile);
  const std::filesystem::path name = p.stem().string() + "-{port}-{n}" + p.extension().string();
  return (p.parent_path() / name).string();
}
