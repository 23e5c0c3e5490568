// The main window CDumpDlg: the settings lists, the commands, the log, the
// console box and the progress bar. All decisions are made by CDlgLogic and
// CSettingsModel; this class builds the controls, moves selections between
// the lists and the model, and carries the worker's view calls out.
//
// Threads: the worker reaches the window only through a CViewBridge (its
// calls run here, in order) and the message queue of CDlgLogic's requests.
// The window's thread never waits for the worker, except when the window
// closes: it first closes the bridge, which releases a worker waiting in a
// view call, and then stops and joins the worker, which closes its port.
#pragma once

#include "app/DlgLogic.h"
#include "app/DumpApp.h"
#include "core/SettingsModel.h"
#include "core/View.h"
#include "app/window/DialogBuilder.h"
#include "app/window/ViewBridge.h"
#include "app/window/WindowTimers.h"
#include "comm/FileAccess.h"

#include <QDialog>

#include <memory>

class CConsoleBox;
class CUIThread;
class QAction;
class QComboBox;
class QListWidget;
class QProgressBar;
class QPushButton;

class CDumpDlg : public QDialog, private IDlgView {
  Q_OBJECT
public:
  // Reads cfg.ini from the application's config folder, fills and selects
  // the lists and starts the worker thread.
  CDumpDlg(CDumpApp& app, IWindowPrompts& prompts, QWidget* parent = nullptr);
  ~CDumpDlg() override;

  // The control with this id, or nullptr.
  QWidget* Control(int id) const { return m_builder->Control(id); }
  QComboBox* List(int id) const;
  QPushButton* Button(int id) const;
  QListWidget* Log() const;
  CConsoleBox* Console() const;
  QProgressBar* ProgressBar() const;
  // The log lines as added, "\n" characters included.
  std::vector<std::string> LogLines() const;

  const CSettingsModel& Model() const { return m_model; }
  const CWindowTimers& Timers() const { return *m_timers; }
  bool WorkerRunning() const { return m_worker != nullptr; }
  // Worker view calls queued for the window's thread.
  size_t PendingViewCalls() const { return m_bridge->Pending(); }
  QAction* AboutAction() const { return m_aboutAction; }

  // The commands, as the buttons run them.
  void OnOpen();
  void OnLink();
  void OnStop();
  void OnClear();
  void OnAppFile();
  void OnSaveAs();
  void OnAbout();

  // Selection handlers: run for the user's choices only.
  void OnFlashTypeChanged();
  void OnXtalChanged();

  // A message from the worker, as the window's thread receives it.
  void OnWindowMessage(uint32_t msg, uint32_t wParam, int32_t lParam);

  static constexpr const char* kAppFileFilter = "*.bin;*.dat (*.bin *.dat);; *.* (*)";
  static constexpr const char* kDumpFileFilter = "*.* (*)";

public slots:
  // Every way of closing ends here: stops the worker and closes its port first.
  void done(int result) override;

protected:
  void keyPressEvent(QKeyEvent* event) override;

private:
  void FillFixedLists();
  void FillListsFromModel();
  void LoadFlashModels();
  // Lists to model positions (reading) and back (showing).
  void ReadSelections();
  void ShowSelections();
  void ConnectCommands();
  void StartWorker();
  void Shutdown();

  // IDlgView, on the window's thread: the controls themselves.
  void AppendLogLine(const std::string& text) override;
  void AppendConsoleChar(char ch) override;
  void SetControlText(int id, const std::string& text) override;
  void EnableControl(int id, bool enable) override;
  std::string GetControlText(int id) override;
  void ShowMessageBox(const std::string& text, const std::string& caption) override;
  void PostWindowMessage(uint32_t msg, uint32_t wParam, int32_t lParam) override;

  CDumpApp& m_app;
  IWindowPrompts& m_prompts;
  std::unique_ptr<CDialogBuilder> m_builder;
  CSettingsModel m_model;
  CWindowTimers* m_timers = nullptr;  // child of the window
  CViewBridge* m_bridge = nullptr;    // child of the window
  std::unique_ptr<CDlgLogic> m_logic;
  CPosixFileAccess m_files;
  std::unique_ptr<CConfigBatchSource> m_batch;
  std::unique_ptr<CUIThread> m_worker;
  QAction* m_aboutAction = nullptr;
  bool m_closing = false;
};
