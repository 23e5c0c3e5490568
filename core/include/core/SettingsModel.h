// The main window's selections as plain data: which list feeds which update
// setting, the base and length arithmetic, the chip-number and flash-model
// lookups and the checks of "Link". The Qt window and the command line both
// drive the update through this model.
#pragma once

#include "core/Config.h"
#include "core/UpdateSettings.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

// Selection positions of the window's lists, counted from 0; -1 is no selection.
struct DlgSelections {
  int32_t m_nRamTypeSel = 0;
  int32_t m_nRamSizeSel = 0;
  int32_t m_nXtalSel = 0;
  int32_t m_nActSel = 0;
  std::array<int32_t, 3> m_nBaseSel{0, 0, 0};
  std::array<int32_t, 3> m_nLengthSel{0, 0, 0};
  int32_t m_nFlashTypeSel = 0;
  int32_t m_nFlashModelSel = 0;
  int32_t m_nChipModelSel = 0;
  int32_t m_nPortSel = 0;
  int32_t m_nBaudSel = 0;
  int32_t m_nParitySel = 0;
  int32_t m_nDataBitsSel = 0;
  int32_t m_nStopBitsSel = 0;
};

// The lists that come with the window.
const std::vector<std::string>& ParityEntries();     // "None", "Even", "Odd"
const std::vector<std::string>& DataBitsEntries();   // "8", "7", "6"
const std::vector<std::string>& StopBitsEntries();   // "1", "2"
const std::vector<std::string>& FlashTypeEntries();  // "Flash", "SPI-Flash"
const std::vector<std::string>& HighDigitEntries();  // "0x0" .. "0xF"
const std::vector<std::string>& MidDigitEntries();   // "0" .. "F"
const std::vector<std::string>& LowDigitEntries();   // "0000" .. "F000"

// ((d1 * 16 + d2) * 16 + d3) * 4096: three digit positions as address bits 23-12.
int32_t DigitsToAddress(const std::array<int32_t, 3>& digits);

// The port settings text, "%s,%s,%s,%s": baud, first letter of the parity,
// data bits, stop bits.
std::string BuildPortSettingsText(const std::string& baud, const std::string& parity, const std::string& dataBits,
                                  const std::string& stopBits);

// The first failing check of "Link", as its log line, or nothing when all pass.
std::optional<std::string> CheckLink(const std::string& openCaption, int32_t actSel, const UpdateSettings& s);

// The largest application image "AppFile" accepts.
inline constexpr int64_t MAX_APP_FILE_SIZE = 4194304;

class CSettingsModel {
public:
  explicit CSettingsModel(CConfigFile config) : m_config(std::move(config)) {}

  const CConfigFile& Config() const { return m_config; }

  // Reads Setting, fills the lists from the configuration file, restores the
  // remembered positions (a position beyond its list gives no selection) and
  // builds the flash model list.
  void Load();

  // Rebuilds the flash model list for the selected flash type and selects
  // the stored Setting/FlashModel position. No flash type selected: no change.
  void OnFlashTypeChanged();
  // Selects the baud entry at the crystal's position.
  void OnXtalChanged();

  // The lists filled from the configuration file.
  std::vector<std::string> m_ports, m_bauds, m_chipModels, m_ramTypes, m_ramSizes, m_xtals, m_acts, m_flashModels;
  DlgSelections m_sel;

  // Text of the entry at a position, empty for no selection.
  static std::string EntryText(const std::vector<std::string>& list, int32_t pos);
  // A position when it lies in the list, -1 otherwise.
  static int32_t Clamp(const std::vector<std::string>& list, int32_t pos);

  // The settings capture of "Link": fills every update setting the window
  // owns from the current selections. `files` carries the file paths and the
  // image size, which are copied unchanged.
  UpdateSettings Capture(const UpdateSettings& files) const;
  // Why the selected chip's line cannot be sent (CConfigFile::ChipLineProblem).
  // With no chip selected there is no line to judge: nothing.
  std::optional<std::string> ChipLineProblem() const;
  // Code of the selected flash model (+128 for SPI flash).
  int32_t FlashModelCode() const;
  // The positions that Link writes into Setting.
  SavedSelections Remembered() const;

  std::string PortSettingsText() const;
  // False when the baud list has no entry at the selected position (the
  // settings text would then start with its first comma).
  bool HasBaudRate() const;
  // The 1-based COM number: port position + 1.
  int32_t PortNumber() const { return m_sel.m_nPortSel + 1; }

private:
  CConfigFile m_config;
};
