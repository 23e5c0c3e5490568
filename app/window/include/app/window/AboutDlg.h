// The About box: the program's icon, its platform line and our credits, and
// an OK button.
#pragma once

#include "app/window/DialogBuilder.h"

#include <QDialog>

#include <memory>

class CAboutDlg : public QDialog {
  Q_OBJECT
public:
  explicit CAboutDlg(QWidget* parent = nullptr);
  ~CAboutDlg() override;
  QWidget* Control(int id) const { return m_builder->Control(id); }

private:
  std::unique_ptr<CDialogBuilder> m_builder;
};
