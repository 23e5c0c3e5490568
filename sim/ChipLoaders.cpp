// The simulated chip's two loaders: the boot loader's download blocks (boot
// image, chip settings, loader length and body) and the flash loader's
// framed commands (control info, application data, erase, program, dump).
#include "sim/ChipCore.h"

#include <algorithm>
#include <cstring>

#include "core/UpdateSettings.h"
#include "update/Frame.h"
#include "update/Protocol.h"

namespace {

constexpr int64_t kUsPerMs = 1000;
const char* ActName(uint8_t act) {
  switch (act) {
    case ACT_PROGRAM: return "program";
    case ACT_ERASE: return "erase";
    case ACT_DUMP: return "dump";
    default: return "unknown";
  }
}

const char* ExpectName(CChipCore::Expect expect) {
  switch (expect) {
    case CChipCore::Expect::Control: return "control info";
    case CChipCore::Expect::AppData: return "application data";
    case CChipCore::Expect::Erase: return "erase command";
    case CChipCore::Expect::Program: return "program command";
    case CChipCore::Expect::Dump: return "dump command";
  }
  return "?";
}

uint8_t FrameTypeFor(CChipCore::Expect expect) {
  switch (expect) {
    case CChipCore::Expect::Control: return FRAME_CONTROL_INFO;
    case CChipCore::Expect::AppData: return FRAME_APP_DATA;
    case CChipCore::Expect::Erase: return FRAME_ERASE;
    case CChipCore::Expect::Program: return FRAME_PROGRAM;
    case CChipCore::Expect::Dump: return FRAME_DUMP;
  }
  return 0;
}

uint32_t Be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

uint32_t SectorCount(uint32_t length) {
  return static_cast<uint32_t>((static_cast<uint64_t>(length) + FLASH_SECTOR_SIZE - 1) / FLASH_SECTOR_SIZE);
}
}  // namespace

// ---------------------------------------------------------------- boot loader

void CChipCore::FinishBootBlock() {
  if (m_images.m_bCheckBoot) {
    const std::vector<uint8_t>& boot = m_images.m_byBoot;
    for (size_t i = 0; i < BOOT_BLOCK_SIZE; ++i) {
      const uint8_t want = i < boot.size() ? boot[i] : BOOT_BLOCK_FILL;
      if (m_byBlock[i] != want) {
        Reject("boot block differs from the boot image at byte %zu (0x%02x, expected 0x%02x%s)", i, m_byBlock[i],
               want, i < boot.size() ? "" : ", the 0x55 fill");
        m_byBlock.clear();
        return;
      }
    }
  }
  m_byBlock.clear();
  if (Intercept(SimStage::Boot)) return;
  if (m_opt.m_bConsole) EmitText("\r\nboot code loaded\r\n");
  Ack("boot block: %zu bytes%s", BOOT_BLOCK_SIZE, m_images.m_bCheckBoot ? ", matches the boot image" : "");
  m_state = State::Settings;
}

void CChipCore::FinishSettings() {
  const std::vector<uint8_t>& s = m_byBlock;
  Log("chip settings: %02x %02x %02x %02x %02x %02x %02x %02x %02x %02x (chip model %u, ram type %u, ram size %u, "
      "xtal %u, flash type %u)",
      s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8], s[9], s[1], s[7], s[4], s[5], s[6]);
  if (!m_opt.m_byExpectSettings.empty() && m_opt.m_byExpectSettings != s) {
    const auto& e = m_opt.m_byExpectSettings;
    Fail("chip settings differ from %02x %02x %02x %02x %02x %02x %02x %02x %02x %02x", e[0], e[1], e[2], e[3], e[4],
         e[5], e[6], e[7], e[8], e[9]);
  }
  m_byBlock.clear();
  if (Intercept(SimStage::Settings)) return;
  m_state = State::LoaderLength;
}

