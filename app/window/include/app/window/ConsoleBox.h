// The console box (control 1037): the chip's bytes and the update's markers
// as plain text. Every byte is shown as a character of its own and none is
// interpreted: control and escape bytes appear as visible symbols. The box
// keeps at most kMaxChars characters, dropping the oldest, and appends in
// batches so that a chip that talks without pause cannot stall the window.
#pragma once

#include <QPlainTextEdit>
#include <QString>
#include <QTimer>

class CConsoleBox : public QPlainTextEdit {
  Q_OBJECT
public:
  static constexpr int kMaxChars = 32 * 1024;
  static constexpr int kFlushMs = 25;

  explicit CConsoleBox(QWidget* parent = nullptr);

  void AppendChar(char ch);
  void ClearAll();
  // Everything shown, pending characters included.
  QString Text();

  // How one byte is shown: printable text as it is, line feed and tab as
  // such, other control bytes as their Unicode control pictures, DEL as ␡,
  // high bytes of the C1 range as the replacement character, the rest as
  // Latin-1. Carriage returns are dropped (a CR LF pair is one line break).
  static QString Shown(unsigned char byte);

private:
  void Flush();

  QString m_pending;
  QTimer m_flushTimer;
};
