// The simulated chip's sessions, the bytes it takes (with the receive faults)
// and those it sends (with the send faults). Its timed behaviour is in
// ChipTiming.cpp, its two loaders in ChipLoaders.cpp.
#include "sim/ChipCore.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>

#include "core/UpdateSettings.h"
#include "update/Frame.h"
#include "update/Protocol.h"

namespace {

constexpr int64_t kUsPerMs = 1000;

std::string VFormat(const char* format, va_list args) {
  char text[400];
  std::vsnprintf(text, sizeof text, format, args);
  return text;
}

}  // namespace

CChipCore::CChipCore(const SimOptions& options, const SimImages& images, CFlashStore& flash, CSimLog& log)
    : m_opt(options), m_images(images), m_flash(flash), m_log(log), m_rng(options.m_nSeed) {
  std::copy(std::begin(options.m_nNak), std::end(options.m_nNak), m_nNak);
  std::copy(std::begin(options.m_nSilent), std::end(options.m_nSilent), m_nSilent);
}

// ---------------------------------------------------------------- sessions

void CChipCore::Start(int64_t nowUs) {
  m_nNowUs = nowUs;
  BeginSession(nowUs);
  Advance(nowUs);
}

void CChipCore::BeginSession(int64_t nowUs) {
  ++m_nSession;
  m_state = State::WaitSync;
  m_expect = Expect::Control;
  m_byBlock.clear();
  m_byFrame.clear();
  m_byImage.clear();
  m_bDiscarding = false;
  m_bLoaderBad = false;
  m_bAwaitDumpAck = false;
  m_nStray = 0;
  m_nSessionActs = 0;
  m_bSessionFaults = false;
  m_nRequestsSent = 0;
  m_nLastRxUs = m_nLastTxUs = nowUs;
  m_nNextRequestUs = nowUs + m_opt.m_nRequestDelayMs * kUsPerMs;
  m_nNextChatterUs = nowUs + m_opt.m_nChatterMs * kUsPerMs;
  Log("session %d: chip out of reset", m_nSession);
  if (m_opt.m_bConsole) EmitText("\r\ntq boot rom 1.22\r\nram test ok\r\nwaiting for host...\r\n");
}

void CChipCore::EndSession(const char* reason) {
  FlushStray();
  ++m_nSessionsEnded;
  Log("session %d ended: %s; %d act(s) done", m_nSession, reason, m_nSessionActs);
  if (m_opt.m_nSessions > 0 && m_nSessionsEnded >= m_opt.m_nSessions) {
    Log("session limit reached");
    m_state = State::Finished;
    return;
  }
  BeginSession(m_nNowUs);
}

void CChipCore::Reset(int64_t nowUs) {
  m_nNowUs = nowUs;
  if (m_state == State::Finished) return;
  EndSession("reset");
  Advance(nowUs);
}

void CChipCore::Vanish(const char* what) {
  m_out.push_back(SimTx{0, {}, true});
  m_bVanished = true;
  ++m_nSessionsEnded;
  Log("vanishing %s (fault)", what);
  m_state = State::Finished;
}

void CChipCore::ActDone() {
  ++m_nActs;
  ++m_nSessionActs;
  m_state = State::Frames;
  m_expect = Expect::Control;
}

// ---------------------------------------------------------------- input

void CChipCore::Feed(const uint8_t* data, size_t length, int64_t nowUs) {
  m_nNowUs = nowUs;
  m_nLastRxUs = nowUs;
  for (size_t i = 0; i < length && m_state != State::Finished; ++i) {
    uint8_t byte = data[i];
    if (Chance(m_opt.m_fDropRx)) {
      m_bSessionFaults = true;
      if (m_log.Verbose()) Log("received byte 0x%02x dropped (fault)", byte);
      continue;
    }
    if (Chance(m_opt.m_fCorruptRx)) {
      m_bSessionFaults = true;
      const uint8_t bad = static_cast<uint8_t>(byte ^ (1u << (m_rng() % 8)));
      if (m_log.Verbose()) Log("received byte 0x%02x corrupted to 0x%02x (fault)", byte, bad);
      byte = bad;
    }
    HandleByte(byte);
  }
}

