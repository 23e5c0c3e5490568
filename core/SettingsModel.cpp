#include "core/SettingsModel.h"

#include "core/View.h"

#include <cstdio>

namespace {
std::vector<std::string> MakeDigits(const char* prefix, const char* suffix) {
  std::vector<std::string> v;
  for (int i = 0; i < 16; ++i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%s%X%s", prefix, i, suffix);
    v.emplace_back(buf);
  }
  return v;
}
}  // namespace

const std::vector<std::string>& ParityEntries() {
  static const std::vector<std::string> v{"None", "Even", "Odd"};
  return v;
}
const std::vector<std::string>& DataBitsEntries() {
  static const std::vector<std::string> v{"8", "7", "6"};
  return v;
}
const std::vector<std::string>& StopBitsEntries() {
  static const std::vector<std::string> v{"1", "2"};
  return v;
}
const std::vector<std::string>& FlashTypeEntries() {
  static const std::vector<std::string> v{"Flash", "SPI-Flash"};
  return v;
}
const std::vector<std::string>& HighDigitEntries() {
  static const std::vector<std::string> v = MakeDigits("0x", "");
  return v;
}
const std::vector<std::string>& MidDigitEntries() {
  static const std::vector<std::string> v = MakeDigits("", "");
  return v;
}
const std::vector<std::string>& LowDigitEntries() {
  static const std::vector<std::string> v = MakeDigits("", "000");
  return v;
}

int32_t DigitsToAddress(const std::array<int32_t, 3>& d) {
  // Unsigned arithmetic: a list without selection (-1) must not overflow.
  uint32_t v = ((static_cast<uint32_t>(d[0]) * 16u + static_cast<uint32_t>(d[1])) * 16u + static_cast<uint32_t>(d[2])) * 4096u;
  return static_cast<int32_t>(v);
}

std::string BuildPortSettingsText(const std::string& baud, const std::string& parity, const std::string& dataBits,
                                  const std::string& stopBits) {
  std::string p = parity.empty() ? std::string() : parity.substr(0, 1);
  return baud + "," + p + "," + dataBits + "," + stopBits;
}

std::optional<std::string> CheckLink(const std::string& openCaption, int32_t actSel, const UpdateSettings& s) {
  if (CaptionMeansPortClosed(openCaption)) return "Please open com port.\n";
  switch (actSel) {
    case ACT_PROGRAM:
      if (s.m_strAppFile.empty()) return "Please open application file.\n";
      if (s.m_nAppFileSize == 0) return "error!!application file size = 0!\n";
      break;
    case ACT_ERASE:
      if (s.m_nLength == 0) return "error!!ActLenth = 0!\n";
      break;
    case ACT_DUMP:
      if (s.m_nLength == 0) return "error!!ActLenth = 0!\n";
      if (s.m_strDumpFile.empty()) return "Please open dump file.\n";
      break;
    default:
      break;
  }
  return std::nullopt;
}

std::string CSettingsModel::EntryText(const std::vector<std::string>& list, int32_t pos) {
  if (pos < 0 || static_cast<size_t>(pos) >= list.size()) return {};
  return list[static_cast<size_t>(pos)];
}

int32_t CSettingsModel::Clamp(const std::vector<std::string>& list, int32_t pos) {
  return pos >= 0 && static_cast<size_t>(pos) < list.size() ? pos : -1;
}

