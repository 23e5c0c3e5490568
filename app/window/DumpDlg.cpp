#include "app/window/DumpDlg.h"

#include "core/Messages.h"
#include "app/window/ConsoleBox.h"
#include "app/window/FactoryDlg.h"
#include "comm/UIThread.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace {

void Fill(QComboBox* box, const std::vector<std::string>& entries) {
  const QSignalBlocker quiet(box);
  box->clear();
  for (const auto& e : entries) box->addItem(QString::fromStdString(e));
}

// Selecting by program: a position outside the list leaves it without a selection.
void Select(QComboBox* box, int32_t pos) {
  const QSignalBlocker quiet(box);
  box->setCurrentIndex(pos >= 0 && pos < box->count() ? pos : -1);
}

}  // namespace

CDumpDlg::CDumpDlg(CDumpApp& app, IWindowPrompts& prompts, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_app(app),
      m_prompts(prompts),
      m_model(CConfigFile::InFolder(app.m_strConfigDir)) {
  m_builder = std::make_unique<CDialogBuilder>(*this, layout::MainWindow());
  m_timers = new CWindowTimers(this);
  m_bridge = new CViewBridge(static_cast<IDlgView&>(*this), this);
  m_logic = std::make_unique<CDlgLogic>(m_app, m_model, static_cast<IDlgView&>(*this), *m_timers);
  m_timers->onTick = [this](uint32_t id) { m_logic->OnTimerTick(id); };
  m_logic->SetProgressHandler([this](int32_t percent) { ProgressBar()->setValue(percent); });

  // Initialisation, in order: the fixed lists, the About command, caption and
  // icon, the remembered selections and the lists from cfg.ini, the empty
  // file choices, the flash models, and last the worker.
  FillFixedLists();
  ShowSelections();
  m_aboutAction = new QAction(QStringLiteral("About TqDump(&A)..."), this);
  m_aboutAction->setShortcut(QKeySequence(Qt::Key_F1));
  m_aboutAction->setShortcutContext(Qt::WindowShortcut);
  addAction(m_aboutAction);
  setContextMenuPolicy(Qt::ActionsContextMenu);
  connect(m_aboutAction, &QAction::triggered, this, &CDumpDlg::OnAbout);
  SetUpFactoryAction();
  setWindowTitle(QString::fromUtf8(APP_VERSION_BANNER));
  setWindowIcon(TqUpdaterIcon());
  m_model.Load();
  FillListsFromModel();
  ShowSelections();
  ProgressBar()->setValue(0);
  m_app.m_settings.m_strAppFile.clear();
  m_app.m_settings.m_nAppFileSize = 0;
  m_app.m_settings.m_strDumpFile.clear();
  LoadFlashModels();
  ConnectCommands();
  SetUpStatusControls();
  StartWorker();
}

CDumpDlg::~CDumpDlg() {
  Shutdown();
  // The window is gone by now; a worker still deep in a step is waited for here.
  m_worker.reset();
}

QComboBox* CDumpDlg::List(int id) const { return qobject_cast<QComboBox*>(Control(id)); }
QPushButton* CDumpDlg::Button(int id) const { return qobject_cast<QPushButton*>(Control(id)); }
QListWidget* CDumpDlg::Log() const { return qobject_cast<QListWidget*>(Control(ctl::LOG_LIST)); }
CConsoleBox* CDumpDlg::Console() const { return qobject_cast<CConsoleBox*>(Control(ctl::CONSOLE_EDIT)); }
QProgressBar* CDumpDlg::ProgressBar() const { return qobject_cast<QProgressBar*>(Control(ctl::PROGRESS_BAR)); }
QLabel* CDumpDlg::Label(int id) const { return qobject_cast<QLabel*>(Control(id)); }
QCheckBox* CDumpDlg::VerifyBox() const { return qobject_cast<QCheckBox*>(Control(wctl::VERIFY_CHECK)); }

std::vector<std::string> CDumpDlg::LogLines() const {
  std::vector<std::string> out;
  for (int i = 0; i < Log()->count(); ++i) out.push_back(Log()->item(i)->data(Qt::UserRole).toString().toStdString());
  return out;
}

void CDumpDlg::FillFixedLists() {
  Fill(List(ctl::PARITY_LIST), ParityEntries());
  Fill(List(ctl::DATABITS_LIST), DataBitsEntries());
  Fill(List(ctl::STOPBITS_LIST), StopBitsEntries());
  for (int id : {ctl::BASE1_LIST, ctl::LENGTH1_LIST}) Fill(List(id), HighDigitEntries());
  for (int id : {ctl::BASE2_LIST, ctl::LENGTH2_LIST}) Fill(List(id), MidDigitEntries());
  for (int id : {ctl::BASE3_LIST, ctl::LENGTH3_LIST}) Fill(List(id), LowDigitEntries());
  Fill(List(ctl::FLASHTYPE_LIST), FlashTypeEntries());
}

void CDumpDlg::FillListsFromModel() {
  Fill(List(ctl::PORT_LIST), m_model.m_ports);
  Fill(List(ctl::BAUD_LIST), m_model.m_bauds);
  Fill(List(ctl::CHIPMODEL_LIST), m_model.m_chipModels);
  Fill(List(ctl::RAMTYPE_LIST), m_model.m_ramTypes);
  Fill(List(ctl::RAMSIZE_LIST), m_model.m_ramSizes);
  Fill(List(ctl::XTAL_LIST), m_model.m_xtals);
  Fill(List(ctl::ACT_LIST), m_model.m_acts);
}

void CDumpDlg::LoadFlashModels() {
  Fill(List(ctl::FLASHMODEL_LIST), m_model.m_flashModels);
  Select(List(ctl::FLASHMODEL_LIST), m_model.m_sel.m_nFlashModelSel);
}

void CDumpDlg::ReadSelections() {
  DlgSelections& s = m_model.m_sel;
  auto pos = [this](int id) { return static_cast<int32_t>(List(id)->currentIndex()); };
  s.m_nRamTypeSel = pos(ctl::RAMTYPE_LIST);
  s.m_nRamSizeSel = pos(ctl::RAMSIZE_LIST);
  s.m_nXtalSel = pos(ctl::XTAL_LIST);
  s.m_nActSel = pos(ctl::ACT_LIST);
  s.m_nBaseSel = {pos(ctl::BASE1_LIST), pos(ctl::BASE2_LIST), pos(ctl::BASE3_LIST)};
  s.m_nLengthSel = {pos(ctl::LENGTH1_LIST), pos(ctl::LENGTH2_LIST), pos(ctl::LENGTH3_LIST)};
  s.m_nFlashTypeSel = pos(ctl::FLASHTYPE_LIST);
  s.m_nFlashModelSel = pos(ctl::FLASHMODEL_LIST);
  s.m_nChipModelSel = pos(ctl::CHIPMODEL_LIST);
  s.m_nPortSel = pos(ctl::PORT_LIST);
  s.m_nBaudSel = pos(ctl::BAUD_LIST);
  s.m_nParitySel = pos(ctl::PARITY_LIST);
  s.m_nDataBitsSel = pos(ctl::DATABITS_LIST);
  s.m_nStopBitsSel = pos(ctl::STOPBITS_LIST);
}

void CDumpDlg::ShowSelections() {
  const DlgSelections& s = m_model.m_sel;
  Select(List(ctl::PORT_LIST), s.m_nPortSel);
  Select(List(ctl::BAUD_LIST), s.m_nBaudSel);
  Select(List(ctl::PARITY_LIST), s.m_nParitySel);
  Select(List(ctl::DATABITS_LIST), s.m_nDataBitsSel);
  Select(List(ctl::STOPBITS_LIST), s.m_nStopBitsSel);
  Select(List(ctl::CHIPMODEL_LIST), s.m_nChipModelSel);
  Select(List(ctl::RAMTYPE_LIST), s.m_nRamTypeSel);
  Select(List(ctl::RAMSIZE_LIST), s.m_nRamSizeSel);
  Select(List(ctl::ACT_LIST), s.m_nActSel);
  const int base[] = {ctl::BASE1_LIST, ctl::BASE2_LIST, ctl::BASE3_LIST};
  const int length[] = {ctl::LENGTH1_LIST, ctl::LENGTH2_LIST, ctl::LENGTH3_LIST};
  for (size_t i = 0; i < 3; ++i) {
    Select(List(base[i]), s.m_nBaseSel[i]);
    Select(List(length[i]), s.m_nLengthSel[i]);
  }
  Select(List(ctl::FLASHTYPE_LIST), s.m_nFlashTypeSel);
  Select(List(ctl::FLASHMODEL_LIST), s.m_nFlashModelSel);
  Select(List(ctl::XTAL_LIST), s.m_nXtalSel);
}

void CDumpDlg::ConnectCommands() {
  const std::pair<int, void (CDumpDlg::*)()> buttons[] = {
      {ctl::OPEN_BUTTON, &CDumpDlg::OnOpen},       {ctl::LINK_BUTTON, &CDumpDlg::OnLink},
      {ctl::CANCEL_BUTTON, &CDumpDlg::OnStop},     {ctl::CLEAR_BUTTON, &CDumpDlg::OnClear},
      {ctl::APPFILE_BUTTON, &CDumpDlg::OnAppFile}, {ctl::SAVEAS_BUTTON, &CDumpDlg::OnSaveAs}};
  for (const auto& [id, handler] : buttons) connect(Button(id), &QPushButton::clicked, this, handler);
  Button(ctl::LINK_BUTTON)->setEnabled(false);
  Button(ctl::CANCEL_BUTTON)->setEnabled(false);
  // activated() comes from the user's choices only; selecting by program runs no handler.
  connect(List(ctl::FLASHTYPE_LIST), &QComboBox::activated, this, &CDumpDlg::OnFlashTypeChanged);
  connect(List(ctl::XTAL_LIST), &QComboBox::activated, this, &CDumpDlg::OnXtalChanged);
}

void CDumpDlg::StartWorker() {
  m_batch = std::make_unique<CConfigBatchSource>(m_model.Config());
  m_runBatch = std::make_unique<CSwitchedBatch>(*m_batch);
  // The worker's reports are looked at on the window's thread.
  m_watch.SetNotify([this] { QMetaObject::invokeMethod(this, "TakePostedReports", Qt::QueuedConnection); });
  m_worker = std::make_unique<CUIThread>(UIThreadDeps{*m_bridge, m_readBackFiles, *m_runBatch, &m_watch,
                                                      m_app.m_strConfigDir, &m_app.m_dwWorkerThreadId, nullptr, {}});
  if (!m_worker->CreateThread()) m_worker.reset();
}

void CDumpDlg::Shutdown() {
  if (m_closing) return;
  m_closing = true;
  m_timers->KillAll();
  m_meterTimer->stop();
  // The update stops first; the quit behind it ends the worker, which closes its port.
  if (const uint32_t worker = m_app.m_dwWorkerThreadId.load(); worker != 0)
    PostThreadMessage(worker, WM_UPDATE_STOP, 1, 1);
  // Release a worker that waits for a view call; later calls do nothing.
  m_bridge->Close();
  if (!m_worker) return;
  m_worker->RequestStop();
  // A worker between steps ends at once; one deep in a step is joined when
  // the window object goes, never while the window waits for it here.
  if (m_worker->WaitEnded(kCloseWait)) m_worker.reset();
}

void CDumpDlg::done(int result) {
  Shutdown();
  // The lists are read into the positions; nothing is written to cfg.ini.
  ReadSelections();
  QDialog::done(result);
}

void CDumpDlg::closeEvent(QCloseEvent* event) {
  // Closing mid-update asks first; the default answer keeps it running.
  if (!m_closing && m_verdict.UpdateRunning() && !m_prompts.ConfirmStop(this)) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void CDumpDlg::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  // Enter on a button presses it. Anywhere else Enter, and Esc always, do
  // nothing: no stray key ends the window, least of all mid-update.
  if (event->key() == Qt::Key_Escape || (enter && !qobject_cast<QPushButton*>(focusWidget()))) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}
