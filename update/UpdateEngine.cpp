// Update start and stop, the receive path with its dump-receive mode, the
// byte state machine with its acknowledge table, and the acknowledge
// time-out.
#include "update/UpdateEngine.h"

#include <algorithm>
#include <utility>

#include "app/Messages.h"
#include "update/UpdateText.h"

namespace {
constexpr uint8_t BYTE_ACK = 'X';
constexpr uint8_t BYTE_NAK = 'Y';
constexpr uint8_t BYTE_ERASE_TICK = 'E';
constexpr uint8_t BYTE_PROGRAM_TICK = 'P';
constexpr uint8_t BYTE_UPDATE_REPLY = 0x18;  // the host's answer to the boot loader's request

constexpr int64_t kTickBytes = 4096;  // bytes per 'E'/'P' tick and per dump acknowledge
constexpr int32_t kNakLimit = 10;
constexpr int32_t kAckTimeoutLimit = 10;
constexpr uint32_t kLoaderBaud = 115200;

// A tick of the acknowledge timer that reaches us sooner than this after the
// timer was last (re)started was already queued before the restart: the
// window's timer cannot expire earlier than its period.
constexpr uint64_t kAckStaleMarginMs = 200;
}  // namespace

CUpdateEngine::CUpdateEngine(UpdateEngineDeps deps) : m_deps(std::move(deps)) {}

CUpdateEngine::~CUpdateEngine() { Shutdown(); }

// ---------------------------------------------------------------- start/stop

void CUpdateEngine::OnUpdateStart(const UpdateSettings& settings) {
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
  m_nStage = STAGE_WAIT_REQUEST;
  m_settings.m_nTotalNum = m_deps.batch.TotalNum();
  m_settings.m_nBatchIndex = 0;
}

