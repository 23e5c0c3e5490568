// The factory view's commands: the boards, the station file, the run.
#include "app/window/FactoryDlg.h"

#include "app/window/FactoryTable.h"
#include "core/UpdateSettings.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>

#include <algorithm>

namespace {

// The selected row, or none.
std::optional<size_t> SelectedRow(const QTableView* view) {
  const QModelIndex current = view->selectionModel()->currentIndex();
  if (!current.isValid()) return std::nullopt;
  return static_cast<size_t>(current.row());
}

}  // namespace

bool CFactoryDlg::AddPort(const std::string& port) {
  if (Running()) return false;
  if (port.empty()) {
    ShowMessage("Name a port to add: pick one of the list or type its path", false);
    return false;
  }
  // What a station file could not hold back is no port either.
  if (std::any_of(port.begin(), port.end(), [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == 0x7F; })) {
    ShowMessage("\"" + port + "\" is not a port: blanks or control characters inside", false);
    return false;
  }
  if (std::find(m_ports.begin(), m_ports.end(), port) != m_ports.end()) {
    ShowMessage(port + " is already a board of this view", false);
    return false;
  }
  auto ports = m_ports;
  ports.push_back(port);
  SetPorts(std::move(ports));
  return true;
}

void CFactoryDlg::OnAddPort() {
  if (AddPort(m_portPick->currentText().trimmed().toStdString())) m_portPick->setCurrentText(QString());
}

void CFactoryDlg::OnRemove() {
  const auto row = SelectedRow(m_view);
  if (Running() || !row || *row >= m_ports.size()) return;
  auto ports = m_ports;
  ports.erase(ports.begin() + static_cast<std::ptrdiff_t>(*row));
  SetPorts(std::move(ports));
}

void CFactoryDlg::SetPorts(std::vector<std::string> ports) {
  m_ports = std::move(ports);
  m_boards.SetPorts(m_ports, m_counts);
  m_table->Reset();
  m_logBoard = static_cast<size_t>(-1);
  m_log->clear();
  UpdateControls();
}

bool CFactoryDlg::LoadStation(const std::string& path) {
  StationFile station;
  if (auto error = LoadStationFile(path, station)) {
    ShowMessage(error->text, true);
    return false;
  }
  SetPorts(station.ports);
  ShowMessage("Loaded " + std::to_string(station.ports.size()) + " ports from " + path, false);
  return true;
}

void CFactoryDlg::OnLoadStation() {
  if (Running()) return;
  const QString path = m_prompts.OpenFile(this, QString::fromLatin1(kStationFilter));
  if (!path.isEmpty()) LoadStation(path.toStdString());
}

void CFactoryDlg::OnSaveStation() {
  const QString path = m_prompts.SaveFile(this, QString::fromLatin1(kStationFilter));
  if (path.isEmpty()) return;
  if (auto error = SaveStationFile(path.toStdString(), m_ports)) ShowMessage(error->text, true);
  else ShowMessage("Saved " + std::to_string(m_ports.size()) + " ports to " + path.toStdString(), false);
}

void CFactoryDlg::OnChooseReport() {
  const QString path = m_prompts.SaveFile(this, QString::fromLatin1(kReportFilter));
  if (!path.isEmpty()) m_report->setText(path);
}

void CFactoryDlg::OnChooseFile() {
  const bool dump = m_model.m_sel.m_nActSel == ACT_DUMP;
  const QString path = dump ? m_prompts.SaveFile(this, QStringLiteral("*.* (*)"))
                            : m_prompts.OpenFile(this, QStringLiteral("*.bin;*.dat (*.bin *.dat);; *.* (*)"));
  if (path.isEmpty()) return;
  m_file->setText(dump ? QString::fromStdString(DumpPatternFor(path.toStdString())) : path);
}

bool CFactoryDlg::Running() const { return m_prod != nullptr; }

