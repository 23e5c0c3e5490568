// Update start and stop, the receive path and the byte state machine with
// its acknowledge table. Dump-receive mode is in UpdateDump.cpp; time-outs,
// stops and what the line's timing tells in UpdateTiming.cpp.
#include "update/UpdateEngine.h"

#include <algorithm>
#include <utility>

#include "core/Messages.h"
#include "update/Protocol.h"
#include "UpdateText.h"

namespace {
constexpr int64_t kTickBytes = FLASH_SECTOR_SIZE;  // bytes per 'E'/'P' tick and per dump acknowledge
constexpr int32_t kNakLimit = 10;
}  // namespace

CUpdateEngine::CUpdateEngine(UpdateEngineDeps deps) : m_deps(std::move(deps)) {}

CUpdateEngine::~CUpdateEngine() { Shutdown(); }

// ---------------------------------------------------------------- start/stop

void CUpdateEngine::OnUpdateStart(const UpdateSettings& settings) {
  // What the line holds from before this update (the tail of an earlier
  // session, a chip's chatter while no update ran) answers nothing we sent.
  m_deps.port.DiscardInput();
  m_nBytesOwedTold = 0;  // the discard has withdrawn it
  m_deps.view.EnableControl(ctl::LINK_BUTTON, false);
  // A dump left open by an earlier update is closed before the state that
  // describes it is cleared.
  if (m_fileDump) CloseDumpCutShort();
  m_settings = settings;
  m_nNakCount = 0;
  m_bDumpOpen = false;
  m_bDumpDone = false;
  m_nDumpCount = 0;
  m_bAckTimerArmed = false;
  m_bAckWaitsForOutput = false;
  m_bDumpNakPending = false;
  m_bDumpClosing = false;
  m_bRequestPending = false;
  m_bStreamSeen = false;
  // A new line, perhaps at another rate: measured afresh.
  m_nTimedBytes = 0;
  m_nRateBytes = 0;
  m_nRateMs = 0;
  m_nStage = STAGE_WAIT_REQUEST;
  m_settings.m_nTotalNum = m_deps.batch.TotalNum();
  m_settings.m_nBatchIndex = 0;
  ProgressMade();
}

void CUpdateEngine::OnUpdateStop() {
  m_deps.view.EnableControl(ctl::LINK_BUTTON, true);
  m_nStage = STAGE_IDLE;
  m_bAckTimerArmed = false;
  m_bDumpNakPending = false;
  m_bDumpClosing = false;
  m_bRequestPending = false;
  if (m_fileDump) CloseDumpCutShort();
  TellBytesOwed();
}

void CUpdateEngine::OnPortLost(const std::string& reason) {
  if (m_nStage == STAGE_IDLE) return;
  Log("\nserial port lost (" + reason + "), update stopped.");
  EndUpdate(UpdateOutcome::PortLost);
}

void CUpdateEngine::Shutdown() {
  // The window may already be gone at program end: close without logging.
  std::string ignored;
  CloseDump(ignored);
}

void CUpdateEngine::EndUpdate(UpdateOutcome outcome) {
  m_nStage = STAGE_IDLE;
  m_bAckTimerArmed = false;
  m_bDumpNakPending = false;
  m_bDumpClosing = false;
  m_bRequestPending = false;
  if (m_fileDump) CloseDumpCutShort();
  TellBytesOwed();
  if (m_deps.observer != nullptr) m_deps.observer->OnUpdateOutcome(outcome);
  m_deps.view.PostWindowMessage(WM_UPDATE_END, 1, 1);
}

void CUpdateEngine::FailFile(const std::string& line) {
  Log(line);
  EndUpdate(UpdateOutcome::FileError);
}

// ---------------------------------------------------------------- receive path

void CUpdateEngine::OnReceive(const uint8_t* data, size_t length) {
  size_t i = 0;
  while (i < length) {
    // Judged byte by byte against the stage in force, so a byte that moves
    // the stage changes how the next byte of the same read is taken.
    if (m_nStage == STAGE_DUMP && !m_bDumpDone && m_nDumpCount < m_settings.m_nLength) {
      i += TakeDumpBytes(data + i, length - i);
      // The dump failed and the update ended: the rest of this read is
      // flash data, not bytes for the state machine.
      if (m_nStage == STAGE_IDLE) return;
      continue;
    }
    if (m_bDumpClosing) {
      DumpEndNotQuiet();
      return;
    }
    m_nDumpCount = 0;
    if (m_nStage == STAGE_WAIT_REQUEST) OnRequestByte(data[i++]);
    else HandleByte(data[i++]);
  }
  TellBytesOwed();
  SettleAfterQuiet();
}

