#include "app/DlgLogic.h"

#include "core/Messages.h"
#include "core/Requests.h"
#include "core/platform/HostFiles.h"
#include "comm/MsgThread.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

const int CDlgLogic::kSettingsControls[14] = {
    ctl::XTAL_LIST,    ctl::RAMSIZE_LIST, ctl::ACT_LIST,       ctl::BASE1_LIST,      ctl::BASE2_LIST,
    ctl::BASE3_LIST,   ctl::LENGTH1_LIST, ctl::LENGTH2_LIST,   ctl::LENGTH3_LIST,    ctl::FLASHTYPE_LIST,
    ctl::FLASHMODEL_LIST, ctl::OPEN_BUTTON, ctl::RAMTYPE_LIST, ctl::CHIPMODEL_LIST};

CDlgLogic::CDlgLogic(CDumpApp& app, CSettingsModel& model, IDlgView& view, IDlgTimers& timers)
    : m_app(app), m_model(model), m_view(view), m_timers(timers) {}

bool CDlgLogic::PostToWorker(uint32_t message, uint32_t wParam, int32_t lParam, std::any payload) {
  const uint32_t worker = m_app.m_dwWorkerThreadId.load();
  if (worker == 0) return false;
  return PostThreadMessage(worker, message, wParam, lParam, std::move(payload));
}

void CDlgLogic::EnableSettings(bool enable) {
  for (int id : kSettingsControls) m_view.EnableControl(id, enable);
}

void CDlgLogic::OnOpen() {
  if (m_app.m_dwWorkerThreadId.load() == 0) return;
  const int32_t port = m_model.PortNumber();
  if (CaptionMeansPortClosed(m_view.GetControlText(ctl::OPEN_BUTTON))) {
    // A COM number that cfg.ini maps to a device path opens that device.
    std::string device = m_devicePath;
    if (device.empty()) device = m_model.Config().PortMapPath(port).value_or("");
    PortOpenRequest request{m_model.PortSettingsText(), std::move(device)};
    const auto length = static_cast<uint32_t>(request.settingsText.size());
    PostToWorker(WM_PORT_OPEN, length, port, std::move(request));
  } else {
    PostToWorker(WM_PORT_CLOSE, 1, port);
  }
}

bool CDlgLogic::OnLink() {
  const std::string caption = m_view.GetControlText(ctl::OPEN_BUTTON);
  // The capture runs before the checks, so it happens even when Link refuses.
  m_app.m_settings = m_model.Capture(m_app.m_settings);
  if (auto failure = CheckLink(caption, m_model.m_sel.m_nActSel, m_app.m_settings)) {
    m_view.AppendLogLine(*failure);
    return false;
  }
  // A chip line that is no list of numbers would send zeros as the chip's settings.
  if (auto problem = m_model.ChipLineProblem()) {
    m_view.AppendLogLine("Can't use " + *problem + ".\n");
    return false;
  }
  if (!m_model.Config().WriteSetting(m_model.Remembered()) && !m_settingUnsavedLogged) {
    // A read-only configuration folder costs the remembered selections,
    // not the update: said once, then the update goes on.
    m_view.AppendLogLine("Can't save the selections in " + m_model.Config().Path() + ".\n");
    m_settingUnsavedLogged = true;
  }
  m_app.m_settings.m_nFlashModel = m_model.FlashModelCode();
  StartUpdate();
  return true;
}

void CDlgLogic::StartUpdate() {
  // The worker gets its own copy: later file choices cannot change a running update.
  UpdateSettings settings(m_app.m_settings);
  if (m_adjustStart) m_adjustStart(settings);
  PostToWorker(WM_UPDATE_START, UPDATE_START_WPARAM, 1, std::move(settings));
  m_timers.SetTimer(ID_TIMER_WAIT, TIMER_WAIT_PERIOD_MS);
  EnableSettings(false);
  m_view.AppendLogLine("Begin updating now.\n");
}

void CDlgLogic::OnStop() {
  PostToWorker(WM_UPDATE_STOP, 1, 1);
  m_timers.KillTimer(ID_TIMER_WAIT);
  m_timers.KillTimer(ID_TIMER_ACK);
  EnableSettings(true);
  if (m_reopenOnStop || !CaptionMeansPortClosed(m_view.GetControlText(ctl::OPEN_BUTTON))) OnOpen();
}

void CDlgLogic::OnTimerTick(uint32_t id) {
  if (id == ID_TIMER_WAIT || id == ID_TIMER_ACK) PostToWorker(WM_UPDATE_TICK, id, UPDATE_TICK_LPARAM);
}

void CDlgLogic::OnWindowMessage(uint32_t message, uint32_t wParam, int32_t lParam) {
  if (message == WM_UPDATE_END) {
    OnStop();
  } else if (message == WM_UPDATE_TIMER) {
    m_timers.KillTimer(wParam);
    if (lParam > 0) m_timers.SetTimer(wParam, static_cast<uint32_t>(lParam));
  } else if (message == WM_UPDATE_PROGRESS) {
    m_progress = lParam;
    if (m_onProgress) m_onProgress(lParam);
  }
}

std::optional<AppFileRefusal> CDlgLogic::ChooseAppFile(const std::string& path) {
  uint64_t size = 0;
  int err = 0;
  std::optional<AppFileRefusal> refusal;
  if (!host::RegularFileSize(path, size, err)) {
    // A FIFO or a device opens, but is no image of a known size.
    std::error_code ec;
    const std::string why = err != EISDIR                           ? std::strerror(err)
                            : std::filesystem::is_directory(path, ec) ? "is a directory"
                                                                      : "not a regular file";
    refusal = AppFileRefusal{AppFileRefusal::Reason::Unreadable, "Can't open application file " + path + ": " + why};
  } else if (size > static_cast<uint64_t>(MAX_APP_FILE_SIZE))
    refusal = AppFileRefusal{AppFileRefusal::Reason::TooLarge, "File cannot large than 4MB!"};
  if (refusal) {
    m_app.m_settings.m_strAppFile.clear();
    m_app.m_settings.m_nAppFileSize = 0;
    return refusal;
  }
  m_app.m_settings.m_strAppFile = path;
  m_app.m_settings.m_nAppFileSize = static_cast<int64_t>(size);
  return std::nullopt;
}

bool CDlgLogic::ChooseDumpFile(const std::string& path) {
  m_app.m_settings.m_strDumpFile = path;
  return host::CreateEmptyFile(path);
}