void CChipCore::FinishLength() {
  const uint32_t length = Be32(m_byBlock.data());
  m_byBlock.clear();
  Log("loader length: %u bytes", length);
  m_bLoaderBad = false;
  if (length == 0 || length > m_opt.m_nMaxLoader) {
    Fail("loader length %u is out of range (1 to %zu)", length, m_opt.m_nMaxLoader);
    m_bLoaderBad = true;
  } else if (m_images.m_bCheckLoader && length != m_images.m_byLoader.size()) {
    Fail("loader length %u, but the flash loader has %zu bytes", length, m_images.m_byLoader.size());
    m_bLoaderBad = true;
  }
  if (Intercept(SimStage::Length)) return;
  m_nLoaderLength = length;
  if (!m_bLoaderBad) m_byBlock.reserve(length);
  m_state = State::LoaderBody;
}

void CChipCore::FinishLoader() {
  if (m_images.m_bCheckLoader) {
    const auto mismatch = std::mismatch(m_byBlock.begin(), m_byBlock.end(), m_images.m_byLoader.begin());
    if (mismatch.first != m_byBlock.end()) {
      const size_t at = static_cast<size_t>(mismatch.first - m_byBlock.begin());
      Reject("loader differs from the flash loader at byte %zu (0x%02x, expected 0x%02x)", at, *mismatch.first,
             *mismatch.second);
      m_byBlock.clear();
      return;
    }
  }
  m_byBlock.clear();
  if (Intercept(SimStage::Loader)) return;
  if (m_opt.m_bConsole) EmitText("\r\nflash loader 0.9 running\r\n");
  Ack("loader: %u bytes%s", m_nLoaderLength, m_images.m_bCheckLoader ? ", matches the flash loader" : "");
  m_state = State::Frames;
  m_expect = Expect::Control;
}

// ---------------------------------------------------------------- flash loader

void CChipCore::FlushStray() {
  if (m_nStray == 0) return;
  Log("%zu stray byte(s) between frames skipped", m_nStray);
  m_nStray = 0;
}

void CChipCore::FrameByte(uint8_t byte) {
  if (m_expect == Expect::AppData && m_opt.m_nVanishAfter >= 0 && m_opt.m_vanishStage == SimStage::Program &&
      ++m_nProgramBytes >= m_opt.m_nVanishAfter) {
    char what[64];
    std::snprintf(what, sizeof what, "after %lld bytes of application data",
                  static_cast<long long>(m_opt.m_nVanishAfter));
    Vanish(what);
    return;
  }
  if (m_bDiscarding) return;
  if (m_byFrame.empty()) {
    if (byte != FRAME_START) {
      ++m_nStray;
      return;
    }
    FlushStray();
  }
  m_byFrame.push_back(byte);
  if (m_byFrame.size() < 4) return;
  const size_t length = size_t{m_byFrame[2]} << 8 | m_byFrame[3];
  if (length > FRAME_MAX_PAYLOAD) {
    Fail("frame type %u announces %zu payload bytes, more than %zu", m_byFrame[1], length, FRAME_MAX_PAYLOAD);
    m_byFrame.clear();
    m_bDiscarding = true;  // answered 'Y' once the rest has passed
    return;
  }
  if (m_byFrame.size() == length + FRAME_OVERHEAD) FinishFrame();
}

void CChipCore::FinishFrame() {
  const std::vector<uint8_t> frame = std::move(m_byFrame);
  m_byFrame.clear();
  const uint8_t type = frame[1];
  const size_t length = frame.size() - FRAME_OVERHEAD;
  const uint8_t* payload = frame.data() + 4;
  const uint16_t sent = static_cast<uint16_t>(frame[4 + length] << 8 | frame[5 + length]);
  const uint16_t sum = FrameChecksum(payload, length);
  if (m_log.Verbose()) Log("frame type %u, %zu payload bytes, checksum 0x%04x", type, length, sent);
  if (sent != sum) {
    Reject("frame type %u: checksum 0x%04x, the payload gives 0x%04x", type, sent, sum);
    return;
  }
  if (type < FRAME_CONTROL_INFO || type > FRAME_DUMP) {
    Reject("unknown frame type %u", type);
    return;
  }
  if (type != FrameTypeFor(m_expect)) {
    Reject("frame type %u while waiting for the %s (type %u)", type, ExpectName(m_expect), FrameTypeFor(m_expect));
    return;
  }
  size_t minLength = 0, maxLength = 0;
  if (m_expect == Expect::Control) {
    minLength = maxLength = 12;
  } else if (m_expect == Expect::AppData) {
    minLength = 1;
    maxLength = std::min<size_t>(FRAME_MAX_PAYLOAD, m_ctl.length - m_byImage.size());
  }
  if (length < minLength || length > maxLength) {
    Reject("%s frame with %zu payload bytes (allowed %zu to %zu)", ExpectName(m_expect), length, minLength, maxLength);
    return;
  }
  switch (m_expect) {
    case Expect::Control: OnControl(payload); break;
    case Expect::AppData: OnAppData(payload, length); break;
    case Expect::Erase: OnErase(); break;
    case Expect::Program: OnProgram(); break;
    case Expect::Dump: OnDump(); break;
  }
}

