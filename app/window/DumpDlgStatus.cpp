// The window's status: the verdict line, the figures beside the bar, the
// chosen files, the read-back after a program and the worker's reports.
#include "app/window/ConsoleBox.h"
#include "app/window/DumpDlg.h"

#include "comm/UIThread.h"
#include "comm/platform/SerialPlatform.h"
#include "core/Messages.h"
#include "core/Profile.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QTimer>

namespace {

const char* VerdictColour(VerdictKind kind) {
  switch (kind) {
    case VerdictKind::Ready: return "#404040";
    case VerdictKind::Waiting: return "#a05a00";
    case VerdictKind::Running: return "#1f4fa0";
    case VerdictKind::Done: return "#137a13";
    case VerdictKind::Failed: return "#c01414";
  }
  return "#404040";
}

}  // namespace

bool CDumpDlg::WorkerRunning() const { return m_worker && !m_worker->WaitEnded(std::chrono::milliseconds(0)); }

void CDumpDlg::SetUpStatusControls() {
  m_meterTimer = new QTimer(this);
  m_meterTimer->setInterval(250);
  connect(m_meterTimer, &QTimer::timeout, this, &CDumpDlg::ShowMeter);
  m_logic->SetStartAdjuster([this](UpdateSettings& s) { AdjustStart(s); });
  const bool verify = ReadProfileInt(kWindowSection, kVerifyKey, 1, m_model.Config().Path()) != 0;
  VerifyBox()->setChecked(verify);
  VerifyBox()->setToolTip(tr("After a program, read the range back and compare it with the image"));
  connect(VerifyBox(), &QCheckBox::toggled, this, &CDumpDlg::SaveVerifyChoice);
  for (int id : {wctl::APPFILE_LABEL, wctl::DUMPFILE_LABEL}) ShowFile(id, {});
  Label(wctl::STATUS_LINE)->setWordWrap(false);
  ShowVerdict();
  SetUpLogActions();
  RefreshSystemPorts();
  List(ctl::PORT_LIST)->installEventFilter(this);
}

void CDumpDlg::SaveVerifyChoice(bool on) {
  if (!WriteProfileString(kWindowSection, kVerifyKey, on ? "1" : "0", m_model.Config().Path()))
    AppendLogLine("Can't save the Verify choice in " + m_model.Config().Path() + ".\n");
}

