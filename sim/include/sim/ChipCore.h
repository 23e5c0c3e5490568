// The decoder chip as the host sees it from the far end of the line: its
// boot loader (request, boot block, chip settings, flash loader download)
// and then the flash loader (framed control info, application data, erase,
// program and dump). Bytes from the host go in through Feed; what the chip
// puts on the line comes out of TakeOutput. Time is whatever the caller
// passes in, in microseconds, so the whole conversation can be driven
// without a device or a clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "sim/FlashStore.h"
#include "sim/SimLog.h"
#include "sim/SimOptions.h"

// One piece of output: a pause, then bytes; or, with m_bVanish, the chip
// disappearing once everything before it has gone out.
struct SimTx {
  int64_t m_nPauseUs = 0;
  std::vector<uint8_t> m_byData;
  bool m_bVanish = false;
};

class CChipCore {
public:
  enum class State {
    WaitSync,      // request sent (or due); waiting for 0x18
    BootBlock,     // taking the 2048-byte boot block
    Settings,      // taking the 10 chip-settings bytes
    LoaderLength,  // taking the 4-byte loader length
    LoaderBody,    // taking the loader
    Frames,        // flash loader running, taking frames
    Dumping,       // streaming a dump
    Dead,          // the host broke the download beyond repair; waits for a reset
    Hung,          // gone silent on purpose; waits for a reset
    Finished,      // session limit reached or vanished
  };
  // Which frame the flash loader takes next.
  enum class Expect { Control, AppData, Erase, Program, Dump };

  // The flash must stay open for the core's lifetime.
  CChipCore(const SimOptions& options, const SimImages& images, CFlashStore& flash, CSimLog& log);

  // Brings the chip out of reset: session 1 begins.
  void Start(int64_t nowUs);
  // Bytes the host sent, in order, as they arrive at the chip.
  void Feed(const uint8_t* data, size_t length, int64_t nowUs);
  // Lets timed behaviour run: request (repeats), short-block and idle checks.
  void Advance(int64_t nowUs);
  // The reset button: the session ends and a new one begins.
  void Reset(int64_t nowUs);
  // The last output went out on the line at this moment; quiet periods are
  // measured from it as well as from the last byte received.
  void NoteTxDone(int64_t nowUs);
  // Bytes sent but not yet taken by the host. A repeated request waits
  // until the one before it has been read.
  void SetLineBacklog(size_t bytes) { m_nBacklog = bytes; }
  // When Advance next has something to do; -1 for never.
  int64_t NextDeadline() const;

  bool HasOutput() const { return !m_out.empty(); }
  SimTx TakeOutput();
  // All queued output bytes at once, ignoring pauses (for callers that do
  // not keep time).
  std::vector<uint8_t> TakeBytes();

  State GetState() const { return m_state; }
  Expect GetExpect() const { return m_expect; }
  bool Finished() const { return m_state == State::Finished; }
  bool Vanished() const { return m_bVanished; }
  // Checks the host's bytes failed, not counting sessions with line faults.
  int ChecksFailed() const { return m_nChecksFailed; }
  int SessionsEnded() const { return m_nSessionsEnded; }
  int ActsDone() const { return m_nActs; }

private:
  struct Control {
    uint8_t act = 0;
    uint32_t base = 0;
    uint32_t length = 0;
  };

  void BeginSession(int64_t nowUs);
  void EndSession(const char* reason);
  void SendRequest();
  // The boot ROM's (or a hung chip's) prompt, every m_nChatterMs.
  void Chatter();
  bool Chatters() const;
  // When the protocol's own timing next acts; -1 for never.
  int64_t ProtocolDeadline() const;
  void HandleByte(uint8_t byte);
  void FinishBootBlock();
  void FinishSettings();
  void FinishLength();
  void FinishLoader();
  void FrameByte(uint8_t byte);
  void FinishFrame();
  void OnControl(const uint8_t* payload);
  void OnAppData(const uint8_t* payload, size_t length);
  void OnErase();
  void OnProgram();
  void OnDump();
  void SendDumpBlock();
  void DumpByte(uint8_t byte);
  void FinishDump();
  void ActDone();
  void Vanish(const char* what);
  void OnQuietBlock();

  // True when a fault swallowed the block (ignored, hung or NAKed).
  bool Intercept(SimStage stage);
  bool BlockInProgress() const;
  bool Active() const;
  int64_t LastActivity() const { return m_nLastRxUs > m_nLastTxUs ? m_nLastRxUs : m_nLastTxUs; }
  bool Chance(double probability);

  void Emit(const uint8_t* data, size_t length);
  void Emit(uint8_t byte) { Emit(&byte, 1); }
  void EmitPause(int64_t us);
  void EmitText(const std::string& text);
  [[gnu::format(printf, 2, 3)]] void Log(const char* format, ...);
  [[gnu::format(printf, 2, 3)]] void Ack(const char* format, ...);
  [[gnu::format(printf, 2, 3)]] void Reject(const char* format, ...);
  [[gnu::format(printf, 2, 3)]] void Fail(const char* format, ...);
  void FlushStray();

  const SimOptions& m_opt;
  const SimImages& m_images;
  CFlashStore& m_flash;
  CSimLog& m_log;
  std::mt19937_64 m_rng;
  int m_nNak[kSimStageCount];
  int m_nSilent[kSimStageCount];

  State m_state = State::WaitSync;
  Expect m_expect = Expect::Control;
  int64_t m_nNowUs = 0;
  int64_t m_nLastRxUs = 0;
  int64_t m_nLastTxUs = 0;
  int64_t m_nNextRequestUs = 0;
  int64_t m_nNextChatterUs = 0;
  size_t m_nBacklog = 0;
  int m_nRequestsSent = 0;

  std::vector<uint8_t> m_byBlock;  // raw download block being taken
  uint32_t m_nLoaderLength = 0;
  bool m_bLoaderBad = false;       // the announced length was refused
  std::vector<uint8_t> m_byFrame;  // frame being taken, from its 0xFF
  bool m_bDiscarding = false;      // swallowing a broken block until the line is quiet
  size_t m_nStray = 0;             // bytes skipped between frames, not yet logged

  Control m_ctl;
  std::vector<uint8_t> m_byImage;  // application image of a program act
  int64_t m_nProgramBytes = 0;     // bytes received during the application data
  uint32_t m_nDumpPos = 0;
  bool m_bAwaitDumpAck = false;

  std::deque<SimTx> m_out;
  int m_nSession = 0;
  int m_nSessionsEnded = 0;
  int m_nSessionActs = 0;
  int m_nActs = 0;
  int m_nChecksFailed = 0;
  bool m_bSessionFaults = false;
  bool m_bVanished = false;
  bool m_bResetDone = false;  // the --reset fault fires once
};
