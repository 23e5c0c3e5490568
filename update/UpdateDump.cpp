// Dump-receive mode: the flash data the chip streams after the dump command,
// written to the dump file with the host's 'X' after every 4096 bytes; a
// lone 'Y' in place of the data; data that comes too slowly to be the
// chip's; and what is left on disk when a dump is cut short.
#include <algorithm>

#include "core/Messages.h"
#include "update/Protocol.h"
#include "update/UpdateEngine.h"
#include "UpdateText.h"

namespace {
constexpr int64_t kTickBytes = FLASH_SECTOR_SIZE;  // bytes per dump acknowledge

// A dumping chip sends a block at the line's speed (its setting, or the
// slower rate measured from the loader), without pause. Byte k of a block
// may come this many times its wire time after the host's request for the
// block, plus a margin for adapter latency (16 ms), a network serial
// server's jitter and a busy host, before the bytes are taken for someone
// else's: a chip reset mid-dump sends its boot loader's requests, one 'X'
// every 1-50 ms, far slower than the line.
constexpr uint64_t kDumpSlowdown = 4;
constexpr uint64_t kDumpMarginMs = 2000;

// After the closing 'X' a healthy flash loader says nothing more; a chip
// reset during the dump repeats its request every 1-50 ms, which comes
// within this window even behind a USB adapter's 16 ms. A chip that goes
// back to its boot loader on its own after an act waits longer than this.
constexpr uint64_t kDumpQuietMs = 100;

}  // namespace

size_t CUpdateEngine::TakeDumpBytes(const uint8_t* data, size_t length) {
  if (m_bDumpNakPending) {
    if (!ReleaseDumpNak()) return 0;
    // A one-byte range is complete with the 'Y': the rest is for the state machine.
    if (m_bDumpDone) return 0;
  } else if (!m_bDumpOpen && m_nDumpCount == 0 && length == 1 && data[0] == BYTE_NAK) {
    HoldDumpNak();
    return 1;
  }
  if (DumpBlockLate(length)) return 0;
  return ReceiveDump(data, length);
}

void CUpdateEngine::HoldDumpNak() {
  // A chip that refuses the dump command says 'Y' and waits; one whose
  // flash starts with 0x59 goes on sending at once.
  m_bDumpNakPending = true;
  PostTimer(ID_TIMER_ACK, TIMER_ACK_PERIOD_MS);
}

bool CUpdateEngine::ReleaseDumpNak() {
  m_bDumpNakPending = false;
  PostTimer(ID_TIMER_ACK, 0);
  if (DumpBlockLate(1)) return false;
  const uint8_t first = BYTE_NAK;
  ReceiveDump(&first, 1);
  return m_nStage != STAGE_IDLE;
}

void CUpdateEngine::TellBytesOwed() {
  // Once the first byte has come (no lone 'Y' pending), the chip sends the
  // rest of its block unasked; at a boundary our 'X' has asked for the next.
  size_t owed = 0;
  if (m_nStage == STAGE_DUMP && m_bDumpOpen && !m_bDumpDone && !m_bDumpNakPending) {
    const int64_t toBoundary = kTickBytes - m_nDumpCount % kTickBytes;
    owed = static_cast<size_t>(std::max<int64_t>(0, std::min(toBoundary, m_settings.m_nLength - m_nDumpCount)));
  }
  if (owed == m_nBytesOwedTold) return;
  m_nBytesOwedTold = owed;
  m_deps.port.ExpectStream(owed);
}

void CUpdateEngine::StartDumpBlock() {
  m_nDumpBlockStartMs = m_deps.clock.NowMs();
  m_nDumpBlockFirst = m_nDumpCount;
}

bool CUpdateEngine::DumpBlockLate(size_t arriving) {
  // Byte k of the block is due by its start + k wire times (slowed down)
  // + the margin: the bytes of this read are all in by now.
  const int64_t intoBlock = m_nDumpCount - m_nDumpBlockFirst;
  const int64_t toBoundary = kTickBytes - m_nDumpCount % kTickBytes;
  const int64_t k = intoBlock + std::min<int64_t>(static_cast<int64_t>(arriving), toBoundary);
  const uint64_t due = m_nDumpBlockStartMs + kDumpSlowdown * LineMsFor(k) + kDumpMarginMs;
  if (m_deps.clock.NowMs() <= due) return false;
  Log(FormatText("\ndump data stopped at byte %lld of %lld.", static_cast<long long>(m_nDumpCount),
                 static_cast<long long>(m_settings.m_nLength)));
  EndUpdate(UpdateOutcome::ActCutShort);
  return true;
}

