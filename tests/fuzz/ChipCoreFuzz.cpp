// The simulated chip's byte and frame parser taking anything a host might
// send: raw bytes, well-formed download blocks and frames with fuzzed fields,
// pauses, resets, under fuzzed fault settings. It must neither crash nor
// hand out time or output that makes no sense.
#include "sim/ChipCore.h"
#include "update/Protocol.h"
#include "tests/fuzz/FuzzSupport.h"
#include "update/Frame.h"

#include <string>
#include <vector>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kFlashSize = 1u << 16;

CFlashStore& Flash() {
  static CFlashStore* flash = [] {
    char name[] = "/tmp/tqfuzz-flash.XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0) std::abort();
    ::close(fd);
    auto* f = new CFlashStore;
    std::string error;
    if (!f->Open(name, kFlashSize, &error)) std::abort();
    ::unlink(name);  // the open file stays usable
    return f;
  }();
  return *flash;
}

void SetFaults(FuzzInput& in, SimOptions& opt) {
  const uint8_t flags = in.Byte();
  opt.m_nSeed = in.Byte();
  if (flags & 1) opt.m_nNak[in.Byte() % kSimStageCount] = in.Byte() % 12;
  if (flags & 2) opt.m_nSilent[in.Byte() % kSimStageCount] = static_cast<int8_t>(in.Byte()) % 3;
  if (flags & 4) opt.m_fCorruptRx = in.Byte() / 1024.0;
  if (flags & 8) opt.m_fDropRx = in.Byte() / 1024.0;
  if (flags & 16) opt.m_fCorruptTx = opt.m_fDropTx = in.Byte() / 1024.0;
  if (flags & 32) {
    opt.m_vanishStage = in.Bit() ? SimStage::Program : SimStage::Dump;
    opt.m_nVanishAfter = in.U16();
  }
  if (flags & 64) opt.m_badCells.push_back(in.U16());
  if (flags & 128) opt.m_byExpectSettings.assign(CHIP_SETTINGS_SIZE, 0);
  opt.m_nRepeatMs = in.Byte() % 4 * 50;
  opt.m_nSessions = in.Byte() % 4;
  opt.m_nMaxLoader = 1 + in.U16();
  opt.m_nFlashSize = kFlashSize;
}

// The download a host sends after the request, with a loader of n bytes.
Bytes Download(uint32_t loaderLength) {
  Bytes out{BYTE_UPDATE_REPLY};
  out.resize(1 + BOOT_BLOCK_SIZE + CHIP_SETTINGS_SIZE, 0x55);
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(loaderLength >> shift));
  out.resize(out.size() + loaderLength, 0xA5);
  return out;
}

Bytes Frame(FuzzInput& in) {
  const uint8_t type = static_cast<uint8_t>(FRAME_CONTROL_INFO + in.Byte() % 6);
  Bytes payload;
  if (type == FRAME_CONTROL_INFO) {
    payload = {static_cast<uint8_t>(in.Byte() % 4), 2, 1, 0x85};
    const uint32_t base = in.U16() * 16u, length = in.U16() % 20000;
    for (uint32_t v : {base, length})
      for (int shift = 24; shift >= 0; shift -= 8) payload.push_back(static_cast<uint8_t>(v >> shift));
  } else if (type == FRAME_APP_DATA) {
    payload.assign(in.U16() % (FRAME_MAX_PAYLOAD + 2), 0x3C);
  }
  Bytes frame = BuildFrame(type, payload.data(), payload.size());
  if (in.Byte() == 0xEE) frame[frame.size() - 1] ^= 1;  // a bad checksum now and then
  return frame;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  SimOptions opt;
  SetFaults(in, opt);
  SimImages images;
  CSimLog log;
  log.Silence();
  CChipCore core(opt, images, Flash(), log);
  int64_t now = 0;
  core.Start(now);
  while (!in.Empty()) {
    const uint8_t op = in.Byte();
    Bytes bytes;
    switch (op) {
      case 0xF0: bytes = Download(in.U16() % 6000); break;
      case 0xF1: bytes = Frame(in); break;
      case 0xF2: bytes.assign(in.Byte(), static_cast<uint8_t>(in.Byte())); break;
      case 0xF3: now += in.U16() * 100; break;
      case 0xF4: core.Reset(now); break;
      case 0xF5: core.SetLineBacklog(in.Byte()); break;
      default: bytes = {op}; break;
    }
    if (!bytes.empty()) core.Feed(bytes.data(), bytes.size(), now);
    core.Advance(now);
    const int64_t next = core.NextDeadline();
    FUZZ_CHECK(next == -1 || next >= 0, "deadline " + std::to_string(next));
    while (core.HasOutput()) {
      const SimTx tx = core.TakeOutput();
      FUZZ_CHECK(tx.m_nPauseUs >= 0, "negative pause");
      FUZZ_CHECK(tx.m_byData.size() <= kFlashSize + FRAME_MAX_PAYLOAD, "oversized output");
    }
    core.NoteTxDone(now);
    FUZZ_CHECK(Flash().Size() == kFlashSize, "flash size changed");
  }
  return 0;
}
