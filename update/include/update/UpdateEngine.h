// The update: the whole conversation with the decoder chip's boot loader and
// flash loader. The chip leads: every step of the host answers one byte from
// the chip ('X' acknowledge, 'Y' negative acknowledge, 'E'/'P' progress
// ticks, console text) or one tick of the window's timers.
//
// The engine does no I/O of its own. It runs on the worker thread, reacts to
// the bytes the receive path read and to timer ticks, and acts through the
// port, the view, the clock, the file access and the batch source it is
// given. Nothing in it is locked: every call comes from the one worker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/UpdateSettings.h"
#include "core/View.h"
#include "update/UpdateIo.h"

struct UpdateEngineDeps {
  IUpdatePort& port;
  IDlgView& view;
  IUpdateClock& clock;
  IFileAccess& files;
  IBatchSource& batch;
  IUpdateObserver* observer = nullptr;
  std::string configDir;  // folder holding boot.bin and flash.bin, ending in '/'
  // Where a stop on its way is learnt while a step runs; none: no stop
  // comes between the pieces of a step.
  IUpdateStop* stop = nullptr;
};

// Update stages: which block the host sent last.
inline constexpr uint32_t STAGE_IDLE = 0;
inline constexpr uint32_t STAGE_WAIT_REQUEST = 1;
inline constexpr uint32_t STAGE_BOOT_IMAGE = 2;
inline constexpr uint32_t STAGE_CHIP_SETTINGS = 3;
inline constexpr uint32_t STAGE_LOADER_LENGTH = 4;
inline constexpr uint32_t STAGE_LOADER_BODY = 5;
inline constexpr uint32_t STAGE_CONTROL_INFO = 6;
inline constexpr uint32_t STAGE_APP_IMAGE = 7;
inline constexpr uint32_t STAGE_ERASE = 8;
inline constexpr uint32_t STAGE_PROGRAM = 9;
inline constexpr uint32_t STAGE_DUMP = 10;

class CUpdateEngine {
public:
  explicit CUpdateEngine(UpdateEngineDeps deps);
  ~CUpdateEngine();
  CUpdateEngine(const CUpdateEngine&) = delete;
  CUpdateEngine& operator=(const CUpdateEngine&) = delete;

  // WM_UPDATE_START: drops what the line already holds, takes its own copy
  // of the settings, disables "Link", resets the counters and waits for the
  // chip's request (stage 1).
  void OnUpdateStart(const UpdateSettings& settings);
  // Bytes the receive path read from the port, in arrival order.
  // An empty read judges again an 'X' that waits for the quiet behind it.
  void OnReceive(const uint8_t* data, size_t length);
  // WM_UPDATE_TICK: timer 1 shows '>', timer 2 is the acknowledge time-out.
  // A tick of timer 2 counts only while an image chunk waits for its
  // acknowledge (or a lone 'Y' for the quiet that makes it a negative
  // acknowledge of the dump command) and at least the timer's period (less
  // 200 ms) has passed on clock.NowMs() since the timer was last started;
  // earlier ticks were queued before a restart and are dropped. A test clock
  // must advance NowMs.
  void OnUpdateTick(uint32_t timerId);
  // WM_COMM_TXEMPTY: output the port had queued has gone to the driver. An
  // image chunk's acknowledge time starts only once the chunk has left the
  // host (IUpdatePort::OutputQueued is 0).
  void OnOutputDrained();
  // WM_UPDATE_STOP: enables "Link", goes idle, closes a dump in progress.
  void OnUpdateStop();
  // The device went away: ends a running update with a log line.
  void OnPortLost(const std::string& reason);
  // Program end: flushes and closes the dump file.
  void Shutdown();

