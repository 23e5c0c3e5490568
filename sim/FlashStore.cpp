#include "sim/FlashStore.h"

#include <algorithm>
#include <vector>

CFlashStore::~CFlashStore() { Close(); }

bool CFlashStore::FillErased(uint64_t from, uint64_t to) {
  const std::vector<uint8_t> erased(64 * 1024, 0xFF);
  while (from < to) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(to - from, erased.size()));
    if (!WriteCells(from, erased.data(), n)) return false;
    from += n;
  }
  return true;
}

bool CFlashStore::InRange(uint32_t address, size_t length) const {
  return m_hFile >= 0 && static_cast<uint64_t>(address) + length <= m_nSize;
}

bool CFlashStore::Read(uint32_t address, uint8_t* out, size_t length) const {
  return InRange(address, length) && ReadCells(address, out, length);
}

bool CFlashStore::Erase(uint32_t address, size_t length) {
  return InRange(address, length) && FillErased(address, static_cast<uint64_t>(address) + length);
}

bool CFlashStore::HitsBadCell(uint32_t address, size_t length) const {
  for (uint32_t bad : m_badCells)
    if (bad >= address && bad - address < length) return true;
  return false;
}

bool CFlashStore::Program(uint32_t address, const uint8_t* data, size_t length) {
  if (!InRange(address, length)) return false;
  std::vector<uint8_t> cells(length);
  if (!ReadCells(address, cells.data(), length)) return false;
  for (size_t i = 0; i < length; ++i) cells[i] &= data[i];
  for (uint32_t bad : m_badCells)
    if (bad >= address && bad - address < length) cells[bad - address] ^= 0x01;
  return WriteCells(address, cells.data(), length);
}
