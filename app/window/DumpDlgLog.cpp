// The log as an operator uses it: several lines selected and copied, time
// stamps on request, saved to a file; and an image dropped on the window.
#include "app/window/DumpDlg.h"

#include "core/Messages.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QSaveFile>

namespace {

constexpr int kTimeRole = Qt::UserRole + 1;

// The one local file a drag carries, or nothing.
QString DroppedFile(const QMimeData* mime) {
  if (!mime || !mime->hasUrls() || mime->urls().size() != 1) return {};
  const QUrl url = mime->urls().front();
  return url.isLocalFile() ? url.toLocalFile() : QString();
}

}  // namespace

void CDumpDlg::SetUpLogActions() {
  QListWidget* log = Log();
  log->setSelectionMode(QAbstractItemView::ExtendedSelection);
  log->setContextMenuPolicy(Qt::ActionsContextMenu);
  auto* copy = new QAction(tr("Copy"), log);
  copy->setShortcut(QKeySequence::Copy);
  copy->setShortcutContext(Qt::WidgetShortcut);
  connect(copy, &QAction::triggered, this, &CDumpDlg::CopyLogSelection);
  m_timeStampAction = new QAction(tr("Show time stamps"), log);
  m_timeStampAction->setCheckable(true);
  connect(m_timeStampAction, &QAction::toggled, this, &CDumpDlg::ShowLogTimes);
  m_saveLogAction = new QAction(tr("Save log…"), this);
  m_saveLogAction->setShortcut(QKeySequence::Save);
  m_saveLogAction->setShortcutContext(Qt::WindowShortcut);
  connect(m_saveLogAction, &QAction::triggered, this, &CDumpDlg::OnSaveLog);
  addAction(m_saveLogAction);
  log->addActions({copy, m_timeStampAction, m_saveLogAction});
  setAcceptDrops(true);
}

QString CDumpDlg::ShownLine(const QListWidgetItem* item) const {
  QString shown = item->data(Qt::UserRole).toString();
  shown.remove(QLatin1Char('\r'));
  shown.replace(QLatin1Char('\n'), QLatin1Char(' '));
  shown = shown.trimmed();
  if (m_timeStampAction && m_timeStampAction->isChecked())
    shown = item->data(kTimeRole).toDateTime().toString(QStringLiteral("HH:mm:ss.zzz  ")) + shown;
  return shown;
}

void CDumpDlg::AppendLogLine(const std::string& text) {
  // The list keeps each line as it came, and when; it shows it without its line breaks.
  auto* item = new QListWidgetItem();
  item->setData(Qt::UserRole, QString::fromStdString(text));
  item->setData(kTimeRole, QDateTime::currentDateTime());
  item->setText(ShownLine(item));
  Log()->addItem(item);
  Log()->scrollToBottom();
}

void CDumpDlg::ShowLogTimes() {
  for (int i = 0; i < Log()->count(); ++i) Log()->item(i)->setText(ShownLine(Log()->item(i)));
}

void CDumpDlg::CopyLogSelection() {
  QStringList lines;
  // In the log's order, whatever order they were selected in.
  for (int i = 0; i < Log()->count(); ++i)
    if (Log()->item(i)->isSelected()) lines << Log()->item(i)->text();
  if (!lines.isEmpty()) QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void CDumpDlg::OnSaveLog() {
  const QString path = m_prompts.SaveFile(this, QStringLiteral("Log (*.log *.txt);; *.* (*)"));
  if (path.isEmpty()) return;
  // Written beside and moved into place: a full disk leaves no half log.
  QSaveFile file(path);
  bool ok = file.open(QIODevice::WriteOnly | QIODevice::Text);
  for (int i = 0; ok && i < Log()->count(); ++i) ok = file.write((Log()->item(i)->text() + '\n').toUtf8()) >= 0;
  if (ok) ok = file.commit();
  if (!ok) {
    const QString why = file.errorString();
    file.cancelWriting();
    m_prompts.Message(this, tr("Can't save the log in %1: %2").arg(path, why), QCoreApplication::applicationName());
  }
}

void CDumpDlg::dragEnterEvent(QDragEnterEvent* event) {
  if (!DroppedFile(event->mimeData()).isEmpty() && Button(ctl::APPFILE_BUTTON)->isEnabled())
    event->acceptProposedAction();
}

void CDumpDlg::dropEvent(QDropEvent* event) {
  const QString path = DroppedFile(event->mimeData());
  if (path.isEmpty() || m_closing) return;
  event->acceptProposedAction();
  TakeAppFile(path);
}
