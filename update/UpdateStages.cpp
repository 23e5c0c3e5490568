// The send step of every stage: the raw download blocks (boot image, chip
// settings, flash loader), the frames of the operation stage (control info,
// application image, erase, program, dump) and the completion step.
#include <algorithm>
#include <limits>
#include <vector>

#include "core/Messages.h"
#include "update/Frame.h"
#include "update/Protocol.h"
#include "update/UpdateEngine.h"
#include "UpdateText.h"

namespace {
constexpr size_t kPieceSize = 4096;  // loader pieces and image chunks

// The pause after writing n bytes of loader data or of a frame.
uint32_t PauseAfter(size_t n) { return static_cast<uint32_t>(n / 11 + 1); }

void PutBigEndian32(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value >> 24);
  out[1] = static_cast<uint8_t>(value >> 16);
  out[2] = static_cast<uint8_t>(value >> 8);
  out[3] = static_cast<uint8_t>(value);
}

unsigned long long Ull(uint64_t v) { return static_cast<unsigned long long>(v); }
}  // namespace

void CUpdateEngine::SendStageBlock() {
  switch (m_nStage) {
    case STAGE_BOOT_IMAGE:
      SendBootImage();
      break;
    case STAGE_CHIP_SETTINGS:
      SendChipSettings();
      break;
    case STAGE_LOADER_LENGTH:
      SendLoaderLength();
      break;
    case STAGE_LOADER_BODY:
      SendLoaderBody();
      break;
    case STAGE_CONTROL_INFO:
      SettleAct();
      BuildAndSendControlInfo();
      break;
    case STAGE_APP_IMAGE:
      SendAppChunk();
      break;
    case STAGE_ERASE:
      SendEraseCommand();
      break;
    case STAGE_PROGRAM:
      SendProgramCommand();
      break;
    case STAGE_DUMP:
      SendDumpCommand();
      break;
    default:  // idle, waiting for the request: nothing to send
      break;
  }
}

bool CUpdateEngine::SendFrame(uint8_t type, const uint8_t* payload, size_t length) {
  const std::vector<uint8_t> frame = BuildFrame(type, payload, length);
  WriteBytes(frame.data(), frame.size());
  return Pause(PauseAfter(frame.size()));
}

// ---------------------------------------------------------------- download stages

void CUpdateEngine::SendBootImage() {
  const std::string path = BootPath();
  uint64_t size = 0;
  std::string error;
  if (!m_deps.files.FileSize(path, size, error)) {
    FailFile("\ncan't open boot file " + path + ": " + error);
    return;
  }
  // An empty image would go out as 2048 bytes of fill: nothing the chip can run.
  if (size == 0) {
    FailFile("\nboot file " + path + " is empty.");
    return;
  }
  // The block has room for 2048 bytes; a longer image would reach the chip cut.
  if (size > BOOT_BLOCK_SIZE) {
    FailFile(FormatText("\nboot file %s is %llu bytes, more than %zu.", path.c_str(), Ull(size), BOOT_BLOCK_SIZE));
    return;
  }
  std::vector<uint8_t> block(BOOT_BLOCK_SIZE, BOOT_BLOCK_FILL);
  size_t got = 0;
  if (!m_deps.files.ReadAt(path, 0, block.data(), static_cast<size_t>(size), got, error)) {
    FailFile("\ncan't read boot file " + path + ": " + error);
    return;
  }
  if (got != size) {
    FailFile(FormatText("\ncan't read boot file %s: it ended after %zu of %llu bytes.", path.c_str(), got,
                        Ull(size)));
    return;
  }
  WriteBytes(block.data(), block.size());
}

void CUpdateEngine::SendChipSettings() {
  const UpdateSettings& s = m_settings;
  const uint8_t block[CHIP_SETTINGS_SIZE] = {
      static_cast<uint8_t>(s.m_nChipParam0), static_cast<uint8_t>(s.m_nChipModel),
      static_cast<uint8_t>(s.m_nRamParam0),  static_cast<uint8_t>(s.m_nRamParam1),
      static_cast<uint8_t>(s.m_nSdramSize),  static_cast<uint8_t>(s.m_nXtal),
      static_cast<uint8_t>(s.m_nFlashType),  static_cast<uint8_t>(s.m_nRamType),
      static_cast<uint8_t>(s.m_nChipParam2), static_cast<uint8_t>(s.m_nRamParam2),
  };
  WriteBytes(block, sizeof block);
  m_nStage = STAGE_LOADER_LENGTH;
  Log("\nSend flash file lenth.");
}