  uint32_t Stage() const { return m_nStage; }
  const UpdateSettings& Settings() const { return m_settings; }

private:
  // Byte state machine and its acknowledge table.
  void HandleByte(uint8_t byte);
  void OnAck();
  // The acknowledges that move the download on: the chip's request, the
  // boot image (then the line goes to 115200 baud and the loader follows),
  // the loader (then the control info) and the control info (then the act).
  void OnRequestAck();
  void OnBootImageAck();
  void OnLoaderAck();
  void OnControlInfoAck();
  void OnNak();
  // An erase or a program ends only after one tick per 4096 bytes of its
  // range; false (and the update ended) when the chip's 'X' came sooner.
  bool TicksComplete(int64_t done, const char* act);
  // Tells the observer that the update moved on.
  void ProgressMade();

  // Stops (UpdateStop.cpp). A protocol wait, cut short by a stop that is
  // waiting for the worker; false when the step was abandoned (stage 0).
  bool Pause(uint32_t milliseconds);
  // True (and the update ended as stopped, with a log line naming `next`)
  // when a stop was asked for once the block in flight is done.
  bool StopsBefore(const char* next);
  // An 'X' whose meaning depends on the quiet that follows it: the boot
  // loader's request, the dump's closing acknowledge. Judged at the end of
  // each read.
  void OnRequestByte(uint8_t byte);
  void SettleAfterQuiet();
  void SettleRequest();
  void SettleDumpEnd();
  // A byte after the closing 'X': the dump cannot be trusted.
  void DumpEndNotQuiet();
  // The time `bytes` take on the line at its setting, or at the slowest
  // rate measured if that is slower.
  uint64_t LineMsFor(int64_t bytes) const;
  // The acknowledge period of a chunk of `bytes`.
  int32_t AckPeriodFor(int64_t bytes) const;
  void StartLineTiming(int64_t bytes);
  void NoteLineRate();

  // Dump-receive mode (UpdateDump.cpp). Takes the bytes of one read that
  // belong to the dump; returns how many it consumed (at least one unless
  // the update ended).
  size_t TakeDumpBytes(const uint8_t* data, size_t length);
  // Takes dump bytes up to the next 4096-byte boundary or the end of the
  // range; returns how many it consumed (at least one).
  size_t ReceiveDump(const uint8_t* data, size_t length);
  // A lone 'Y' where the dump should begin: a negative acknowledge of the
  // dump command if the line then stays quiet, the first flash byte if more
  // bytes follow.
  void HoldDumpNak();
  bool ReleaseDumpNak();
  // Tells the port what is left of the dump block in flight (nothing while
  // a reply is awaited), when that has changed.
  void TellBytesOwed();
  // The time the next block of dump data may take, counted from now.
  void StartDumpBlock();
  // Dump data arriving after its block's time is up did not come from a
  // dumping chip: ends the update with the byte count.
  bool DumpBlockLate(size_t arriving);

  // The send step of the current stage, and the blocks behind it.
  void SendStageBlock();
  // False when a stop came during the pause after the frame (stage 0).
  bool SendFrame(uint8_t type, const uint8_t* payload, size_t length);
  void SendBootImage();
  void SendChipSettings();
  // Size of flash.bin; a failed look ends the update with a log line.
  bool LoaderSize(uint64_t& size);
  void SendLoaderLength();
  void SendLoaderBody();
  void SettleAct();
  void BuildAndSendControlInfo();
  void SendAppChunk();
  // Starts the acknowledge time of the chunk just sent, or notes that it
  // starts once the chunk has left the host.
  void ArmAckTimer();
  // A tick of the acknowledge timer that counts (not stale).
  void OnAckTimeout();
  // The next piece of a non-empty image, or the same one again after a 'Y'
  // or a time-out; false when the image failed and the update has ended.
  bool SendAppPiece(const std::string& path, uint64_t size);
  void SendEraseCommand();
  void SendProgramCommand();
  void SendDumpCommand();
  void CompleteAct();