bool CFactoryDlg::OnStartAll() {
  if (Running()) return false;
  if (m_ports.empty()) {
    ShowMessage("Add a board first: there is no port to run on", true);
    return false;
  }
  ProductionSetUp setUp;
  setUp.job = MakeFactoryJob(m_model, CurrentChoices());
  setUp.configDir = m_configDir;
  for (const auto& p : m_ports) setUp.boards.push_back(BoardPort{p, PortName(p)});
  setUp.station = m_station->isChecked();
  setUp.reportFile = m_report->text().trimmed().toStdString();
  m_boards.BeginRun(m_counts);
  m_boards.TakeGeneralMessages();
  m_prod = std::make_unique<CProduction>(std::move(setUp), m_boards);
  if (!m_prod->Start()) {
    const auto refusal = m_prod->Refusal();
    m_prod.reset();
    m_boards.TakeGeneralMessages();
    ShowMessage("Not started: " + (refusal ? refusal->text : std::string("refused")), true);
    UpdateControls();
    return false;
  }
  m_stopping = false;
  ShowMessage("Running " + std::to_string(m_ports.size()) + (m_ports.size() == 1 ? " board" : " boards"), false);
  UpdateControls();
  return true;
}

void CFactoryDlg::OnStopAll() {
  if (!Running()) return;
  m_prod->StopAll();
  m_stopping = true;
  ShowMessage("Stopping: every board finishes the block in flight", false);
  UpdateControls();
}

void CFactoryDlg::OnStopOne() {
  const auto row = SelectedRow(m_view);
  if (Running() && row && *row < m_prod->Count()) m_prod->Stop(*row);
}

void CFactoryDlg::Tick() {
  m_table->Refresh();
  SaveNewCounts();
  for (const auto& text : m_boards.TakeGeneralMessages()) ShowMessage(text, false);
  ShowSelectedLog(false);
  if (Running() && m_prod->Finished()) RunEnded();
}

void CFactoryDlg::RunEnded() {
  m_prod->Wait();  // every board thread has ended: returns at once
  m_lastExit = m_prod->ExitStatus();
  m_prod.reset();
  m_table->Refresh();
  SaveNewCounts();
  ShowMessage(m_lastExit == 0 ? "All boards done" : "Run ended; see the failed rows", false);
  UpdateControls();
  if (m_closeWhenStopped) QDialog::done(QDialog::Rejected);
}

void CFactoryDlg::SaveNewCounts() {
  const auto fresh = m_boards.TakeNewCounts();
  if (fresh.empty()) return;
  for (const auto& [port, counts] : fresh) m_counts.Set(port, counts);
  if (auto problem = m_counts.Save()) ShowMessage(*problem, false);
}

void CFactoryDlg::ShowSelectedLog(bool force) {
  const auto row = SelectedRow(m_view);
  const size_t board = row ? *row : static_cast<size_t>(-1);
  const uint64_t generation = m_boards.LogGeneration(board);
  if (!force && board == m_logBoard && generation == m_logGeneration) return;
  m_logBoard = board;
  m_logGeneration = generation;
  m_log->setUpdatesEnabled(false);
  m_log->clear();
  for (const auto& line : m_boards.Log(board)) m_log->addItem(QString::fromStdString(line));
  m_log->scrollToBottom();
  m_log->setUpdatesEnabled(true);
}

void CFactoryDlg::UpdateControls() {
  const bool running = Running();
  for (const char* name : {"add", "remove", "load", "file", "report"}) Button(name)->setEnabled(!running);
  Button("start")->setEnabled(!running && !m_ports.empty());
  Button("stopAll")->setEnabled(running && !m_stopping);
  Button("stopOne")->setEnabled(running);
  m_portPick->setEnabled(!running);
  m_station->setEnabled(!running);
  m_report->setReadOnly(running);
  m_file->setReadOnly(running);
}

bool CFactoryDlg::RequestClose() {
  if (!Running()) return true;
  if (!m_closeWhenStopped) {
    if (!m_prompts.ConfirmStop(this)) return false;
    m_closeWhenStopped = true;
    OnStopAll();
  }
  return false;  // closes once the boards have wound down (RunEnded)
}

void CFactoryDlg::done(int result) {
  if (RequestClose()) QDialog::done(result);
}

void CFactoryDlg::closeEvent(QCloseEvent* event) {
  if (RequestClose()) QDialog::closeEvent(event);
  else event->ignore();
}
