#include "app/window/AboutDlg.h"

#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
  m_builder = std::make_unique<CDialogBuilder>(*this, layout::AboutBox());
  if (auto* ok = qobject_cast<QPushButton*>(Control(1))) {
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  }
  setWindowIcon(TqUpdaterIcon());
}

CAboutDlg::~CAboutDlg() = default;