void CDumpDlg::ShowVerdict() {
  QLabel* line = Label(wctl::STATUS_LINE);
  const Verdict& v = m_verdict.Current();
  const QString text = QString::fromStdString(v.text);
  line->setText(line->fontMetrics().elidedText(text, Qt::ElideRight, line->width()));
  line->setToolTip(text);
  line->setStyleSheet(QStringLiteral("QLabel { color: %1; font-weight: bold; }").arg(VerdictColour(v.kind)));
  // Assistive tools hear the whole verdict; an ending is announced as an alert.
  line->setAccessibleName(text);
  QAccessibleEvent changed(line, QAccessible::NameChanged);
  QAccessible::updateAccessibility(&changed);
  if (v.kind == VerdictKind::Done || v.kind == VerdictKind::Failed) {
    QAccessibleEvent alert(line, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
  }
}

void CDumpDlg::ShowMeter() {
  Label(wctl::METER_LABEL)->setText(QString::fromStdString(m_verdict.MeterText(std::chrono::steady_clock::now())));
}

void CDumpDlg::ShowFile(int id, const std::string& path) {
  QLabel* label = Label(id);
  const QString full = QString::fromStdString(path);
  const QString shown = full.isEmpty() ? tr("(none)") : full;
  const QString prefix = id == wctl::APPFILE_LABEL ? tr("Image: ") : tr("Dump: ");
  const int room = label->width() - label->fontMetrics().horizontalAdvance(prefix);
  label->setText(prefix + label->fontMetrics().elidedText(shown, Qt::ElideMiddle, room));
  label->setToolTip(full);
  label->setAccessibleName((id == wctl::APPFILE_LABEL ? tr("Application file: ") : tr("Dump file: ")) + shown);
}

void CDumpDlg::AdjustStart(UpdateSettings& s) {
  m_run = RunInfo{};
  m_outcome.reset();
  m_watch.Take();  // reports of an earlier update are not this one's
  m_run.readBack = s.m_nAct == ACT_PROGRAM && VerifyBox()->isChecked();
  if (m_run.readBack) {
    // Program, then read the range back into memory, in the same session.
    m_run.image = s.m_strAppFile;
    m_run.length = static_cast<int32_t>(s.m_nAppFileSize);
    m_runBatch->Use(ReadBackBatch(s.m_nBase, m_run.length, m_run.image));
    s.m_nAct = ACT_BATCH;
  } else {
    m_runBatch->Use({});
  }
  m_readBackFiles.KeepDumpsInMemory(m_run.readBack);
  const int64_t total = m_model.m_sel.m_nActSel == ACT_PROGRAM ? s.m_nAppFileSize : s.m_nLength;
  m_verdict.Start(m_model.m_sel.m_nActSel, m_run.readBack, total, std::chrono::steady_clock::now());
}

void CDumpDlg::LogStartedUpdate() {
  const UpdateSettings& s = m_app.m_settings;
  if (m_model.m_sel.m_nActSel == ACT_PROGRAM)
    AppendLogLine("Image: " + s.m_strAppFile + " (" + std::to_string(s.m_nAppFileSize) + " bytes)" +
                  (m_run.readBack ? ", read back after programming" : ", not read back") + "\n");
  else if (m_model.m_sel.m_nActSel == ACT_DUMP)
    AppendLogLine("Dump file: " + s.m_strDumpFile + "\n");
  ShowVerdict();
  Label(wctl::METER_LABEL)->clear();
  m_meterTimer->start();
}

void CDumpDlg::TakePostedReports() { TakeReports(); }

std::string CDumpDlg::TakeReports() {
  if (m_closing) return {};
  const CUpdateWatch::Reports r = m_watch.Take();
  if (r.outcome) m_outcome = r.outcome;  // used when WM_UPDATE_END arrives
  if (r.portLost) {
    m_verdict.Fail("the port went away");
    ShowVerdict();
  }
  if (r.failedOpen) m_openFailure = ReportPortFailure(*r.failedOpen);
  return m_openFailure;
}

PortPlace CDumpDlg::CurrentPlace() const {
  const int32_t n = m_model.PortNumber();
  const std::string own = n >= 1 && n <= 1024 ? serial::DeviceNameForNumber(n) : std::string();
  return PlaceOfPort(m_openDevice, n, m_model.Config(), own);
}

std::string CDumpDlg::ReportPortFailure(PortOpenResult result) {
  const std::string text = PortOpenFailureText(result, CurrentPlace());
  AppendLogLine(text + "\n");
  m_verdict.Fail(text);
  ShowVerdict();
  return text;
}

std::optional<VerifyReport> CDumpDlg::CompareWithImage() {
  std::vector<uint8_t> image(static_cast<size_t>(std::max(0, m_run.length)));
  size_t got = 0;
  std::string why;
  if (!m_files.ReadAt(m_run.image, 0, image.data(), image.size(), got, why) || got != image.size()) {
    AppendLogLine("verify: cannot read " + m_run.image + " again: " + (why.empty() ? "it is shorter" : why) + "\n");
    VerifyReport report;
    report.result = VerifyResult::ImageUnreadable;
    report.imageSize = image.size();
    return report;
  }
  const VerifyReport report = CompareReadBack(image, m_readBackFiles.ReadBack());
  AppendLogLine(VerifyLine(report) + "\n");
  return report;
}

void CDumpDlg::OnUpdateEnded() {
  TakeReports();
  m_meterTimer->stop();
  if (!m_outcome) {
    m_verdict.Fail("the update ended without saying how");
  } else {
    std::optional<VerifyReport> verify;
    if (*m_outcome == UpdateOutcome::Completed && m_run.readBack) verify = CompareWithImage();
    m_verdict.Ended(*m_outcome, verify);
  }
  m_readBackFiles.KeepDumpsInMemory(false);
  ShowVerdict();
  ShowMeter();
}
