// A model of the chip's side of the line for the engine fuzz target. It sees
// every block the engine writes and every byte the chip sends, in order, and
// tracks which blocks the chip has acknowledged, so that a success outcome can
// be checked against what really went over the line.
#pragma once

#include "tests/fuzz/EngineFuzzFakes.h"
#include "update/Frame.h"

#include <algorithm>
#include <string>
#include <vector>

// One act as the update was asked to run it.
struct ExpectedAct {
  int32_t act = 0;
  int32_t length = 0;
  std::string appFile;
  std::string dumpFile;
};

class CLineModel {
public:
  // One act as the chip saw it: its control info and what followed.
  struct SeenAct {
    uint8_t act = 0;
    int32_t length = 0;
    Bytes image;  // acknowledged application chunks, in order
    Bytes file;   // the image file as it was when the act began (a dump may overwrite it later)
    bool eraseAcked = false;
    bool programAcked = false;
    bool dumpAcked = false;
    Bytes dump;
  };

  CLineModel(UpdateRecord& rec, FuzzFiles& files, std::string bootPath, std::string loaderPath)
      : m_rec(rec), m_files(files), m_bootPath(std::move(bootPath)), m_loaderPath(std::move(loaderPath)) {}

  void Start(std::vector<ExpectedAct> expected) {
    m_expected = std::move(expected);
    m_acts.clear();
    m_last = Kind::None;
    m_payload.clear();
    m_loader.clear();
    m_announced = 0;
    m_bootOk = m_bootAcked = m_loaderOk = false;
    m_dumpLeft = 0;
  }

  // Dump bytes the chip still owes for the dump command it was sent last.
  int64_t DumpLeft() const { return m_dumpLeft; }

  void OnWrite(uint32_t stage, const Bytes& b) {
    if (stage == STAGE_WAIT_REQUEST) return;  // the answer to the chip's request
    if (stage == STAGE_DUMP && b.size() == 1 && b[0] == 'X') return;  // dump data acknowledged
    switch (stage) {
      case STAGE_BOOT_IMAGE:
        m_last = Kind::Boot;
        m_bootOk = b == BootBlock();
        return;
      case STAGE_CHIP_SETTINGS:
        FUZZ_CHECK(b.size() == 10, "chip settings block of " + std::to_string(b.size()) + " bytes");
        m_last = Kind::Settings;
        return;
      case STAGE_LOADER_LENGTH:
        FUZZ_CHECK(b.size() == 4, "loader length block");
        m_announced = static_cast<uint32_t>(b[0] << 24 | b[1] << 16 | b[2] << 8 | b[3]);
        m_loader.clear();
        m_last = Kind::Loader;
        return;
      case STAGE_LOADER_BODY:
        m_loader.insert(m_loader.end(), b.begin(), b.end());
        m_last = Kind::Loader;
        return;
      default:
        OnFrame(b);
    }
  }

  void OnRead(uint8_t byte) {
    if (m_dumpLeft > 0) {
      m_acts.back().dump.push_back(byte);
      --m_dumpLeft;
      return;
    }
    if (byte == 'X') Close();
    // After a 'Y' the loader body goes out again from its start, without the length.
    if (byte == 'Y' && m_last == Kind::Loader) m_loader.clear();
  }

  // A success outcome: every block of every act was acknowledged, with the
  // whole image sent and the whole range dumped.
  void CheckCompleted() const {
    FUZZ_CHECK(m_bootAcked, "success without an acknowledged boot block");
    FUZZ_CHECK(m_loaderOk, "success without an acknowledged flash loader");
    FUZZ_CHECK(m_acts.size() == m_expected.size(),
               "success after " + std::to_string(m_acts.size()) + " of " + std::to_string(m_expected.size()) + " acts");
    for (size_t i = 0; i < m_acts.size(); ++i) {
      const SeenAct& seen = m_acts[i];
      const ExpectedAct& want = m_expected[i];
      const std::string which = "act " + std::to_string(i) + " (" + std::to_string(want.act) + "): ";
      FUZZ_CHECK(seen.act == static_cast<uint8_t>(want.act), which + "control info carried another act");
      if (want.act == ACT_PROGRAM) {
        FUZZ_CHECK(seen.image == seen.file, which + "success with the image sent in part");
        FUZZ_CHECK(seen.eraseAcked && seen.programAcked, which + "success without erase and program acknowledged");
      } else if (want.act == ACT_ERASE) {
        FUZZ_CHECK(seen.eraseAcked, which + "success without the erase acknowledged");
      } else if (want.act == ACT_DUMP) {
        FUZZ_CHECK(seen.dumpAcked, which + "success without the whole range dumped and acknowledged");
        FUZZ_CHECK(static_cast<int64_t>(seen.dump.size()) == std::max<int32_t>(want.length, 0), which + "dump length");
        if (!seen.dump.empty() && LastDumpTo(want.dumpFile) == i)
          FUZZ_CHECK(m_files.files[want.dumpFile] == seen.dump, which + "dump file differs from the data");
      }
    }
  }

private:
  enum class Kind { None, Boot, Settings, Loader, Control, Data, Erase, Program, Dump };