void CSettingsModel::Load() {
  const SavedSelections saved = m_config.ReadSetting();
  m_ports = m_config.Lines("COM");
  m_bauds = m_config.Lines("BaudRate");
  m_chipModels = m_config.Keys("ChipModel");
  m_ramTypes = m_config.Lines("RAMType");
  m_ramSizes = m_config.Lines("RAMSize");
  m_xtals = m_config.Lines("XTAL");
  m_acts = m_config.Lines("ACT");

  m_sel = DlgSelections{};
  m_sel.m_nPortSel = Clamp(m_ports, saved.port);
  m_sel.m_nBaudSel = Clamp(m_bauds, saved.baudRate);
  m_sel.m_nChipModelSel = Clamp(m_chipModels, saved.chipModel);
  m_sel.m_nRamTypeSel = Clamp(m_ramTypes, saved.ramType);
  m_sel.m_nRamSizeSel = Clamp(m_ramSizes, saved.sdramSize);
  m_sel.m_nActSel = Clamp(m_acts, 0);
  m_sel.m_nFlashTypeSel = Clamp(FlashTypeEntries(), saved.flashType);
  m_sel.m_nXtalSel = Clamp(m_xtals, saved.xtal);
  m_flashModels.clear();
  m_sel.m_nFlashModelSel = -1;
  OnFlashTypeChanged();
}

void CSettingsModel::OnFlashTypeChanged() {
  const std::string type = EntryText(FlashTypeEntries(), m_sel.m_nFlashTypeSel);
  std::string section;
  if (type == "Flash") section = "PFLASH";
  else if (type == "SPI-Flash") section = "SFLASH";
  else return;
  m_flashModels = m_config.Keys(section);
  m_sel.m_nFlashModelSel = Clamp(m_flashModels, m_config.ReadSettingFlashModel());
}

void CSettingsModel::OnXtalChanged() { m_sel.m_nBaudSel = Clamp(m_bauds, m_sel.m_nXtalSel); }

UpdateSettings CSettingsModel::Capture(const UpdateSettings& files) const {
  UpdateSettings s = files;
  s.m_nRamType = m_sel.m_nRamTypeSel;
  const auto v = m_config.ChipNumbers(EntryText(m_chipModels, m_sel.m_nChipModelSel));
  s.m_nChipParam0 = v[0];
  s.m_nChipParam1 = v[1];
  s.m_nChipParam2 = v[2];
  const size_t triple = m_sel.m_nRamTypeSel == 0 ? 3 : 6;
  s.m_nRamParam0 = v[triple];
  s.m_nRamParam1 = v[triple + 1];
  s.m_nRamParam2 = v[triple + 2];
  s.m_nSdramSize = m_sel.m_nRamSizeSel;
  s.m_nXtal = m_sel.m_nXtalSel;
  s.m_nAct = m_sel.m_nActSel;
  s.m_nBase = DigitsToAddress(m_sel.m_nBaseSel);
  s.m_nLength = DigitsToAddress(m_sel.m_nLengthSel);
  s.m_nFlashType = m_sel.m_nFlashTypeSel;
  s.m_nChipModel = m_sel.m_nChipModelSel;
  return s;
}

std::optional<std::string> CSettingsModel::ChipLineProblem() const {
  const std::string chip = EntryText(m_chipModels, m_sel.m_nChipModelSel);
  if (chip.empty()) return std::nullopt;
  return m_config.ChipLineProblem(chip);
}

int32_t CSettingsModel::FlashModelCode() const {
  return m_config.FlashModelCode(m_sel.m_nFlashTypeSel, EntryText(m_flashModels, m_sel.m_nFlashModelSel));
}

SavedSelections CSettingsModel::Remembered() const {
  return SavedSelections{m_sel.m_nPortSel,    m_sel.m_nBaudSel,  m_sel.m_nChipModelSel, m_sel.m_nRamTypeSel,
                         m_sel.m_nRamSizeSel, m_sel.m_nXtalSel,  m_sel.m_nFlashTypeSel, m_sel.m_nFlashModelSel};
}

bool CSettingsModel::HasBaudRate() const { return !EntryText(m_bauds, m_sel.m_nBaudSel).empty(); }

std::string CSettingsModel::PortSettingsText() const {
  return BuildPortSettingsText(EntryText(m_bauds, m_sel.m_nBaudSel), EntryText(ParityEntries(), m_sel.m_nParitySel),
                               EntryText(DataBitsEntries(), m_sel.m_nDataBitsSel),
                               EntryText(StopBitsEntries(), m_sel.m_nStopBitsSel));
}