bool CUpdateEngine::LoaderSize(uint64_t& size) {
  std::string error;
  if (m_deps.files.FileSize(LoaderPath(), size, error)) return true;
  FailFile("\ncan't open flash file " + LoaderPath() + ": " + error);
  return false;
}

void CUpdateEngine::SendLoaderLength() {
  const std::string path = LoaderPath();
  uint64_t size = 0;
  if (!LoaderSize(size)) return;
  if (size == 0) {
    FailFile("\nflash file " + path + " is empty.");
    return;
  }
  if (size > std::numeric_limits<uint32_t>::max()) {
    FailFile(FormatText("\nflash file %s is %llu bytes, too long for its 32-bit length.", path.c_str(), Ull(size)));
    return;
  }
  m_nLoaderSize = size;
  uint8_t block[LOADER_LENGTH_SIZE];
  PutBigEndian32(block, static_cast<uint32_t>(size));
  WriteBytes(block, sizeof block);
  m_nStage = STAGE_LOADER_BODY;
  Log("\nSend flash file code.");
}

void CUpdateEngine::SendLoaderBody() {
  const std::string path = LoaderPath();
  uint64_t size = 0;
  if (!LoaderSize(size)) return;
  // The chip expects exactly the length it was sent.
  if (size != m_nLoaderSize) {
    FailFile(FormatText("\nflash file %s changed size: %llu bytes announced, %llu now.", path.c_str(),
                        Ull(m_nLoaderSize), Ull(size)));
    return;
  }
  Log(FormatText("\nFlash File length = %llu.\n", Ull(size)));
  std::vector<uint8_t> piece(kPieceSize);
  std::string error;
  uint64_t offset = 0;
  StartLineTiming(static_cast<int64_t>(size));
  while (offset < size) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kPieceSize, size - offset));
    size_t got = 0;
    if (!m_deps.files.ReadAt(path, offset, piece.data(), want, got, error)) {
      FailFile("\ncan't read flash file " + path + ": " + error);
      return;
    }
    if (got == 0) {
      FailFile(FormatText("\ncan't read flash file %s: it ended after %llu of %llu bytes.", path.c_str(),
                          Ull(offset), Ull(size)));
      return;
    }
    offset += got;
    WriteBytes(piece.data(), got);
    // In pieces, so that a stop is seen while a long loader goes out.
    if (!Pause(PauseAfter(got))) return;
    Console('*');
  }
}

// ---------------------------------------------------------------- operation stage

void CUpdateEngine::SettleAct() {
  if (m_settings.m_nAct == ACT_BATCH) {
    const BatchEntry entry = m_deps.batch.Entry(m_settings.m_nBatchIndex);
    m_settings.m_nCurAct = entry.act;
    m_settings.m_nBase = entry.base;
    m_settings.m_nLength = entry.length;
    m_settings.m_strAppFile = entry.file;
    m_settings.m_strDumpFile = entry.file;
  } else {
    m_settings.m_nCurAct = m_settings.m_nAct;
  }
}

void CUpdateEngine::BuildAndSendControlInfo() {
  if (m_settings.m_nCurAct == ACT_PROGRAM) {
    const std::string& path = m_settings.m_strAppFile;
    uint64_t size = 0;
    std::string error;
    if (!m_deps.files.FileSize(path, size, error)) {
      Log("can't open file :");
      Log(FormatText("%s", path.c_str()));
      Log(error);
      EndUpdate(UpdateOutcome::FileError);
      return;
    }
    if (size > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
      FailFile(FormatText("\napp file %s is %llu bytes, too long to send.", path.c_str(), Ull(size)));
      return;
    }
    m_settings.m_nLength = static_cast<int32_t>(size);
    m_settings.m_nAppFileSize = static_cast<int64_t>(size);
  }
  uint8_t payload[12];
  payload[0] = static_cast<uint8_t>(m_settings.m_nCurAct);
  payload[1] = static_cast<uint8_t>(m_settings.m_nChipParam1);
  payload[2] = static_cast<uint8_t>(m_settings.m_nFlashType);
  payload[3] = static_cast<uint8_t>(m_settings.m_nFlashModel);
  PutBigEndian32(payload + 4, static_cast<uint32_t>(m_settings.m_nBase));
  PutBigEndian32(payload + 8, static_cast<uint32_t>(m_settings.m_nLength));
  SendFrame(FRAME_CONTROL_INFO, payload, sizeof payload);
}

