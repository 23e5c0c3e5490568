// The factory view: the main window's settings applied to a set of boards
// at once through the production library. Each board is a row of the table
// (port, state, progress with rate, passed and failed counts, last
// duration); Start all, Stop all, stop one, station mode and the report.
//
// Threads: the library's board threads reach the view only through the
// boards model (CFactoryBoards), which keeps the latest state under a mutex;
// a timer on the window's thread redraws the changed rows ten times a
// second. Closing the view while boards run asks first, then stops them all
// and closes once they have wound down, the window's thread never blocking.
#pragma once

#include "app/window/FactoryBoards.h"
#include "app/window/FactoryFiles.h"
#include "app/window/FactoryJob.h"
#include "app/window/WindowTimers.h"
#include "comm/SerialPorts.h"
#include "core/SettingsModel.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CFactoryTable;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTableView;
class QTimer;

class CFactoryDlg : public QDialog {
  Q_OBJECT
public:
  // `model` holds the main window's selections; `choices` its image or dump
  // file and verify; cfg.ini and the counts file lie in `configDir`.
  CFactoryDlg(IWindowPrompts& prompts, CSettingsModel model, FactoryChoices choices, std::string configDir,
              QWidget* parent = nullptr);
  ~CFactoryDlg() override;

  using PortLister = std::function<std::vector<SerialPortInfo>()>;
  void SetPortLister(PortLister lister);
  void RefreshPorts();

  // The commands, as the buttons run them.
  void OnAddPort();
  void OnRemove();
  void OnLoadStation();
  void OnSaveStation();
  void OnChooseReport();
  void OnChooseFile();
  bool OnStartAll();  // false when the run was refused
  void OnStopAll();
  void OnStopOne();

  // Adds a port as a row; false (with a message) for an empty one or one already there.
  bool AddPort(const std::string& port);
  bool LoadStation(const std::string& path);
  bool Running() const;
  const std::vector<std::string>& Ports() const { return m_ports; }
  CFactoryBoards& Boards() { return m_boards; }
  const CFactoryTable& Table() const { return *m_table; }
  QTableView* TableView() const { return m_view; }
  QListWidget* LogPane() const { return m_log; }
  QLabel* MessageLine() const { return m_message; }
  QPushButton* Button(const char* name) const;
  QLineEdit* ReportField() const { return m_report; }
  QLineEdit* FileField() const { return m_file; }
  QComboBox* PortPicker() const { return m_portPick; }
  QCheckBox* StationBox() const { return m_station; }
  const CCountsStore& Counts() const { return m_counts; }
  // The exit status of the last run as the command line gives it; -1 before one ended.
  int LastExitStatus() const { return m_lastExit; }
  // Runs the repaint tick now (tests and the benchmark).
  void Tick();

  static constexpr int kTickMs = 100;
  static constexpr const char* kStationFilter = "*.txt (*.txt);; *.* (*)";
  static constexpr const char* kReportFilter = "*.jsonl (*.jsonl);; *.* (*)";

public slots:
  void done(int result) override;

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  void BuildControls();
  QWidget* BuildJobBox();
  QWidget* BuildBoardsBox();
  QWidget* BuildRunBox();
  QPushButton* AddButton(const QString& text, const char* name, std::function<void()> action);
  void SetPorts(std::vector<std::string> ports);
  void ShowJob();
  void ShowSelectedLog(bool force);
  void UpdateControls();
  void SaveNewCounts();
  void RunEnded();
  // Every way of closing comes here; false when the view stays open.
  bool RequestClose();
  void ShowMessage(const std::string& text, bool box);
  FactoryChoices CurrentChoices() const;

  IWindowPrompts& m_prompts;
  CSettingsModel m_model;
  FactoryChoices m_choices;
  std::string m_configDir;
  CCountsStore m_counts;
  std::vector<std::string> m_ports;
  CFactoryBoards m_boards;                // outlives the run, which calls it
  std::unique_ptr<CProduction> m_prod;    // the run under way, if any
  PortLister m_portLister;
  CFactoryTable* m_table = nullptr;       // children of the view
  QTableView* m_view = nullptr;
  QListWidget* m_log = nullptr;
  QPlainTextEdit* m_job = nullptr;
  QLineEdit* m_file = nullptr;
  QLineEdit* m_report = nullptr;
  QComboBox* m_portPick = nullptr;
  QCheckBox* m_station = nullptr;
  QLabel* m_message = nullptr;
  QTimer* m_tick = nullptr;
  size_t m_logBoard = static_cast<size_t>(-1);
  uint64_t m_logGeneration = 0;
  int m_lastExit = -1;
  bool m_closeWhenStopped = false;
  bool m_stopping = false;
};