  Bytes BootBlock() const {
    Bytes block = m_files.files.at(m_bootPath);
    block.resize(2048, 0x55);
    return block;
  }

  void OnFrame(const Bytes& b) {
    FUZZ_CHECK(b.size() >= FRAME_OVERHEAD && b[0] == FRAME_START, "a write that is no frame");
    const size_t length = static_cast<size_t>(b[2] << 8 | b[3]);
    FUZZ_CHECK(b.size() == FRAME_OVERHEAD + length, "frame length field");
    const uint16_t sum = static_cast<uint16_t>(b[4 + length] << 8 | b[5 + length]);
    FUZZ_CHECK(sum == FrameChecksum(b.data() + 4, length), "frame checksum");
    m_payload.assign(b.begin() + 4, b.begin() + 4 + static_cast<long>(length));
    switch (b[1]) {
      case FRAME_CONTROL_INFO:
        FUZZ_CHECK(length == 12, "control info payload");
        m_last = Kind::Control;
        m_rec.dumpAsked = static_cast<int32_t>(m_payload[8] << 24 | m_payload[9] << 16 | m_payload[10] << 8 | m_payload[11]);
        break;
      case FRAME_APP_DATA: m_last = Kind::Data; break;
      case FRAME_ERASE: m_last = Kind::Erase; break;
      case FRAME_PROGRAM: m_last = Kind::Program; break;
      case FRAME_DUMP:
        FUZZ_CHECK(!m_acts.empty(), "dump command before any control info");
        m_last = Kind::Dump;
        m_acts.back().dump.clear();
        m_dumpLeft = std::max<int64_t>(m_acts.back().length, 0);
        break;
      default: FUZZ_CHECK(false, "unknown frame type " + std::to_string(b[1]));
    }
  }

  // The chip's 'X' acknowledges the block sent last, once.
  void Close() {
    switch (m_last) {
      case Kind::Boot: m_bootAcked = m_bootOk; break;
      case Kind::Loader:
        m_loaderOk = m_bootAcked && m_loader == m_files.files.at(m_loaderPath) && m_announced == m_loader.size();
        break;
      case Kind::Control: {
        SeenAct act;
        act.act = m_payload[0];
        act.length = static_cast<int32_t>(m_payload[8] << 24 | m_payload[9] << 16 | m_payload[10] << 8 | m_payload[11]);
        const size_t index = m_acts.size();
        if (index < m_expected.size() && m_files.files.count(m_expected[index].appFile))
          act.file = m_files.files[m_expected[index].appFile];
        if (m_loaderOk) m_acts.push_back(act);
        break;
      }
      case Kind::Data: if (!m_acts.empty()) Append(m_acts.back().image, m_payload); break;
      case Kind::Erase: if (!m_acts.empty()) m_acts.back().eraseAcked = true; break;
      case Kind::Program: if (!m_acts.empty()) m_acts.back().programAcked = m_acts.back().eraseAcked; break;
      case Kind::Dump: m_acts.back().dumpAcked = true; break;
      default: break;
    }
    m_last = Kind::None;
  }

  static void Append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

  size_t LastDumpTo(const std::string& path) const {
    size_t last = SIZE_MAX;
    for (size_t i = 0; i < m_acts.size() && i < m_expected.size(); ++i)
      if (m_expected[i].act == ACT_DUMP && m_expected[i].dumpFile == path && !m_acts[i].dump.empty()) last = i;
    return last;
  }

  UpdateRecord& m_rec;
  FuzzFiles& m_files;
  std::string m_bootPath, m_loaderPath;
  std::vector<ExpectedAct> m_expected;
  std::vector<SeenAct> m_acts;
  Kind m_last = Kind::None;
  Bytes m_payload;
  Bytes m_loader;
  uint32_t m_announced = 0;
  bool m_bootOk = false, m_bootAcked = false, m_loaderOk = false;
  int64_t m_dumpLeft = 0;
};