void CUpdateEngine::SendAppChunk() {
  const std::string& path = m_settings.m_strAppFile;
  uint64_t size = 0;
  std::string error;
  if (!m_deps.files.FileSize(path, size, error)) {
    FailFile("\ncan't open app file " + path + ": " + error);
    return;
  }
  if (size == 0) {
    // Nothing to send; the acknowledge timer below ends the update in time.
    Log("\napp file error,lenth = 0\n");
  } else if (!SendAppPiece(path, size)) {
    return;  // the image failed; the update has ended
  }

  if (m_nAppState == 2) {
    Log("\napp file receive ok.");
    m_nStage = STAGE_ERASE;
    SendStageBlock();
  } else {
    ArmAckTimer();
  }
}

bool CUpdateEngine::SendAppPiece(const std::string& path, uint64_t size) {
  // The control info told the chip how long the image is; an image that
  // changed since would be programmed cut or overlong.
  if (size != static_cast<uint64_t>(static_cast<uint32_t>(m_settings.m_nLength))) {
    FailFile(FormatText("\napp file %s changed size: %lld bytes announced, %llu now.", path.c_str(),
                        static_cast<long long>(m_settings.m_nLength), Ull(size)));
    return false;
  }
  if (m_nAppState == 0) {
    m_nAppState = 1;
    m_nAppOffset = 0;
    m_nAppChunk = 0;
    Log(FormatText("\nAppFile length = %llu.\n", Ull(size)));
  }
  // Only an acknowledge moves on; after a 'Y' or a time-out the same
  // chunk goes out again.
  const bool fresh = m_nLastReply == 1;
  if (fresh) {
    m_nLastReply = 0;
    Console('*');
    m_nAppOffset += m_nAppChunk;
    PostProgress(m_nAppOffset, static_cast<int64_t>(size));
  }
  if (static_cast<uint64_t>(m_nAppOffset) >= size) {
    m_nAppState = 2;
    return true;
  }
  uint8_t chunk[kPieceSize];
  const size_t want = static_cast<size_t>(std::min<uint64_t>(kPieceSize, size - static_cast<uint64_t>(m_nAppOffset)));
  size_t got = 0;
  std::string error;
  if (!m_deps.files.ReadAt(path, static_cast<uint64_t>(m_nAppOffset), chunk, want, got, error)) {
    FailFile("\ncan't read app file " + path + ": " + error);
    return false;
  }
  if (got == 0) {
    FailFile(FormatText("\ncan't read app file %s: it ended after %lld of %llu bytes.", path.c_str(),
                        static_cast<long long>(m_nAppOffset), Ull(size)));
    return false;
  }
  m_nAppChunk = static_cast<int64_t>(got);
  // The acknowledge of a chunk sent again may answer either copy: only a
  // chunk sent once tells the line's rate.
  if (fresh) StartLineTiming(static_cast<int64_t>(got + FRAME_OVERHEAD));
  else m_nTimedBytes = 0;
  return SendFrame(FRAME_APP_DATA, chunk, got);
}

void CUpdateEngine::SendEraseCommand() {
  m_nEraseDone = 0;
  SendFrame(FRAME_ERASE, nullptr, 0);
}

void CUpdateEngine::SendProgramCommand() {
  m_nProgramDone = 0;
  SendFrame(FRAME_PROGRAM, nullptr, 0);
}

void CUpdateEngine::SendDumpCommand() {
  // The chip answers with the whole range again: the next bytes start a new dump.
  m_bDumpDone = false;
  m_nDumpCount = 0;
  SendFrame(FRAME_DUMP, nullptr, 0);
  StartDumpBlock();
}

void CUpdateEngine::CompleteAct() {
  const UpdateSettings& s = m_settings;
  if (s.m_nAct == ACT_BATCH && static_cast<int64_t>(s.m_nBatchIndex) < static_cast<int64_t>(s.m_nTotalNum) - 1 &&
      m_deps.batch.HasEntry(s.m_nBatchIndex + 1)) {
    if (StopsBefore("the next batch entry")) return;
    ++m_settings.m_nBatchIndex;
    m_nStage = STAGE_CONTROL_INFO;
    SendStageBlock();
    return;
  }
  Log("\ncompelete.");
  PostPercent(100);
  EndUpdate(UpdateOutcome::Completed);
}
