#include "app/window/FactoryDlg.h"

#include "app/window/FactoryTable.h"
#include "core/UpdateSettings.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>

CFactoryDlg::CFactoryDlg(IWindowPrompts& prompts, CSettingsModel model, FactoryChoices choices, std::string configDir,
                         QWidget* parent)
    : QDialog(parent),
      m_prompts(prompts),
      m_model(std::move(model)),
      m_choices(std::move(choices)),
      m_configDir(std::move(configDir)),
      m_counts((std::filesystem::path(m_configDir) / CCountsStore::kFileName).string()) {
  setWindowTitle(QStringLiteral("TqUpdater factory view"));
  setAccessibleName(QStringLiteral("Factory view"));
  setWindowFlag(Qt::WindowMaximizeButtonHint);
  BuildControls();
  if (auto problem = m_counts.Load()) ShowMessage(*problem, false);
  m_portLister = [] { return ListSerialPorts(); };
  RefreshPorts();
  ShowJob();
  m_tick = new QTimer(this);
  connect(m_tick, &QTimer::timeout, this, &CFactoryDlg::Tick);
  m_tick->start(kTickMs);
  UpdateControls();
}

CFactoryDlg::~CFactoryDlg() {
  // The run's threads call the boards model: they end before it goes, and
  // so does the table that reads it.
  m_tick->stop();
  m_prod.reset();
  delete m_view;
  delete m_table;
}

QPushButton* CFactoryDlg::AddButton(const QString& text, const char* name, std::function<void()> action) {
  auto* button = new QPushButton(text, this);
  button->setObjectName(QString::fromLatin1(name));
  button->setAccessibleName(QString(text).remove(QLatin1Char('&')).remove(QStringLiteral("...")));
  button->setAutoDefault(false);
  connect(button, &QPushButton::clicked, this, [action = std::move(action)] { action(); });
  return button;
}

QPushButton* CFactoryDlg::Button(const char* name) const {
  return findChild<QPushButton*>(QString::fromLatin1(name));
}

QWidget* CFactoryDlg::BuildJobBox() {
  auto* box = new QGroupBox(QStringLiteral("Every board gets"), this);
  auto* layout = new QVBoxLayout(box);
  m_job = new QPlainTextEdit(box);
  m_job->setReadOnly(true);
  m_job->setAccessibleName(QStringLiteral("Job"));
  m_job->setMaximumHeight(m_job->fontMetrics().lineSpacing() * 4 + 12);
  m_job->setTabChangesFocus(true);
  layout->addWidget(m_job);
  auto* fileRow = new QHBoxLayout;
  auto* fileLabel = new QLabel(QStringLiteral("&File:"), box);
  m_file = new QLineEdit(box);
  m_file->setAccessibleName(QStringLiteral("Image or dump file pattern"));
  m_file->setText(QString::fromStdString(m_model.m_sel.m_nActSel == ACT_DUMP ? m_choices.dumpPattern : m_choices.image));
  fileLabel->setBuddy(m_file);
  connect(m_file, &QLineEdit::textChanged, this, [this] { ShowJob(); });
  fileRow->addWidget(fileLabel);
  fileRow->addWidget(m_file, 1);
  fileRow->addWidget(AddButton(QStringLiteral("&Browse..."), "file", [this] { OnChooseFile(); }));
  layout->addLayout(fileRow);
  return box;
}