void CUpdateEngine::SettleDumpEnd() {
  const uint64_t since = m_deps.clock.NowMs() - m_nDumpClosedAtMs;
  // Bytes (or a stop) came: they are judged when they are read.
  if (since < kDumpQuietMs && m_deps.port.InputWithin(static_cast<uint32_t>(kDumpQuietMs - since))) return;
  m_bDumpClosing = false;
  Log("\ndump ok.");
  CompleteAct();
}

void CUpdateEngine::DumpEndNotQuiet() {
  m_bDumpClosing = false;
  Log(FormatText("\nthe chip spoke again after the dump's last byte: it was reset or never dumped; %s "
                 "is not a dump to trust.",
                 m_strDumpOpenPath.c_str()));
  EndUpdate(UpdateOutcome::ActCutShort);
}

size_t CUpdateEngine::ReceiveDump(const uint8_t* data, size_t length) {
  if (!m_bDumpOpen) {
    m_strDumpOpenPath = m_settings.m_strDumpFile;
    std::string error;
    m_fileDump = m_deps.files.CreateDump(m_strDumpOpenPath, error);
    if (!m_fileDump) {
      FailFile("\ncan't create dump file " + m_strDumpOpenPath + ": " + error);
      return 1;
    }
    m_bDumpOpen = true;
    m_nDumpCount = 0;
  }

  // Everything up to the next acknowledge point or the end of the range is
  // written in one go; the chip sends no more than that before our 'X'.
  const int64_t total = m_settings.m_nLength;
  const int64_t toBoundary = kTickBytes - m_nDumpCount % kTickBytes;
  const size_t n = static_cast<size_t>(std::min<int64_t>({static_cast<int64_t>(length), toBoundary,
                                                          total - m_nDumpCount}));
  std::string error;
  if (!m_fileDump->Write(data, n, error)) {
    std::string ignored;
    CloseDump(ignored);
    ReportDumpCutShort(error);
    EndUpdate(UpdateOutcome::FileError);
    return n;
  }
  m_nDumpCount += static_cast<int64_t>(n);

  if (m_nDumpCount == total) {
    m_bDumpDone = true;
    if (!CloseDump(error)) {
      ReportDumpCutShort(error);
      EndUpdate(UpdateOutcome::FileError);
      return n;
    }
  }
  ProgressMade();
  if (m_nDumpCount % kTickBytes == 0) {
    Console('d');
    PostProgress(m_nDumpCount, total);
    if (m_nDumpCount < total && StopsBefore("the next dump block")) return n;
    WriteByte(BYTE_ACK);
    StartDumpBlock();
  }
  return n;
}

bool CUpdateEngine::CloseDump(std::string& error) {
  bool ok = true;
  if (m_fileDump) {
    ok = m_fileDump->Close(error);
    m_fileDump.reset();
  }
  m_bDumpOpen = false;
  return ok;
}

void CUpdateEngine::ReportDumpCutShort(const std::string& error) {
  int64_t held = m_nDumpCount;
  if (!error.empty()) {
    Log("\ncan't write dump file " + m_strDumpOpenPath + ": " + error);
    // Part of what was accepted may not have reached the disk: say what is there.
    uint64_t size = 0;
    std::string ignored;
    if (m_deps.files.FileSize(m_strDumpOpenPath, size, ignored)) held = static_cast<int64_t>(size);
  }
  Log(FormatText("\ndump cut short: %s holds %lld of %lld bytes.", m_strDumpOpenPath.c_str(),
                 static_cast<long long>(held), static_cast<long long>(m_settings.m_nLength)));
}

void CUpdateEngine::CloseDumpCutShort() {
  std::string error;
  CloseDump(error);
  ReportDumpCutShort(error);
}