void CChipCore::OnControl(const uint8_t* p) {
  Control ctl;
  ctl.act = p[0];
  ctl.base = Be32(p + 4);
  ctl.length = Be32(p + 8);
  Log("control info: act %u (%s), chip 0x%02x, flash type %u, flash model 0x%02x, base 0x%08x, length 0x%x (%u)",
      ctl.act, ActName(ctl.act), p[1], p[2], p[3], ctl.base, ctl.length, ctl.length);
  if (ctl.act <= ACT_DUMP && uint64_t{ctl.base} + ctl.length > m_flash.Size()) {
    Reject("range 0x%08x + 0x%x runs past the end of the %u-byte flash", ctl.base, ctl.length, m_flash.Size());
    return;
  }
  if (p[2] > 1) Log("note: flash type %u is neither 0 (parallel) nor 1 (serial)", p[2]);
  if (Intercept(SimStage::Control)) return;
  m_ctl = ctl;
  if (m_opt.m_bConsole) EmitText("\r\ncontrol info ok\r\n");
  switch (ctl.act) {
    case ACT_PROGRAM:
      m_byImage.clear();
      m_byImage.reserve(ctl.length);
      m_nProgramBytes = 0;
      m_expect = ctl.length > 0 ? Expect::AppData : Expect::Erase;
      break;
    case ACT_ERASE: m_expect = Expect::Erase; break;
    case ACT_DUMP: m_expect = Expect::Dump; break;
    default:
      Ack("control info: the loader knows no act %u, waiting for the next control info", ctl.act);
      return;
  }
  Ack("control info accepted, waiting for the %s", ExpectName(m_expect));
}

void CChipCore::OnAppData(const uint8_t* payload, size_t length) {
  if (Intercept(SimStage::Data)) return;
  m_byImage.insert(m_byImage.end(), payload, payload + length);
  Ack("application data: %zu bytes, %zu of %u", length, m_byImage.size(), m_ctl.length);
  if (m_byImage.size() == m_ctl.length) m_expect = Expect::Erase;
}

void CChipCore::OnErase() {
  if (Intercept(SimStage::Erase)) return;
  const uint32_t sectors = SectorCount(m_ctl.length);
  for (uint32_t i = 0; i < sectors; ++i) {
    const uint32_t address = m_ctl.base + i * static_cast<uint32_t>(FLASH_SECTOR_SIZE);
    const size_t n = std::min<size_t>(FLASH_SECTOR_SIZE, m_flash.Size() - address);
    if (!m_flash.Erase(address, n)) Log("error: the flash file could not be erased at 0x%08x", address);
    EmitPause(m_opt.m_nEraseDelayMs * kUsPerMs);
    Emit(BYTE_ERASE_TICK);
  }
  Log("erase: 0x%08x, %u sector(s), %u 'E'", m_ctl.base, sectors, sectors);
  if (m_opt.m_bConsole) EmitText("\r\nerase done\r\n");
  if (m_ctl.act == ACT_PROGRAM) {
    m_expect = Expect::Program;
    Ack("erase finished, waiting for the program command");
  } else {
    Ack("erase finished");
    ActDone();
  }
}