QWidget* CFactoryDlg::BuildBoardsBox() {
  auto* box = new QGroupBox(QStringLiteral("Boards"), this);
  auto* layout = new QVBoxLayout(box);
  auto* addRow = new QHBoxLayout;
  auto* portLabel = new QLabel(QStringLiteral("P&ort:"), box);
  m_portPick = new QComboBox(box);
  m_portPick->setEditable(true);
  m_portPick->setAccessibleName(QStringLiteral("Port to add"));
  m_portPick->setMinimumContentsLength(28);
  portLabel->setBuddy(m_portPick);
  addRow->addWidget(portLabel);
  addRow->addWidget(m_portPick, 1);
  addRow->addWidget(AddButton(QStringLiteral("&Add"), "add", [this] { OnAddPort(); }));
  addRow->addWidget(AddButton(QStringLiteral("&Remove"), "remove", [this] { OnRemove(); }));
  addRow->addWidget(AddButton(QStringLiteral("&Load station..."), "load", [this] { OnLoadStation(); }));
  addRow->addWidget(AddButton(QStringLiteral("Sa&ve station..."), "save", [this] { OnSaveStation(); }));
  layout->addLayout(addRow);
  m_table = new CFactoryTable(m_boards, this);
  m_view = new QTableView(box);
  m_view->setModel(m_table);
  m_view->setAccessibleName(QStringLiteral("Boards"));
  m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_view->setSelectionMode(QAbstractItemView::SingleSelection);
  m_view->verticalHeader()->hide();
  m_view->setWordWrap(false);
  m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().lineSpacing() + 6);
  // Fixed widths but for the port and the state: figures that change ten times a second do not make the columns jump.
  QHeaderView* header = m_view->horizontalHeader();
  const auto width = [this](const char* text) { return m_view->fontMetrics().horizontalAdvance(QLatin1String(text)) + 16; };
  header->setSectionResizeMode(CFactoryTable::PortColumn, QHeaderView::ResizeToContents);
  header->setSectionResizeMode(CFactoryTable::StateColumn, QHeaderView::Stretch);
  header->resizeSection(CFactoryTable::ProgressColumn, width("100 % at 9999.9 KiB/s"));
  for (int column : {CFactoryTable::PassedColumn, CFactoryTable::FailedColumn, CFactoryTable::LastColumn})
    header->resizeSection(column, width("9999.9 s"));
  m_view->setTabKeyNavigation(false);
  // The per-row actions, in the table's context menu.
  auto* stopRow = new QAction(QStringLiteral("S&top this board"), m_view);
  auto* removeRow = new QAction(QStringLiteral("&Remove this board"), m_view);
  removeRow->setShortcut(QKeySequence::Delete);
  removeRow->setShortcutContext(Qt::WidgetShortcut);
  connect(stopRow, &QAction::triggered, this, &CFactoryDlg::OnStopOne);
  connect(removeRow, &QAction::triggered, this, &CFactoryDlg::OnRemove);
  m_view->addAction(stopRow);
  m_view->addAction(removeRow);
  m_view->setContextMenuPolicy(Qt::ActionsContextMenu);
  connect(m_view->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { ShowSelectedLog(true); });
  m_log = new QListWidget(box);
  m_log->setAccessibleName(QStringLiteral("Log of the selected board"));
  auto* split = new QSplitter(Qt::Vertical, box);
  split->addWidget(m_view);
  split->addWidget(m_log);
  split->setStretchFactor(0, 4);
  split->setStretchFactor(1, 1);
  layout->addWidget(split, 1);
  return box;
}

QWidget* CFactoryDlg::BuildRunBox() {
  auto* box = new QWidget(this);
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* reportRow = new QHBoxLayout;
  auto* reportLabel = new QLabel(QStringLiteral("Re&port file:"), box);
  m_report = new QLineEdit(box);
  m_report->setAccessibleName(QStringLiteral("Report file"));
  m_report->setPlaceholderText(QStringLiteral("none: no report"));
  reportLabel->setBuddy(m_report);
  reportRow->addWidget(reportLabel);
  reportRow->addWidget(m_report, 1);
  reportRow->addWidget(AddButton(QStringLiteral("C&hoose..."), "report", [this] { OnChooseReport(); }));
  layout->addLayout(reportRow);
  auto* buttons = new QHBoxLayout;
  m_station = new QCheckBox(QStringLiteral("Station &mode"), box);
  m_station->setAccessibleName(QStringLiteral("Station mode"));
  m_station->setToolTip(QStringLiteral("A board, once done, waits on its port for the next"));
  buttons->addWidget(m_station);
  buttons->addStretch(1);
  buttons->addWidget(AddButton(QStringLiteral("&Start all"), "start", [this] { OnStartAll(); }));
  buttons->addWidget(AddButton(QStringLiteral("S&top all"), "stopAll", [this] { OnStopAll(); }));
  buttons->addWidget(AddButton(QStringLiteral("Stop o&ne"), "stopOne", [this] { OnStopOne(); }));
  layout->addLayout(buttons);
  m_message = new QLabel(box);
  m_message->setAccessibleName(QStringLiteral("Message"));
  m_message->setWordWrap(true);
  m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(m_message);
  return box;
}

void CFactoryDlg::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(BuildJobBox());
  layout->addWidget(BuildBoardsBox(), 1);
  layout->addWidget(BuildRunBox());
  resize(760, 620);
}

void CFactoryDlg::SetPortLister(PortLister lister) {
  m_portLister = std::move(lister);
  RefreshPorts();
}

void CFactoryDlg::RefreshPorts() {
  const QString typed = m_portPick->currentText();
  m_portPick->clear();
  // The by-id name stays the same whichever USB socket the adapter is in.
  for (const auto& p : m_portLister ? m_portLister() : std::vector<SerialPortInfo>{})
    m_portPick->addItem(QString::fromStdString(p.byId.empty() ? p.device : p.byId));
  m_portPick->setCurrentText(typed);
}

void CFactoryDlg::ShowJob() {
  const auto lines = DescribeFactoryJob(m_model, CurrentChoices());
  QString text;
  for (const auto& l : lines) text += (text.isEmpty() ? QString() : QStringLiteral("\n")) + QString::fromStdString(l);
  m_job->setPlainText(text);
}

FactoryChoices CFactoryDlg::CurrentChoices() const {
  FactoryChoices c = m_choices;
  const std::string file = m_file->text().toStdString();
  if (m_model.m_sel.m_nActSel == ACT_DUMP) c.dumpPattern = file;
  else c.image = file;
  return c;
}

void CFactoryDlg::ShowMessage(const std::string& text, bool box) {
  m_message->setText(QString::fromStdString(text));
  if (box) m_prompts.Message(this, QString::fromStdString(text), QStringLiteral("Factory view"));
}