void CUpdateEngine::OnUpdateStop() {
  m_deps.view.EnableControl(ctl::LINK_BUTTON, true);
  m_nStage = STAGE_IDLE;
  m_bAckTimerArmed = false;
  if (m_fileDump) CloseDumpCutShort();
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
  if (m_fileDump) CloseDumpCutShort();
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
      i += ReceiveDump(data + i, length - i);
      // The dump file failed and the update ended: the rest of this read is
      // flash data, not bytes for the state machine.
      if (m_nStage == STAGE_IDLE) return;
      continue;
    }
    m_nDumpCount = 0;
    HandleByte(data[i++]);
  }
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
  if (m_nDumpCount % kTickBytes == 0) {
    Console('d');
    PostProgress(m_nDumpCount, total);
    WriteByte(BYTE_ACK);
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

// ---------------------------------------------------------------- state machine

void CUpdateEngine::HandleByte(uint8_t byte) {
  switch (byte) {
    case BYTE_ERASE_TICK:
      m_nEraseDone += kTickBytes;
      Console('e');
      PostProgress(m_nEraseDone, m_settings.m_nLength);
      break;
    case BYTE_PROGRAM_TICK:
      m_nProgramDone += kTickBytes;
      Console('p');
      PostProgress(m_nProgramDone, m_settings.m_nLength);
      break;
    case BYTE_ACK:
      m_nLastReply = 1;
      m_nAckTimeouts = 0;
      m_nNakCount = 0;
      OnAck();
      break;
    case BYTE_NAK:
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

void CUpdateEngine::OnAck() {
  switch (m_nStage) {
    case STAGE_WAIT_REQUEST:
      WriteByte(BYTE_UPDATE_REPLY);
      PostTimer(ID_TIMER_WAIT, 0);
      Log("\nRecv updating request.");
      Log("\nSend 2KB Bin file.");
      m_deps.clock.Wait(50);
      m_nStage = STAGE_BOOT_IMAGE;
      SendStageBlock();
      if (m_nStage != STAGE_BOOT_IMAGE) return;  // boot.bin failed; the update has ended
      m_nEraseDone = 0;
      m_nProgramDone = 0;
      m_deps.clock.Wait(200);
      break;

    case STAGE_BOOT_IMAGE:
      Log("\nboot file receive ok.");
      Log("\nSend Chip Type/Sdram Size/Xtal");
      m_nStage = STAGE_CHIP_SETTINGS;
      SendStageBlock();
      m_deps.clock.Wait(1000);
      if (!m_deps.port.ReopenAtBaud(kLoaderBaud)) {
        // The update carries on; the chip then stays silent until Cancel.
        m_deps.view.ShowMessageBox("Can't open port!", "Error");
        m_deps.view.SetControlText(ctl::OPEN_BUTTON, "Open");
      }
      m_nStage = STAGE_LOADER_LENGTH;
      SendStageBlock();
      if (m_nStage != STAGE_LOADER_BODY) return;  // flash.bin failed; the update has ended
      m_deps.clock.Wait(50);
      SendStageBlock();
      break;

    case STAGE_LOADER_BODY:
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
      break;

    case STAGE_CONTROL_INFO:
      switch (m_settings.m_nCurAct) {
        case ACT_PROGRAM:
          m_nStage = STAGE_APP_IMAGE;
          m_nAppState = 0;
          Log("\nSend App file.");
          SendStageBlock();
          break;
        case ACT_ERASE:
          m_nStage = STAGE_ERASE;
          SendStageBlock();
          break;
        case ACT_DUMP:
          m_nStage = STAGE_DUMP;
          SendStageBlock();
          break;
        default:
          Log("\nAct error.");
          CompleteAct();
          break;
      }
      break;

    case STAGE_APP_IMAGE:
      PostTimer(ID_TIMER_ACK, 0);
      SendStageBlock();
      break;

    case STAGE_ERASE:
      Log("\nerase ok.");
      if (m_settings.m_nCurAct == ACT_PROGRAM) {
        m_nStage = STAGE_PROGRAM;
        SendStageBlock();
      } else {
        CompleteAct();
      }
      break;

    case STAGE_PROGRAM:
      Log("\nprograme ok.");
      CompleteAct();
      break;

    case STAGE_DUMP:
      Log("\ndump ok.");
      CompleteAct();
      break;

    default:  // idle, the transient stages 3 and 4, anything else
      break;
  }
}

// ---------------------------------------------------------------- timers

void CUpdateEngine::OnUpdateTick(uint32_t timerId) {
  if (timerId == ID_TIMER_WAIT) {
    Console('>');
    return;
  }
  if (timerId != ID_TIMER_ACK) return;

  // The acknowledge timer guards only an image chunk in flight. A tick that
  // was queued before the chunk was acknowledged (timer stopped, or
  // restarted for the next chunk) belongs to a period that is over.
  if (m_nStage != STAGE_APP_IMAGE || !m_bAckTimerArmed) return;
  const uint64_t now = m_deps.clock.NowMs();
  const uint64_t elapsed = now >= m_nAckArmedAtMs ? now - m_nAckArmedAtMs : 0;
  if (elapsed + kAckStaleMarginMs < static_cast<uint64_t>(TIMER_ACK_PERIOD_MS)) return;

  ++m_nAckTimeouts;
  if (m_nAckTimeouts < kAckTimeoutLimit) {
    SendStageBlock();
    // A resend that failed (the image can no longer be read) has ended the
    // update: there is no retry to report.
    if (m_nStage != STAGE_IDLE) Log(FormatText("Ack TimerOut %d Times", m_nAckTimeouts));
    return;
  }
  m_nAckTimeouts = 0;
  EndUpdate(UpdateOutcome::AckTimeout);
  Log("Ack TimerOut Retry Failed");
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
    m_nAckArmedAtMs = m_deps.clock.NowMs();
  }
}

void CUpdateEngine::WriteBytes(const uint8_t* data, size_t length) { m_deps.port.Write(data, length); }

void CUpdateEngine::WriteByte(uint8_t byte) { m_deps.port.Write(&byte, 1); }

std::string CUpdateEngine::BootPath() const { return m_deps.configDir + "boot.bin"; }

std::string CUpdateEngine::LoaderPath() const { return m_deps.configDir + "flash.bin"; }
