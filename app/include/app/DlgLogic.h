// The main window's behaviour without the window: its two timers, the tick
// relay, the Open/Close command, "Link" with its checks, the stop sequence,
// the file choices and the handling of the worker's window messages. The Qt
// window and the command line drive the same logic.
//
// All of it runs on the window's thread. It never waits for the worker: it
// posts requests to the thread id the worker published, and posts nothing
// while that id is 0.
#pragma once

#include "app/DumpApp.h"
#include "core/SettingsModel.h"
#include "core/View.h"

#include <any>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class IDlgTimers {
public:
  virtual ~IDlgTimers() = default;
  // Starts the timer, or restarts its period from now when it runs.
  virtual void SetTimer(uint32_t id, uint32_t periodMs) = 0;
  // Stops the timer; a timer that does not run is no fault.
  virtual void KillTimer(uint32_t id) = 0;
};

// Why "AppFile" refused an image, next to the text the window shows for it.
struct AppFileRefusal {
  enum class Reason {
    Unreadable,  // missing, unreadable, or not a regular file
    TooLarge,    // over 4 MB: "File cannot large than 4MB!"
  };
  Reason reason;
  std::string text;
};

class CDlgLogic {
public:
  CDlgLogic(CDumpApp& app, CSettingsModel& model, IDlgView& view, IDlgTimers& timers);

  // Button 1012: opens when its caption reads "Open", closes otherwise.
  void OnOpen();
  // "Link": the caller has put the current list selections into the model.
  // Returns true when the update was started.
  bool OnLink();
  // The part of "Link" after its checks: posts the start request with a copy
  // of the application's update settings, starts the waiting timer and
  // disables the settings controls. Front ends that fill the settings
  // themselves (the command line) call it directly.
  void StartUpdate();
  // "Cancel", and the answer to WM_UPDATE_END.
  void OnStop();
  // A window timer fired.
  void OnTimerTick(uint32_t id);
  // WM_UPDATE_END, WM_UPDATE_TIMER and WM_UPDATE_PROGRESS from the worker.
  void OnWindowMessage(uint32_t message, uint32_t wParam, int32_t lParam);

  // "AppFile" after the file dialog: takes the image and its size. Returns
  // why the file was refused, with the message to show, or nothing.
  std::optional<AppFileRefusal> ChooseAppFile(const std::string& path);
  // "SaveAs" after the file dialog: takes the path and creates or empties
  // the file at once. Returns false when it cannot be created (the path is
  // kept all the same; the dump reports the failure when it begins).
  bool ChooseDumpFile(const std::string& path);

  // The stop sequence ends with the Open/Close command, which opens the port
  // again when the worker had already closed it. A front end that ends after
  // the update turns that off.
  void SetReopenOnStop(bool reopen) { m_reopenOnStop = reopen; }
  // A device path that the command line names instead of a COM number.
  void SetDevicePath(std::string path) { m_devicePath = std::move(path); }
  // Called with the copy of the update settings that the start request is
  // about to carry; a front end may turn a program into a verifying batch.
  void SetStartAdjuster(std::function<void(UpdateSettings&)> adjust) { m_adjustStart = std::move(adjust); }
  // Called with every progress value the worker posts.
  void SetProgressHandler(std::function<void(int32_t)> handler) { m_onProgress = std::move(handler); }

  int32_t Progress() const { return m_progress; }

  // The settings lists that "Link" disables and the stop sequence enables.
  static const int kSettingsControls[14];

private:
  bool PostToWorker(uint32_t message, uint32_t wParam, int32_t lParam, std::any payload = {});
  void EnableSettings(bool enable);

  CDumpApp& m_app;
  CSettingsModel& m_model;
  IDlgView& m_view;
  IDlgTimers& m_timers;
  std::string m_devicePath;
  std::function<void(int32_t)> m_onProgress;
  std::function<void(UpdateSettings&)> m_adjustStart;
  int32_t m_progress = 0;
  bool m_reopenOnStop = true;
  bool m_settingUnsavedLogged = false;
};
