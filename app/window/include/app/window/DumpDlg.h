// The main window CDumpDlg: the settings lists, the commands, the log, the
// console box and the progress bar. All decisions are made by CDlgLogic and
// CSettingsModel; this class builds the controls, moves selections between
// the lists and the model, and carries the worker's view calls out.
//
// Threads: the worker reaches the window only through a CViewBridge (its
// calls run here, in order) and the message queue of CDlgLogic's requests.
// The window's thread never waits for the worker while the window is shown:
// closing it posts the stop and quit requests and closes the bridge, which
// releases a worker waiting in a view call; the worker is joined only when
// the window object goes away, by then hidden.
//
// Enter and Esc never end the window; closing it while an update runs asks
// first. A status line says in words where the update stands.
#pragma once

#include "app/DlgLogic.h"
#include "app/DumpApp.h"
#include "app/PortText.h"
#include "app/ReadBack.h"
#include "app/UpdateWatch.h"
#include "app/Verdict.h"
#include "comm/SerialPorts.h"
#include "core/SettingsModel.h"
#include "core/View.h"
#include "app/window/DialogBuilder.h"
#include "app/window/ViewBridge.h"
#include "app/window/WindowTimers.h"
#include "comm/FileAccess.h"

#include <QDialog>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class CConsoleBox;
class CFactoryDlg;
class CUIThread;
class QAction;
class QCheckBox;
class QLabel;
class QListWidgetItem;
class QTimer;

// Controls the window adds to the dialog's own.
namespace wctl {
inline constexpr int VERIFY_CHECK = 1050;
inline constexpr int STATUS_LINE = 1051;
inline constexpr int METER_LABEL = 1052;
inline constexpr int APPFILE_LABEL = 1053;
inline constexpr int DUMPFILE_LABEL = 1054;
}  // namespace wctl
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
  QLabel* Label(int id) const;
  QCheckBox* VerifyBox() const;
  const Verdict& CurrentVerdict() const { return m_verdict.Current(); }
  // The log lines as added, "\n" characters included.
  std::vector<std::string> LogLines() const;

  const CSettingsModel& Model() const { return m_model; }
  const CWindowTimers& Timers() const { return *m_timers; }
  // The worker thread exists and has not finished ending.
  bool WorkerRunning() const;
  // Worker view calls queued for the window's thread.
  size_t PendingViewCalls() const { return m_bridge->Pending(); }
  QAction* AboutAction() const { return m_aboutAction; }
  // "Factory view..." (context menu, Ctrl+F): the settings applied to many boards.
  QAction* FactoryAction() const { return m_factoryAction; }
  // The factory view while it is open from this window, else nullptr.
  CFactoryDlg* Factory() const { return m_factory.get(); }

  // The commands, as the buttons run them.
  void OnOpen();
  void OnLink();
  void OnStop();
  void OnClear();
  void OnAppFile();
  void OnSaveAs();
  void OnAbout();
  void OnFactory();
  // "Save log…" (context menu of the log, Ctrl+S): the lines as shown.
  void OnSaveLog();
  void CopyLogSelection();
  QAction* TimeStampAction() const { return m_timeStampAction; }

  // Selection handlers: run for the user's choices only.
  void OnFlashTypeChanged();
  void OnXtalChanged();

  // A message from the worker, as the window's thread receives it.
  void OnWindowMessage(uint32_t msg, uint32_t wParam, int32_t lParam);

  static constexpr const char* kAppFileFilter = "*.bin;*.dat (*.bin *.dat);; *.* (*)";
  static constexpr const char* kDumpFileFilter = "*.* (*)";
  // The longest the window's thread waits for the worker as it closes.
  static constexpr std::chrono::milliseconds kCloseWait{150};
  // Where cfg.ini keeps the window's own choices, apart from Setting.
  static constexpr const char* kWindowSection = "TqUpdaterWindow";
  static constexpr const char* kVerifyKey = "Verify";

  // The machine's serial ports, offered after cfg.ini's entries; a test
  // names its own.
  using PortLister = std::function<std::vector<SerialPortInfo>()>;
  void SetPortLister(PortLister lister);
  void RefreshSystemPorts();

public slots:
  // Every way of closing ends here: stops the worker and closes its port first.
  void done(int result) override;

protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  // An image file dropped on the window is chosen as "AppFile" chooses it.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

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
  void SetUpStatusControls();
  void SetUpLogActions();
  void SetUpFactoryAction();
  // The AppFile choice after the dialog or a drop, with its checks.
  void TakeAppFile(const QString& path);
  QString ShownLine(const QListWidgetItem* item) const;
  void ShowLogTimes();

  // Status: the verdict, the figures beside the bar, the files chosen.
  void ShowVerdict();
  void ShowMeter();
  void ShowFile(int id, const std::string& path);
  // A program turns into program-and-read-back when Verify is checked.
  void AdjustStart(UpdateSettings& settings);
  void LogStartedUpdate();
  // The worker's reports; a failed open is logged and its text kept for
  // the box the worker shows next. Returns that text.
  std::string TakeReports();
  // The worker's notice that reports wait: invoked by name through the
  // window's queue, so that no functor made on the worker's thread is run on
  // the window's (Qt hands queued calls over with locks the thread sanitizer
  // cannot see; a call by name carries no data of ours across).
  Q_INVOKABLE void TakePostedReports();
  std::string ReportPortFailure(PortOpenResult result);
  PortPlace CurrentPlace() const;
  void OnUpdateEnded();
  std::optional<VerifyReport> CompareWithImage();
  void SaveVerifyChoice(bool on);

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
  CReadBackFiles m_readBackFiles{m_files};
  std::unique_ptr<CConfigBatchSource> m_batch;
  std::unique_ptr<CSwitchedBatch> m_runBatch;
  CUpdateWatch m_watch;
  CVerdict m_verdict;
  QTimer* m_meterTimer = nullptr;  // child of the window
  // The update under way, as it was started.
  struct RunInfo {
    bool readBack = false;
    std::string image;
    int32_t length = 0;
  } m_run;
  std::optional<UpdateOutcome> m_outcome;
  PortLister m_portLister;
  std::vector<SerialPortInfo> m_systemPorts;
  std::string m_openDevice;  // a system port chosen at the last Open
  std::string m_openFailure; // why the last open failed, until its box shows it
  std::unique_ptr<CUIThread> m_worker;
  QAction* m_aboutAction = nullptr;
  QAction* m_factoryAction = nullptr;
  std::unique_ptr<CFactoryDlg> m_factory;
  QAction* m_timeStampAction = nullptr;
  QAction* m_saveLogAction = nullptr;
  bool m_closing = false;
};
