#include "prod/DumpCheck.h"

#include "core/UpdateSettings.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

std::string DumpCheckLine(const DumpCheckReport& report, int maxReads) {
  char line[160];
  if (report.unreadable) return "verify failed: the reads could not be compared.";
  if (!report.settled) {
    std::snprintf(line, sizeof line, "verify failed: the block at offset 0x%llx read differently %d times.",
                  static_cast<unsigned long long>(report.unsettledOffset), maxReads);
    return line;
  }
  if (report.blocksReadAgain == 0) return "verify ok.";
  std::snprintf(line, sizeof line, "verify ok: %llu blocks read again, %llu corrected.",
                static_cast<unsigned long long>(report.blocksReadAgain),
                static_cast<unsigned long long>(report.blocksCorrected));
  return line;
}

CDumpReadCheck::CDumpReadCheck(CBoardFileAccess& files, std::string part, std::string readBackName, int32_t base,
                               int32_t length, int64_t firstFrom)
    : m_files(files), m_part(std::move(part)), m_readBackName(std::move(readBackName)), m_base(base),
      m_length(std::max<int32_t>(length, 0)), m_firstFrom(std::clamp<int64_t>(firstFrom, 0, m_length)) {}

int32_t CDumpReadCheck::TotalNum() {
  const int64_t total = 2 + BlockCount() * (kMaxReads - 2);
  return static_cast<int32_t>(std::min<int64_t>(total, INT32_MAX));
}

BatchEntry CDumpReadCheck::Entry(int32_t index) {
  Prepare(index);
  return m_entry;
}

bool CDumpReadCheck::HasEntry(int32_t index) {
  Prepare(index);
  return m_entry.length > 0;
}

void CDumpReadCheck::Prepare(int32_t index) {
  // A refused control info asks for the same entry again: it stays as it is.
  if (index == m_current) return;
  if (m_current >= 1 && !m_currentTaken) TakeRead(m_entry);
  m_current = index;
  m_currentTaken = false;
  if (index == 0) {
    const uint32_t from = static_cast<uint32_t>(m_base) + static_cast<uint32_t>(m_firstFrom);
    m_entry = BatchEntry{ACT_DUMP, static_cast<int32_t>(from), static_cast<int32_t>(m_length - m_firstFrom), m_part};
    return;
  }
  if (index == 1) {
    m_entry = BatchEntry{ACT_DUMP, m_base, static_cast<int32_t>(m_length), m_readBackName};
    return;
  }
  m_entry = NextReRead();
}

int64_t CDumpReadCheck::BlockLength(int64_t block) const {
  return std::min<int64_t>(kBlock, m_length - block * kBlock);
}

void CDumpReadCheck::TakeRead(const BatchEntry& entry) {
  m_currentTaken = true;
  if (entry.length <= 0) return;
  const std::vector<uint8_t> bytes = m_files.ReadBack();
  if (bytes.size() != static_cast<size_t>(entry.length)) {
    m_report.unreadable = true;
    return;
  }
  if (m_current == 1) {
    CompareFullReads(bytes);
    return;
  }
  // Addresses are 32 bits: the offset is taken modulo 2^32 like the chip's.
  const uint32_t offset = static_cast<uint32_t>(entry.base) - static_cast<uint32_t>(m_base);
  const int64_t first = static_cast<int64_t>(offset) / kBlock;
  for (int64_t at = 0; at < entry.length; at += kBlock) {
    const int64_t block = first + at / kBlock;
    if (m_unsettled.count(block) == 0) continue;
    const auto from = bytes.begin() + at;
    AddRead(block, std::vector<uint8_t>(from, from + BlockLength(block)));
  }
}

void CDumpReadCheck::CompareFullReads(const std::vector<uint8_t>& second) {
  std::vector<uint8_t> held(static_cast<size_t>(kBlock));
  for (int64_t block = 0; block < BlockCount(); ++block) {
    const size_t n = static_cast<size_t>(BlockLength(block));
    const auto from = second.begin() + block * kBlock;
    size_t got = 0;
    std::string why;
    if (!m_files.ReadAt(m_part, static_cast<uint64_t>(block * kBlock), held.data(), n, got, why) || got != n) {
      m_report.unreadable = true;
      return;
    }
    if (std::equal(from, from + static_cast<std::ptrdiff_t>(n), held.begin())) continue;
    ++m_report.blocksReadAgain;
    m_unsettled[block].reads = {std::vector<uint8_t>(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(n)),
                                std::vector<uint8_t>(from, from + static_cast<std::ptrdiff_t>(n))};
  }
}

void CDumpReadCheck::AddRead(int64_t block, std::vector<uint8_t> bytes) {
  Unsettled& u = m_unsettled[block];
  if (std::find(u.reads.begin(), u.reads.end(), bytes) == u.reads.end()) {
    u.reads.push_back(std::move(bytes));
    return;
  }
  // Two reads agree: that is the block. The file keeps its first read unless it was the wrong one.
  if (bytes != u.reads.front()) m_corrections[block] = std::move(bytes);
  m_unsettled.erase(block);
}

BatchEntry CDumpReadCheck::NextReRead() const {
  if (m_report.unreadable || m_unsettled.empty()) return BatchEntry{};
  for (const auto& [block, u] : m_unsettled)
    if (u.reads.size() >= static_cast<size_t>(kMaxReads)) return BatchEntry{};
  const int64_t first = m_unsettled.begin()->first;
  int64_t last = first;
  for (const auto& [block, u] : m_unsettled)
    if (block < first + kSpanBlocks) last = block;
  const uint32_t base = static_cast<uint32_t>(m_base) + static_cast<uint32_t>(first * kBlock);
  const int64_t length = (last - first) * kBlock + BlockLength(last);
  return BatchEntry{ACT_DUMP, static_cast<int32_t>(base), static_cast<int32_t>(length), m_readBackName};
}

DumpCheckReport CDumpReadCheck::Finish(std::string& error) {
  if (m_current >= 1 && !m_currentTaken) TakeRead(m_entry);
  if (m_report.unreadable) {
    error = "a read came back short or " + m_part + " could not be read";
    return m_report;
  }
  if (!m_unsettled.empty()) {
    m_report.unsettledOffset = static_cast<uint64_t>(m_unsettled.begin()->first * kBlock);
    return m_report;
  }
  std::fstream file(m_part, std::ios::in | std::ios::out | std::ios::binary);
  for (const auto& [block, bytes] : m_corrections) {
    file.seekp(block * kBlock);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  file.flush();
  if (!file) {
    m_report.unreadable = true;
    error = "cannot write the corrected blocks into " + m_part;
    return m_report;
  }
  m_report.blocksCorrected = m_corrections.size();
  m_report.settled = true;
  return m_report;
}

VerifyResult SettleDumpCheck(CDumpReadCheck& check, IBoardSink& out) {
  std::string why;
  const DumpCheckReport report = check.Finish(why);
  out.LogLine(DumpCheckLine(report, CDumpReadCheck::kMaxReads));
  if (report.unreadable) {
    out.Message("verify: " + why);
    return VerifyResult::ImageUnreadable;
  }
  return report.settled ? VerifyResult::Same : VerifyResult::Unsettled;
}