// ---------------------------------------------------------------- state machine

void CUpdateEngine::HandleByte(uint8_t byte) {
  switch (byte) {
    case BYTE_ERASE_TICK:
      m_nEraseDone += kTickBytes;
      Console('e');
      PostProgress(m_nEraseDone, m_settings.m_nLength);
      if (m_nStage == STAGE_ERASE) ProgressMade();
      break;
    case BYTE_PROGRAM_TICK:
      m_nProgramDone += kTickBytes;
      Console('p');
      PostProgress(m_nProgramDone, m_settings.m_nLength);
      if (m_nStage == STAGE_PROGRAM) ProgressMade();
      break;
    case BYTE_ACK:
      m_nLastReply = 1;
      m_nAckTimeouts = 0;
      m_nNakCount = 0;
      OnAck();
      break;
    case BYTE_NAK:
      // A 'Y' after the update has ended answers nothing we sent.
      if (m_nStage == STAGE_IDLE) break;
      m_nLastReply = 2;
      m_nAckTimeouts = 0;
      ++m_nNakCount;
      OnNak();
      break;
    default:
      Console(static_cast<char>(byte));
      break;
  }
}

void CUpdateEngine::OnNak() {
  if (m_nNakCount >= kNakLimit) {
    // The next row counts from one again, as the time-outs do: without this,
    // every further 'Y' would end the update that has just ended once more.
    m_nNakCount = 0;
    Log("\nRetry Failed");
    EndUpdate(UpdateOutcome::RetryFailed);
    return;
  }
  Log(FormatText("\ncheck error %d time", m_nNakCount));
  SendStageBlock();
}

bool CUpdateEngine::TicksComplete(int64_t done, const char* act) {
  // A chip reset part way (or never started) sends its boot loader's 'X'
  // just the same: only the ticks tell a finished act.
  const int64_t length = std::max<int64_t>(m_settings.m_nLength, 0);
  const int64_t needed = (length + kTickBytes - 1) / kTickBytes;
  const int64_t ticks = done / kTickBytes;
  if (ticks >= needed) return true;
  Log(FormatText("\n%s ended after %lld of %lld blocks.", act, static_cast<long long>(ticks),
                 static_cast<long long>(needed)));
  EndUpdate(UpdateOutcome::ActCutShort);
  return false;
}

void CUpdateEngine::OnAck() {
  // Every acknowledge the table acts on moves the update on; in the idle
  // and the transient stages an 'X' does nothing.
  if (m_nStage == STAGE_WAIT_REQUEST || m_nStage == STAGE_BOOT_IMAGE || m_nStage >= STAGE_LOADER_BODY)
    ProgressMade();
  switch (m_nStage) {
    case STAGE_WAIT_REQUEST:
      OnRequestAck();
      break;
    case STAGE_BOOT_IMAGE:
      OnBootImageAck();
      break;
    case STAGE_LOADER_BODY:
      OnLoaderAck();
      break;
    case STAGE_CONTROL_INFO:
      OnControlInfoAck();
      break;
    case STAGE_APP_IMAGE:
      PostTimer(ID_TIMER_ACK, 0);
      NoteLineRate();
      if (StopsBefore(m_nAppOffset + m_nAppChunk >= m_settings.m_nLength ? "erase" : "the next image block")) break;
      SendStageBlock();
      break;
    case STAGE_ERASE:
      if (!TicksComplete(m_nEraseDone, "erase")) break;
      Log("\nerase ok.");
      if (m_settings.m_nCurAct == ACT_PROGRAM) {
        if (StopsBefore("program")) break;
        m_nStage = STAGE_PROGRAM;
        SendStageBlock();
      } else {
        CompleteAct();
      }
      break;
    case STAGE_PROGRAM:
      if (!TicksComplete(m_nProgramDone, "program")) break;
      Log("\nprograme ok.");
      CompleteAct();
      break;
    case STAGE_DUMP:
      // Done only if the line now stays quiet: a chip reset during the dump
      // goes on repeating its boot loader's request.
      m_bDumpClosing = true;
      m_nDumpClosedAtMs = m_deps.clock.NowMs();
      break;
    default:  // idle, the transient stages 3 and 4, anything else
      break;
  }
}

void CUpdateEngine::OnRequestAck() {
  if (StopsBefore("the boot image")) return;
  WriteByte(BYTE_UPDATE_REPLY);
  PostTimer(ID_TIMER_WAIT, 0);
  Log("\nRecv updating request.");
  Log("\nSend 2KB Bin file.");
  if (!Pause(50)) return;
  // Repeats of the request that crossed our answer are no acknowledge of
  // a boot image not yet sent.
  m_deps.port.DiscardInput();
  m_nStage = STAGE_BOOT_IMAGE;
  SendStageBlock();
  if (m_nStage != STAGE_BOOT_IMAGE) return;  // boot.bin failed; the update has ended
  m_nEraseDone = 0;
  m_nProgramDone = 0;
  Pause(200);
}

