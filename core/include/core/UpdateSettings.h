// The values an update sends to the chip, captured from the window's
// selections at "Link" and handed to the worker as one snapshot.
#pragma once

#include <cstdint>
#include <string>

struct UpdateSettings {
  int32_t m_nRamType = 0;
  int32_t m_nChipParam0 = 0;
  int32_t m_nChipParam2 = 0;
  int32_t m_nChipModel = 0;
  int32_t m_nChipParam1 = 0;
  int32_t m_nRamParam0 = 0;
  int32_t m_nRamParam1 = 0;
  int32_t m_nRamParam2 = 0;
  int32_t m_nSdramSize = 0;
  int32_t m_nXtal = 0;
  int32_t m_nCurAct = 0;
  int32_t m_nAct = 0;
  int32_t m_nTotalNum = 0;
  int32_t m_nBatchIndex = 0;
  int32_t m_nBase = 0;
  int32_t m_nLength = 0;
  int32_t m_nFlashType = 0;
  int32_t m_nFlashModel = 0;
  std::string m_strAppFile;
  int64_t m_nAppFileSize = 0;
  std::string m_strDumpFile;

  bool operator==(const UpdateSettings&) const = default;
};

// Act codes.
inline constexpr int32_t ACT_PROGRAM = 0;
inline constexpr int32_t ACT_ERASE = 1;
inline constexpr int32_t ACT_DUMP = 2;
inline constexpr int32_t ACT_BATCH = 3;
