// The program's configuration file cfg.ini: the entries of the window's
// lists, the numbers of every chip model, the flash model codes, the
// selections used last time, the batch list and the port map.
#pragma once

#include "core/Batch.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The folder of the running executable, ending in '/'.
std::string ExecutableDirectory();

// The nine numbers of a chip-model line, each read by ParseLeadingCNumber
// (core/Numbers.h): hexadecimal after 0x, octal after a leading 0, decimal
// otherwise, wrapped to 32 bits, 0 for an item without a number. Missing
// numbers are 0 and numbers after the ninth are ignored.
std::array<int32_t, 9> SplitChipNumbers(const std::string& line);

// Why the chip-model line `name`=`value` cannot give the chip its settings:
// the value is empty (a line without '=' has none), or one of its first nine
// comma-separated items is not a whole number (IsWholeCNumber). Either would
// otherwise send zeros in its place. Nothing when the line is usable; fewer
// than nine numbers are (the rest are 0). The text names the line.
std::optional<std::string> ChipLineProblem(const std::string& name, const std::string& value);

// The selections remembered in section Setting, as list positions.
struct SavedSelections {
  int32_t port = 0;
  int32_t baudRate = 0;
  int32_t chipModel = 0;
  int32_t ramType = 0;
  int32_t sdramSize = 0;
  int32_t xtal = 0;
  int32_t flashType = 0;
  int32_t flashModel = 0;
  bool operator==(const SavedSelections&) const = default;
};

inline constexpr int32_t FLASH_TYPE_SPI = 1;
inline constexpr int32_t SPI_FLASH_CODE_OFFSET = 128;

class CConfigFile {
public:
  explicit CConfigFile(std::string path) : m_path(std::move(path)) {}
  // cfg.ini in the given folder.
  static CConfigFile InFolder(const std::string& folder);

  const std::string& Path() const { return m_path; }

  // A list section, whole lines (COM, BaudRate, RAMType, RAMSize, XTAL, ACT).
  std::vector<std::string> Lines(const std::string& section) const;
  // The key part of every line of a section (ChipModel, PFLASH, SFLASH).
  std::vector<std::string> Keys(const std::string& section) const;

  std::array<int32_t, 9> ChipNumbers(const std::string& chipName) const;
  // ChipLineProblem for the chip's line in this file, naming the file.
  std::optional<std::string> ChipLineProblem(const std::string& chipName) const;
  // Code of a flash model: from PFlash, or from SFlash plus 128 when the
  // flash type position is 1. Unknown models give 0 (128 for SPI flash).
  int32_t FlashModelCode(int32_t flashTypeSel, const std::string& modelName) const;

  SavedSelections ReadSetting() const;
  int32_t ReadSettingFlashModel() const;
  // Writes the eight keys in order; false when the file cannot be written.
  bool WriteSetting(const SavedSelections& s) const;

  int32_t BatTotalNum() const;
  BatchEntry BatEntry(int32_t index) const;

  // The device path that section PortMap gives for COM number n, if any.
  std::optional<std::string> PortMapPath(int32_t comNumber) const;

private:
  std::string m_path;
};

// Batch entries read from the Bat section of a cfg.ini, again at every use.
class CConfigBatchSource : public IBatchSource {
public:
  explicit CConfigBatchSource(CConfigFile config) : m_config(std::move(config)) {}
  int32_t TotalNum() override { return m_config.BatTotalNum(); }
  BatchEntry Entry(int32_t index) override { return m_config.BatEntry(index); }

private:
  CConfigFile m_config;
};