void CChipCore::OnProgram() {
  if (Intercept(SimStage::Program)) return;
  const uint32_t sectors = SectorCount(m_ctl.length);
  for (uint32_t i = 0; i < sectors; ++i) {
    const size_t offset = size_t{i} * FLASH_SECTOR_SIZE;
    const size_t n = std::min(FLASH_SECTOR_SIZE, m_byImage.size() - offset);
    const uint32_t address = m_ctl.base + static_cast<uint32_t>(offset);
    if (!m_flash.Program(address, m_byImage.data() + offset, n))
      Log("error: the flash file could not be programmed at 0x%08x", address);
    if (m_flash.HitsBadCell(address, n)) Log("program: a bad cell in 0x%08x..0x%08zx (fault)", address, address + n - 1);
    EmitPause(m_opt.m_nProgramDelayMs * kUsPerMs);
    Emit(BYTE_PROGRAM_TICK);
  }
  Log("program: 0x%08x, %u bytes, %u 'P'", m_ctl.base, m_ctl.length, sectors);
  if (m_opt.m_bConsole) EmitText("\r\nprogram done\r\n");
  Ack("program finished");
  ActDone();
}

void CChipCore::OnDump() {
  if (Intercept(SimStage::Dump)) return;
  Log("dump: 0x%08x, %u bytes", m_ctl.base, m_ctl.length);
  m_state = State::Dumping;
  m_nDumpPos = 0;
  SendDumpBlock();
}

void CChipCore::SendDumpBlock() {
  const size_t n = std::min<size_t>(FLASH_SECTOR_SIZE, m_ctl.length - m_nDumpPos);
  std::vector<uint8_t> data(n);
  if (n > 0 && !m_flash.Read(m_ctl.base + m_nDumpPos, data.data(), n))
    Log("error: the flash file could not be read at 0x%08x", m_ctl.base + m_nDumpPos);
  if (m_opt.m_nVanishAfter >= 0 && m_opt.m_vanishStage == SimStage::Dump &&
      m_nDumpPos + n >= static_cast<uint64_t>(m_opt.m_nVanishAfter) && n > 0) {
    Emit(data.data(), static_cast<size_t>(m_opt.m_nVanishAfter - m_nDumpPos));
    char what[64];
    std::snprintf(what, sizeof what, "after %lld dump bytes", static_cast<long long>(m_opt.m_nVanishAfter));
    Vanish(what);
    return;
  }
  const int64_t resetAt = m_bResetDone ? -1 : m_opt.m_nResetDumpAfter;
  if (resetAt >= 0 && m_nDumpPos + n >= static_cast<uint64_t>(resetAt) && n > 0) {
    m_bResetDone = true;
    Emit(data.data(), static_cast<size_t>(resetAt - m_nDumpPos));
    Log("reset after %lld dump bytes (fault)", static_cast<long long>(resetAt));
    Reset(m_nNowUs);
    return;
  }
  Emit(data.data(), n);
  m_nDumpPos += static_cast<uint32_t>(n);
  if (n == FLASH_SECTOR_SIZE) {
    m_bAwaitDumpAck = true;
    if (m_log.Verbose()) Log("dump: %u of %u bytes sent, waiting for 'X'", m_nDumpPos, m_ctl.length);
  } else {
    FinishDump();
  }
}

void CChipCore::DumpByte(uint8_t byte) {
  if (byte == BYTE_ACK && m_bAwaitDumpAck) {
    m_bAwaitDumpAck = false;
    if (m_nDumpPos == m_ctl.length)
      FinishDump();
    else
      SendDumpBlock();
    return;
  }
  if (byte == FRAME_START) {
    Fail("the host broke off the dump after %u of %u bytes with a new frame", m_nDumpPos, m_ctl.length);
    m_bAwaitDumpAck = false;
    m_state = State::Frames;
    m_expect = Expect::Dump;
    FrameByte(byte);
    return;
  }
  Log("byte 0x%02x ignored during the dump (only 'X' is expected)", byte);
}

void CChipCore::FinishDump() {
  if (m_opt.m_bConsole) EmitText("\r\ndump done\r\n");
  Ack("dump finished: %u bytes", m_ctl.length);
  ActDone();
}
