// The chip's flash, kept in a file so that what one run programs the next
// run can dump. Erased bytes read 0xFF; programming can only clear bits, as
// on NOR flash, so programming over unerased bytes gives old AND new.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CFlashStore {
public:
  CFlashStore() = default;
  ~CFlashStore();
  CFlashStore(const CFlashStore&) = delete;
  CFlashStore& operator=(const CFlashStore&) = delete;

  // Opens the file, creating it erased when missing and extending it with
  // erased bytes when it is shorter than size. Existing contents stay.
  bool Open(const std::string& path, uint32_t size, std::string* error);
  void Close();
  uint32_t Size() const { return m_nSize; }

  // Each range must lie inside the flash.
  bool Read(uint32_t address, uint8_t* out, size_t length) const;
  bool Erase(uint32_t address, size_t length);
  bool Program(uint32_t address, const uint8_t* data, size_t length);
  // A bad cell: whenever the byte at address is programmed, its bit 0 comes
  // out wrong. Tells whether the range covers a bad cell.
  void AddBadCell(uint32_t address) { m_badCells.push_back(address); }
  bool HitsBadCell(uint32_t address, size_t length) const;

private:
  bool InRange(uint32_t address, size_t length) const;
  // The file's bytes; the platform's file calls, each whole or failed.
  bool ReadCells(uint64_t offset, uint8_t* out, size_t length) const;
  bool WriteCells(uint64_t offset, const uint8_t* data, size_t length);
  bool FillErased(uint64_t from, uint64_t to);
  int m_hFile = -1;
  uint32_t m_nSize = 0;
  std::vector<uint32_t> m_badCells;
};
