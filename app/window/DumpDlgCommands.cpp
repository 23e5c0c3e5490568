// The window's commands and the view calls it carries out on its own thread.
#include "app/window/AboutDlg.h"
#include "app/window/ConsoleBox.h"
#include "app/window/DumpDlg.h"

#include "core/Messages.h"

#include <QComboBox>
#include <QLabel>
#include <QCoreApplication>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <chrono>
#include <utility>

void CDumpDlg::OnOpen() {
  if (m_closing) return;
  // The open request carries the settings text of the lists as they are now.
  ReadSelections();
  // A system port after cfg.ini's entries is opened by its device path.
  const auto pos = static_cast<size_t>(std::max(0, m_model.m_sel.m_nPortSel));
  const size_t configured = m_model.m_ports.size();
  m_openDevice = pos >= configured && pos - configured < m_systemPorts.size() ? m_systemPorts[pos - configured].device
                                                                              : std::string();
  m_logic->SetDevicePath(m_openDevice);
  m_logic->OnOpen();
}

void CDumpDlg::OnLink() {
  if (m_closing) return;
  ReadSelections();
  if (m_logic->OnLink()) LogStartedUpdate();
}

void CDumpDlg::OnStop() {
  if (m_closing) return;
  ReadSelections();
  m_logic->OnStop();
  m_verdict.Cancelled();
  ShowVerdict();
  ShowMeter();
  m_meterTimer->stop();
  Log()->setFocus();
}

void CDumpDlg::OnClear() {
  Console()->ClearAll();
  Log()->clear();
}

void CDumpDlg::OnAppFile() {
  const QString path = m_prompts.OpenFile(this, QString::fromUtf8(kAppFileFilter));
  if (path.isEmpty() || m_closing) return;
  TakeAppFile(path);
}

void CDumpDlg::TakeAppFile(const QString& path) {
  // A refused file (too large, unreadable) clears the choice; the box says why.
  auto refusal = m_logic->ChooseAppFile(path.toStdString());
  ShowFile(wctl::APPFILE_LABEL, m_app.m_settings.m_strAppFile);
  if (refusal) m_prompts.Message(this, QString::fromStdString(refusal->text), QCoreApplication::applicationName());
}

void CDumpDlg::OnSaveAs() {
  // The save dialog has no owner, as the dump file is not the window's business.
  const QString path = m_prompts.SaveFile(nullptr, QString::fromUtf8(kDumpFileFilter));
  if (path.isEmpty() || m_closing) return;
  // A path that cannot be created is kept; the dump reports it when it begins.
  m_logic->ChooseDumpFile(path.toStdString());
  ShowFile(wctl::DUMPFILE_LABEL, m_app.m_settings.m_strDumpFile);
}

void CDumpDlg::OnAbout() {
  CAboutDlg about(this);
  about.exec();
}

void CDumpDlg::OnFlashTypeChanged() {
  m_model.m_sel.m_nFlashTypeSel = List(ctl::FLASHTYPE_LIST)->currentIndex();
  m_model.OnFlashTypeChanged();
  LoadFlashModels();
}

void CDumpDlg::OnXtalChanged() {
  m_model.m_sel.m_nXtalSel = List(ctl::XTAL_LIST)->currentIndex();
  m_model.OnXtalChanged();
  const QSignalBlocker quiet(List(ctl::BAUD_LIST));
  const int baud = m_model.m_sel.m_nBaudSel;
  List(ctl::BAUD_LIST)->setCurrentIndex(baud < List(ctl::BAUD_LIST)->count() ? baud : -1);
}

void CDumpDlg::OnWindowMessage(uint32_t msg, uint32_t wParam, int32_t lParam) {
  if (m_closing) return;
  const auto now = std::chrono::steady_clock::now();
  if (msg == WM_UPDATE_END) {
    ReadSelections();
    OnUpdateEnded();
  } else if (msg == WM_UPDATE_TIMER && wParam == ID_TIMER_WAIT && lParam <= 0) {
    m_verdict.BoardHeard(now);  // the chip asked for the update
    ShowVerdict();
  } else if (msg == WM_UPDATE_PROGRESS) {
    m_verdict.Progress(lParam, now);
    ShowVerdict();
    ShowMeter();
  }
  m_logic->OnWindowMessage(msg, wParam, lParam);
  // The stop sequence disabled the buttons; the focus goes where no key does harm.
  if (msg == WM_UPDATE_END) Log()->setFocus();
}

void CDumpDlg::AppendConsoleChar(char ch) { Console()->AppendChar(ch); }

void CDumpDlg::SetControlText(int id, const std::string& text) {
  if (auto* button = Button(id)) button->setText(QString::fromStdString(text));
}

void CDumpDlg::EnableControl(int id, bool enable) {
  if (QWidget* w = Control(id)) w->setEnabled(enable);
}

std::string CDumpDlg::GetControlText(int id) {
  if (auto* button = Button(id)) return button->text().toStdString();
  return {};
}

void CDumpDlg::ShowMessageBox(const std::string& text, const std::string& caption) {
  // A failed open was reported just before its box: the box says where and why.
  TakeReports();
  const std::string why = std::exchange(m_openFailure, {});
  const std::string shown = why.empty() ? text : text + "\n\n" + why;
  m_prompts.Message(this, QString::fromStdString(shown), QString::fromStdString(caption));
}

void CDumpDlg::PostWindowMessage(uint32_t msg, uint32_t wParam, int32_t lParam) {
  OnWindowMessage(msg, wParam, lParam);
}
