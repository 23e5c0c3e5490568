#include "app/window/ConsoleBox.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

CConsoleBox::CConsoleBox(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setUndoRedoEnabled(false);
  setLineWrapMode(QPlainTextEdit::WidgetWidth);
  setWordWrapMode(QTextOption::WrapAnywhere);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  m_flushTimer.setSingleShot(true);
  m_flushTimer.setInterval(kFlushMs);
  connect(&m_flushTimer, &QTimer::timeout, this, &CConsoleBox::Flush);
}

QString CConsoleBox::Shown(unsigned char byte) {
  if (byte == '\n' || byte == '\t') return QString(QChar(byte));
  if (byte == '\r') return QString();
  if (byte < 0x20) return QString(QChar(0x2400 + byte));
  if (byte == 0x7f) return QString(QChar(0x2421));
  if (byte >= 0x80 && byte < 0xa0) return QString(QChar(0xfffd));
  return QString(QChar(byte));
}

void CConsoleBox::AppendChar(char ch) {
  m_pending += Shown(static_cast<unsigned char>(ch));
  // A flood fills the pending text only up to the box's size.
  if (m_pending.size() > kMaxChars) m_pending.remove(0, m_pending.size() - kMaxChars);
  if (!m_flushTimer.isActive()) m_flushTimer.start();
}

void CConsoleBox::ClearAll() {
  m_flushTimer.stop();
  m_pending.clear();
  clear();
}

QString CConsoleBox::Text() {
  Flush();
  return toPlainText();
}

void CConsoleBox::Flush() {
  m_flushTimer.stop();
  if (m_pending.isEmpty()) return;
  QTextDocument* doc = document();
  QTextCursor end(doc);
  end.movePosition(QTextCursor::End);
  end.insertText(m_pending);
  m_pending.clear();
  // characterCount counts the document's closing paragraph mark as well.
  const int excess = doc->characterCount() - 1 - kMaxChars;
  if (excess > 0) {
    QTextCursor head(doc);
    head.movePosition(QTextCursor::Start);
    head.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor, excess);
    head.removeSelectedText();
  }
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}
