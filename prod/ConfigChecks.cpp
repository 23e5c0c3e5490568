// The configuration checks of a board's run, before the port is opened.
#include "prod/ConfigChecks.h"

#include "core/UpdateSettings.h"
#include "core/platform/HostFiles.h"

namespace {

// One list the chip is told about: what it is called, its Setting key, the
// section it comes from, the option that chooses it, and the positions.
struct NeededList {
  const char* what;
  const char* key;
  std::string section;
  const char* option;
  int32_t remembered;
  int32_t selected;
  size_t size;
};

std::string MissingEntryText(const NeededList& l) {
  return std::string("no ") + l.what + ": cfg.ini's Setting " + l.key + "=" + std::to_string(l.remembered) +
         " names no entry of the list " + l.section + ", which has " + std::to_string(l.size) +
         (l.size == 1 ? " entry" : " entries") + "; use " + l.option;
}

std::string FlashModelSection(int32_t flashTypeSel) { return flashTypeSel == FLASH_TYPE_SPI ? "SFLASH" : "PFLASH"; }

PlanRefusal BadEntry(int32_t index, const std::string& why) {
  return PlanRefusal{RunRefusal::BadBatchList, "Bat entry " + std::to_string(index) + ": " + why};
}

bool ReadableRegularFile(const std::string& path) {
  return host::IsRegularFile(path) && host::AccessError(path, host::Access::Read) == 0;
}

std::optional<PlanRefusal> CheckBatchEntry(int32_t i, const BatchEntry& e) {
  const std::string n = std::to_string(i);
  if (e.act != ACT_PROGRAM && e.act != ACT_ERASE && e.act != ACT_DUMP)
    return BadEntry(i, "Act" + n + "=" + std::to_string(e.act) + " is not 0 (program), 1 (erase) or 2 (dump)");
  if (e.act != ACT_PROGRAM && e.length <= 0)
    return BadEntry(i, "Lenth" + n + "=" + std::to_string(e.length) + ": an erase or a dump needs a length above 0");
  if (e.act != ACT_ERASE && e.file.empty()) return BadEntry(i, "File" + n + " is missing");
  if (e.act == ACT_PROGRAM && !ReadableRegularFile(e.file))
    return PlanRefusal{RunRefusal::ImageUnreadable,
                       "Bat entry " + n + ": cannot read File" + n + " \"" + e.file + "\" as a regular file"};
  if (e.act == ACT_DUMP)
    if (auto refusal = CheckDumpFile(e.file)) {
      refusal->text = "Bat entry " + n + ": " + refusal->text;
      return refusal;
    }
  return std::nullopt;
}

}  // namespace

std::optional<PlanRefusal> CheckNeededEntries(const CSettingsModel& model, bool portGiven) {
  const SavedSelections saved = model.Config().ReadSetting();
  const DlgSelections& sel = model.m_sel;
  const NeededList lists[] = {
      {"chip model", "ChipModel", "ChipModel", "--chip", saved.chipModel, sel.m_nChipModelSel,
       model.m_chipModels.size()},
      {"RAM type", "RamType", "RAMType", "--ram-type", saved.ramType, sel.m_nRamTypeSel, model.m_ramTypes.size()},
      {"RAM size", "SdramSize", "RAMSize", "--ram-size", saved.sdramSize, sel.m_nRamSizeSel, model.m_ramSizes.size()},
      {"crystal", "Xtal", "XTAL", "--xtal", saved.xtal, sel.m_nXtalSel, model.m_xtals.size()},
      {"flash type", "FlashType", "of flash types (0 Flash, 1 SPI-Flash)", "--flash-type", saved.flashType,
       sel.m_nFlashTypeSel, FlashTypeEntries().size()},
      {"flash model", "FlashModel", FlashModelSection(sel.m_nFlashTypeSel), "--flash-model",
       model.Config().ReadSettingFlashModel(), sel.m_nFlashModelSel, model.m_flashModels.size()},
      {"port", "Port", "COM", "--port", saved.port, portGiven ? 0 : sel.m_nPortSel, model.m_ports.size()},
  };
  for (const auto& list : lists)
    if (list.selected < 0) return PlanRefusal{RunRefusal::NoListEntry, MissingEntryText(list)};
  return std::nullopt;
}

std::string NoBaudRateText(const CSettingsModel& model, bool movedByCrystal) {
  const size_t size = model.m_bauds.size();
  const std::string entries = std::to_string(size) + (size == 1 ? " entry" : " entries");
  if (movedByCrystal)
    return "no baud rate: crystal entry " + std::to_string(model.m_sel.m_nXtalSel) +
           " goes with the BaudRate entry at the same position, but that list has " + entries + "; use --baud";
  return "no baud rate: cfg.ini's Setting BaudRate=" + std::to_string(model.Config().ReadSetting().baudRate) +
         " names no entry of the list BaudRate, which has " + entries + "; use --baud";
}

std::optional<PlanRefusal> ReadBatchList(const CConfigFile& config, std::vector<BatchEntry>& entries) {
  entries.clear();
  const int32_t total = config.BatTotalNum();
  if (total <= 0)
    return PlanRefusal{RunRefusal::BadBatchList,
                       "the Bat list of cfg.ini is empty (TotalNum=" + std::to_string(total) + "): nothing to do"};
  for (int32_t i = 0; i < total; ++i) {
    BatchEntry e = config.BatEntry(i);
    if (auto refusal = CheckBatchEntry(i, e)) return refusal;
    entries.push_back(std::move(e));
  }
  return std::nullopt;
}
