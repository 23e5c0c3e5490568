#include "core/Config.h"

#include "core/Numbers.h"
#include "core/Profile.h"
#include "core/platform/HostFiles.h"

#include <filesystem>

namespace {
constexpr const char* kSetting = "Setting";
constexpr size_t kChipLineCapacity = 3000;
constexpr size_t kBatFileCapacity = 1024;
}  // namespace

std::string ExecutableDirectory() {
  const auto exe = host::ExecutablePath();
  if (exe.empty() || !exe.has_parent_path()) return "./";
  std::string dir = exe.parent_path().string();
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

std::array<int32_t, 9> SplitChipNumbers(const std::string& line) {
  std::array<int32_t, 9> numbers{};
  size_t start = 0;
  for (size_t i = 0; i < numbers.size() && start <= line.size(); ++i) {
    size_t comma = line.find(',', start);
    std::string item = line.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    numbers[i] = ParseLeadingCNumber(item);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return numbers;
}

std::optional<std::string> ChipLineProblem(const std::string& name, const std::string& value) {
  const std::string line = "the ChipModel line \"" + name + (value.empty() ? "" : "=" + value) + "\"";
  if (value.empty()) return line + " has no numbers: it should read " + name + "=n0,n1,...,n8";
  size_t start = 0;
  for (int i = 0; i < 9; ++i) {
    const size_t comma = value.find(',', start);
    const std::string item = value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (!IsWholeCNumber(item))
      return line + ": item " + std::to_string(i + 1) + " \"" + item + "\" is not a number";
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return std::nullopt;
}

CConfigFile CConfigFile::InFolder(const std::string& folder) {
  std::string f = folder;
  if (f.empty()) f.push_back('.');
  if (f.back() != '/') f += '/';
  return CConfigFile(f + "cfg.ini");
}

std::vector<std::string> CConfigFile::Lines(const std::string& section) const {
  return ReadProfileSection(section, m_path);
}

std::vector<std::string> CConfigFile::Keys(const std::string& section) const {
  std::vector<std::string> keys;
  for (const auto& line : Lines(section)) keys.push_back(ProfileKeyPart(line));
  return keys;
}

std::array<int32_t, 9> CConfigFile::ChipNumbers(const std::string& chipName) const {
  return SplitChipNumbers(ReadProfileString("ChipModel", chipName, "", kChipLineCapacity, m_path));
}

std::optional<std::string> CConfigFile::ChipLineProblem(const std::string& chipName) const {
  auto problem =
      ::ChipLineProblem(chipName, ReadProfileString("ChipModel", chipName, "", kChipLineCapacity, m_path));
  if (problem) *problem += " (in " + m_path + ")";
  return problem;
}

int32_t CConfigFile::FlashModelCode(int32_t flashTypeSel, const std::string& modelName) const {
  if (flashTypeSel == FLASH_TYPE_SPI) return ReadProfileInt("SFlash", modelName, 0, m_path) + SPI_FLASH_CODE_OFFSET;
  return ReadProfileInt("PFlash", modelName, 0, m_path);
}

SavedSelections CConfigFile::ReadSetting() const {
  SavedSelections s;
  s.port = ReadProfileInt(kSetting, "Port", 0, m_path);
  s.baudRate = ReadProfileInt(kSetting, "BaudRate", 0, m_path);
  s.chipModel = ReadProfileInt(kSetting, "ChipModel", 0, m_path);
  s.ramType = ReadProfileInt(kSetting, "RamType", 0, m_path);
  s.sdramSize = ReadProfileInt(kSetting, "SdramSize", 0, m_path);
  s.xtal = ReadProfileInt(kSetting, "Xtal", 0, m_path);
  s.flashType = ReadProfileInt(kSetting, "FlashType", 0, m_path);
  s.flashModel = ReadProfileInt(kSetting, "FlashModel", 0, m_path);
  return s;
}

int32_t CConfigFile::ReadSettingFlashModel() const { return ReadProfileInt(kSetting, "FlashModel", 0, m_path); }

bool CConfigFile::WriteSetting(const SavedSelections& s) const {
  const std::pair<const char*, int32_t> keys[] = {
      {"Port", s.port},         {"BaudRate", s.baudRate}, {"ChipModel", s.chipModel}, {"RamType", s.ramType},
      {"SdramSize", s.sdramSize}, {"Xtal", s.xtal},       {"FlashType", s.flashType}, {"FlashModel", s.flashModel}};
  bool ok = true;
  for (const auto& [key, value] : keys) ok = WriteProfileString(kSetting, key, std::to_string(value), m_path) && ok;
  return ok;
}

int32_t CConfigFile::BatTotalNum() const { return ReadProfileInt("Bat", "TotalNum", 0, m_path); }

BatchEntry CConfigFile::BatEntry(int32_t index) const {
  const std::string n = std::to_string(index);
  BatchEntry e;
  e.act = ReadProfileInt("Bat", "Act" + n, 255, m_path);
  e.base = ReadProfileInt("Bat", "Base" + n, 0, m_path);
  e.length = ReadProfileInt("Bat", "Lenth" + n, 0, m_path);
  e.file = ReadProfileString("Bat", "File" + n, "", kBatFileCapacity, m_path);
  return e;
}

std::optional<std::string> CConfigFile::PortMapPath(int32_t comNumber) const {
  std::string path = ReadProfileString("PortMap", "COM" + std::to_string(comNumber), "", 4096, m_path);
  if (path.empty()) return std::nullopt;
  return path;
}
