// `dump --verify`: the range is read a second time, into memory, and
// compared block by block with the first read, which is in FILE.part. A
// block whose two reads differ is read again (with the other unsettled
// blocks near it, in one request) until two of its reads agree; the agreed
// bytes then stand in FILE.part. A block read kMaxReads times without two
// reads agreeing ends the run as failed: the line is too bad to trust.
//
// The reads run as a batch that learns as it goes: the entries after the
// second read are chosen from what the reads before them brought.
#pragma once

#include "prod/BoardFiles.h"
#include "prod/BoardSink.h"
#include "prod/BoardStatus.h"
#include "core/Batch.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct DumpCheckReport {
  bool settled = false;           // every block has two reads that agree
  bool unreadable = false;        // a read came back short or FILE.part could not be read
  uint64_t unsettledOffset = 0;   // without `settled`: the first block that never agreed
  uint64_t blocksReadAgain = 0;   // blocks the two full reads disagreed on
  uint64_t blocksCorrected = 0;   // blocks whose first read was wrong and is replaced
};

// The log line of the check: "verify ok." when the two reads agreed, else
// how many blocks were read again and corrected, or which one never settled.
std::string DumpCheckLine(const DumpCheckReport& report, int maxReads);

class CDumpReadCheck : public IBatchSource {
public:
  static constexpr int kMaxReads = 6;            // reads of one block, the first two included
  static constexpr int64_t kBlock = 4096;
  static constexpr int64_t kSpanBlocks = 16;     // a re-read covers at most this many blocks

  // `readBackName`: the name of the dumps that go into `files`' memory.
  // `firstFrom`: the first read goes into FILE.part from this offset on
  // (a resumed dump); the second covers the whole range.
  CDumpReadCheck(CBoardFileAccess& files, std::string part, std::string readBackName, int32_t base, int32_t length,
                 int64_t firstFrom = 0);

  // An upper bound: every entry after the second reads at least one block
  // that has not reached kMaxReads.
  int32_t TotalNum() override;
  BatchEntry Entry(int32_t index) override;
  bool HasEntry(int32_t index) override;

  // Once the worker has ended after a completed run: takes in the last read
  // and writes the agreed bytes of corrected blocks into FILE.part.
  DumpCheckReport Finish(std::string& error);

private:
  struct Unsettled {
    std::vector<std::vector<uint8_t>> reads;  // reads[0] is the one in FILE.part
  };
  // Makes entry `index` current, taking in the read of the one before.
  void Prepare(int32_t index);
  void TakeRead(const BatchEntry& entry);
  void CompareFullReads(const std::vector<uint8_t>& second);
  void AddRead(int64_t block, std::vector<uint8_t> bytes);
  BatchEntry NextReRead() const;
  int64_t BlockCount() const { return (m_length + kBlock - 1) / kBlock; }
  int64_t BlockLength(int64_t block) const;

  CBoardFileAccess& m_files;
  const std::string m_part;
  const std::string m_readBackName;
  const int32_t m_base;
  const int64_t m_length;
  const int64_t m_firstFrom;
  int32_t m_current = -1;  // the entry last prepared
  bool m_currentTaken = false;  // its read has been taken in
  BatchEntry m_entry;
  std::map<int64_t, Unsettled> m_unsettled;
  std::map<int64_t, std::vector<uint8_t>> m_corrections;  // agreed bytes that differ from FILE.part
  DumpCheckReport m_report;
};

// Once a completed run's worker has ended: settles the check, logs its line
// and says what it found as a verify result.
VerifyResult SettleDumpCheck(CDumpReadCheck& check, IBoardSink& out);