void CChipCore::HandleByte(uint8_t byte) {
  switch (m_state) {
    case State::WaitSync:
      if (byte == BYTE_UPDATE_REPLY) {
        Log("0x18 received: taking the boot block");
        m_state = State::BootBlock;
        m_byBlock.clear();
      } else if (m_log.Verbose()) {
        Log("byte 0x%02x ignored while waiting for 0x18", byte);
      }
      break;
    case State::BootBlock:
      m_byBlock.push_back(byte);
      if (m_byBlock.size() == BOOT_BLOCK_SIZE) FinishBootBlock();
      break;
    case State::Settings:
      m_byBlock.push_back(byte);
      if (m_byBlock.size() == CHIP_SETTINGS_SIZE) FinishSettings();
      break;
    case State::LoaderLength:
      m_byBlock.push_back(byte);
      if (m_byBlock.size() == LOADER_LENGTH_SIZE) FinishLength();
      break;
    case State::LoaderBody:
      if (m_bLoaderBad) {
        m_bDiscarding = true;
        break;
      }
      m_byBlock.push_back(byte);
      if (m_byBlock.size() == m_nLoaderLength) FinishLoader();
      break;
    case State::Frames:
      FrameByte(byte);
      break;
    case State::Dumping:
      DumpByte(byte);
      break;
    case State::Dead:
    case State::Hung:
    case State::Finished:
      break;
  }
}

bool CChipCore::Intercept(SimStage stage) {
  const size_t i = static_cast<size_t>(stage);
  // Settings and length get no answer, so ignoring one only derails the
  // download; any silence there hangs the chip.
  const bool hangOnly = stage == SimStage::Settings || stage == SimStage::Length;
  if (m_nSilent[i] < 0 || (hangOnly && m_nSilent[i] > 0)) {
    Log("%s: the chip goes silent (fault)", SimStageName(stage));
    m_state = State::Hung;
    return true;
  }
  if (m_nSilent[i] > 0) {
    --m_nSilent[i];
    Log("%s: ignored without an answer (fault, %d more)", SimStageName(stage), m_nSilent[i]);
    return true;
  }
  if (m_nNak[i] > 0) {
    --m_nNak[i];
    Log("%s: answered 'Y' (fault, %d more)", SimStageName(stage), m_nNak[i]);
    Emit(BYTE_NAK);
    return true;
  }
  return false;
}

// ---------------------------------------------------------------- output

bool CChipCore::Chance(double probability) {
  if (probability <= 0.0) return false;
  return static_cast<double>(m_rng() >> 11) * 0x1.0p-53 < probability;
}

void CChipCore::Emit(const uint8_t* data, size_t length) {
  if (m_out.empty() || m_out.back().m_bVanish) m_out.emplace_back();
  std::vector<uint8_t>& out = m_out.back().m_byData;
  for (size_t i = 0; i < length; ++i) {
    uint8_t byte = data[i];
    if (Chance(m_opt.m_fDropTx)) {
      m_bSessionFaults = true;
      continue;
    }
    if (Chance(m_opt.m_fCorruptTx)) {
      m_bSessionFaults = true;
      byte = static_cast<uint8_t>(byte ^ (1u << (m_rng() % 8)));
    }
    out.push_back(byte);
  }
  m_nLastTxUs = std::max(m_nLastTxUs, m_nNowUs);
}

void CChipCore::EmitPause(int64_t us) {
  if (us > 0) m_out.push_back(SimTx{us, {}, false});
}

void CChipCore::EmitText(const std::string& text) {
  // The host takes these four letters as protocol bytes wherever they come.
  std::string safe = text;
  for (char& c : safe)
    if (c == BYTE_ERASE_TICK || c == BYTE_PROGRAM_TICK || c == BYTE_ACK || c == BYTE_NAK) c = static_cast<char>(c + ('a' - 'A'));
  Emit(reinterpret_cast<const uint8_t*>(safe.data()), safe.size());
}

SimTx CChipCore::TakeOutput() {
  SimTx tx = std::move(m_out.front());
  m_out.pop_front();
  return tx;
}

std::vector<uint8_t> CChipCore::TakeBytes() {
  std::vector<uint8_t> bytes;
  for (const SimTx& tx : m_out) bytes.insert(bytes.end(), tx.m_byData.begin(), tx.m_byData.end());
  m_out.clear();
  return bytes;
}

// ---------------------------------------------------------------- log

void CChipCore::Log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = VFormat(format, args);
  va_end(args);
  m_log.Line(m_nNowUs, "%s", text.c_str());
}

void CChipCore::Ack(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = VFormat(format, args);
  va_end(args);
  m_log.Line(m_nNowUs, "%s -> 'X'", text.c_str());
  Emit(BYTE_ACK);
}

void CChipCore::Fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = VFormat(format, args);
  va_end(args);
  if (m_bSessionFaults) {
    m_log.Line(m_nNowUs, "check failed (line faults were played this session): %s", text.c_str());
  } else {
    ++m_nChecksFailed;
    m_log.Line(m_nNowUs, "CHECK FAILED: %s", text.c_str());
  }
}

void CChipCore::Reject(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = VFormat(format, args);
  va_end(args);
  Fail("%s -> 'Y'", text.c_str());
  Emit(BYTE_NAK);
}