  // Ending an update: stage 0, the outcome to the observer, WM_UPDATE_END.
  void EndUpdate(UpdateOutcome outcome);
  // A file failed: one log line naming it and the reason, then EndUpdate.
  void FailFile(const std::string& line);
  // Closes the dump file; false with the reason when its last bytes failed.
  bool CloseDump(std::string& error);
  // Logs a failed dump write (when `error` is set) and how many bytes the
  // dump file holds.
  void ReportDumpCutShort(const std::string& error);
  // Closes a dump cut short by a stop, a lost port or a failure and logs
  // how many bytes the file holds.
  void CloseDumpCutShort();

  void Log(const std::string& text);
  void Console(char ch);
  void PostProgress(int64_t done, int64_t total);
  void PostPercent(int32_t percent);
  void PostTimer(uint32_t timerId, int32_t periodMs);
  void WriteBytes(const uint8_t* data, size_t length);
  void WriteByte(uint8_t byte);
  std::string BootPath() const;
  std::string LoaderPath() const;

  UpdateEngineDeps m_deps;
  UpdateSettings m_settings;

  // Update state.
  uint32_t m_nStage = STAGE_IDLE;
  int32_t m_nAckTimeouts = 0;   // consecutive acknowledge time-outs
  int32_t m_nAppState = 0;      // image transfer: 0 not begun, 1 in progress, 2 all sent
  int32_t m_nLastReply = 0;     // 1 'X' since the last send, 2 'Y', 0 consumed
  int32_t m_nNakCount = 0;      // consecutive 'Y'
  int64_t m_nDumpCount = 0;     // dump bytes accepted by the dump file
  bool m_bDumpOpen = false;
  bool m_bDumpDone = false;     // the range is in; only a resent dump command starts over
  int64_t m_nEraseDone = 0;     // 4096 per 'E'
  int64_t m_nProgramDone = 0;   // 4096 per 'P'
  std::unique_ptr<IDumpSink> m_fileDump;
  std::string m_strDumpOpenPath;  // the path m_fileDump was created at
  int64_t m_nAppOffset = 0;     // offset of the chunk in flight
  int64_t m_nAppChunk = 0;      // length of the chunk in flight
  uint64_t m_nLoaderSize = 0;   // flash.bin size sent in the length block

  // The acknowledge timer as last requested from the window.
  bool m_bAckTimerArmed = false;
  uint64_t m_nAckArmedAtMs = 0;
  bool m_bAckWaitsForOutput = false;  // the chunk had not left the host when the timer was armed

  bool m_bDumpNakPending = false;   // a lone 'Y' opened the dump; the line has not spoken since
  uint64_t m_nDumpBlockStartMs = 0; // when the block of dump data being read was asked for
  int64_t m_nDumpBlockFirst = 0;    // dump count at that moment
  size_t m_nBytesOwedTold = 0;      // what the port was last told is owed of the block
  bool m_bDumpClosing = false;      // the closing 'X' came; the line must now stay quiet
  uint64_t m_nDumpClosedAtMs = 0;

  // The boot loader's request: an 'X' followed by nothing but further 'X'.
  bool m_bRequestPending = false;
  uint64_t m_nRequestAtMs = 0;
  int32_t m_nRequestXs = 0;         // 'X' bytes since the first of the request
  uint64_t m_nRequestLastMs = 0;    // the last of them
  bool m_bStreamSeen = false;       // an 'X' inside other bytes was seen lately
  uint64_t m_nStreamAtMs = 0;

  // The line's rate as measured from large blocks: the loader and the image
  // chunks, from the write to the chip's acknowledge.
  int32_t m_nAckPeriodMs = 0;       // period of the acknowledge timer last armed
  uint64_t m_nTimedAtMs = 0;        // write of the block being timed
  int64_t m_nTimedBytes = 0;        // its size; 0: nothing timed
  int64_t m_nRateBytes = 0;         // slowest measurement: bytes ...
  uint64_t m_nRateMs = 0;           // ... in this many ms
};