void CUpdateEngine::OnBootImageAck() {
  if (StopsBefore("the chip settings")) return;
  Log("\nboot file receive ok.");
  Log("\nSend Chip Type/Sdram Size/Xtal");
  m_nStage = STAGE_CHIP_SETTINGS;
  SendStageBlock();
  if (!Pause(1000)) return;
  const PortOpenResult reopened = m_deps.port.ReopenAtBaud(LOADER_BAUD);
  if (reopened != PortOpenResult::Opened) {
    // The update carries on; the chip then stays silent until Cancel.
    m_deps.view.ShowMessageBox("Can't open port!", "Error");
    m_deps.view.SetControlText(ctl::OPEN_BUTTON, kCaptionOpen);
    if (m_deps.observer != nullptr) m_deps.observer->OnPortOpenResult(reopened);
  }
  m_nStage = STAGE_LOADER_LENGTH;
  SendStageBlock();
  if (m_nStage != STAGE_LOADER_BODY) return;  // flash.bin failed; the update has ended
  if (!Pause(50)) return;
  SendStageBlock();
}

void CUpdateEngine::OnLoaderAck() {
  NoteLineRate();
  if (StopsBefore("the control info")) return;
  Log("\nflash file receive ok.");
  m_nStage = STAGE_CONTROL_INFO;
  Log("\nSend Control info.");
  SettleAct();
  switch (m_settings.m_nCurAct) {
    case ACT_PROGRAM:
      Log("\nSend App file lenth.");
      break;
    case ACT_ERASE:
      Log(FormatText("\nSend erase Lenth = 0x%x", static_cast<unsigned>(m_settings.m_nLength)));
      break;
    case ACT_DUMP:
      Log(FormatText("\nSend dump Lenth = 0x%x", static_cast<unsigned>(m_settings.m_nLength)));
      break;
    default:
      Log("\nSend Control info.");
      break;
  }
  BuildAndSendControlInfo();
}

void CUpdateEngine::OnControlInfoAck() {
  if (StopsBefore("the act")) return;
  switch (m_settings.m_nCurAct) {
    case ACT_PROGRAM:
      m_nStage = STAGE_APP_IMAGE;
      m_nAppState = 0;
      Log("\nSend App file.");
      break;
    case ACT_ERASE:
      m_nStage = STAGE_ERASE;
      break;
    case ACT_DUMP:
      m_nStage = STAGE_DUMP;
      break;
    default:
      Log("\nAct error.");
      CompleteAct();
      return;
  }
  SendStageBlock();
}

// ---------------------------------------------------------------- helpers

void CUpdateEngine::Log(const std::string& text) { m_deps.view.AppendLogLine(text); }

void CUpdateEngine::Console(char ch) { m_deps.view.AppendConsoleChar(ch); }

void CUpdateEngine::PostProgress(int64_t done, int64_t total) {
  // Nothing to show against an empty range (a batch entry may carry length
  // 0, and ticks may arrive while idle).
  if (total <= 0) return;
  const int64_t percent = std::clamp<int64_t>(done * 100 / total, 0, 100);
  PostPercent(static_cast<int32_t>(percent));
}

void CUpdateEngine::PostPercent(int32_t percent) { m_deps.view.PostWindowMessage(WM_UPDATE_PROGRESS, 1, percent); }

void CUpdateEngine::PostTimer(uint32_t timerId, int32_t periodMs) {
  m_deps.view.PostWindowMessage(WM_UPDATE_TIMER, timerId, periodMs);
  if (timerId == ID_TIMER_ACK) {
    m_bAckTimerArmed = periodMs > 0;
    m_nAckPeriodMs = periodMs;
    m_bAckWaitsForOutput = false;
    m_nAckArmedAtMs = m_deps.clock.NowMs();
  }
}

void CUpdateEngine::ProgressMade() {
  if (m_deps.observer != nullptr) m_deps.observer->OnProgressMade();
}

void CUpdateEngine::WriteBytes(const uint8_t* data, size_t length) { m_deps.port.Write(data, length); }

void CUpdateEngine::WriteByte(uint8_t byte) { m_deps.port.Write(&byte, 1); }

std::string CUpdateEngine::BootPath() const { return m_deps.configDir + "boot.bin"; }

std::string CUpdateEngine::LoaderPath() const { return m_deps.configDir + "flash.bin"; }
