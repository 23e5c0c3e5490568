// The port list: cfg.ini's entries, then the machine's serial ports, listed
// again whenever the operator opens the list.
#include "app/window/DumpDlg.h"

#include "core/Messages.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>

namespace {

// "/dev/ttyUSB0  /dev/serial/by-id/usb-FTDI_..." as `tqupdate ports` names it.
QString PortEntry(const SerialPortInfo& p) {
  QString text = QString::fromStdString(p.device);
  if (!p.byId.empty()) text += QStringLiteral("  ") + QString::fromStdString(p.byId);
  return text;
}

bool OpensPopup(const QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress) return true;
  if (event->type() != QEvent::KeyPress) return false;
  const auto* key = static_cast<const QKeyEvent*>(event);
  return key->key() == Qt::Key_F4 || key->key() == Qt::Key_Space ||
         ((key->modifiers() & Qt::AltModifier) && (key->key() == Qt::Key_Down || key->key() == Qt::Key_Up));
}

}  // namespace

void CDumpDlg::SetPortLister(PortLister lister) {
  m_portLister = std::move(lister);
  RefreshSystemPorts();
}

void CDumpDlg::RefreshSystemPorts() {
  QComboBox* box = List(ctl::PORT_LIST);
  const QSignalBlocker quiet(box);
  const int configured = static_cast<int>(m_model.m_ports.size());
  // A system port stays chosen while it is there, wherever it moves to.
  const int current = box->currentIndex();
  const std::string chosen = current >= configured && current - configured < static_cast<int>(m_systemPorts.size())
                                 ? m_systemPorts[static_cast<size_t>(current - configured)].device
                                 : std::string();
  m_systemPorts = m_portLister ? m_portLister() : ListSerialPorts();
  while (box->count() > configured) box->removeItem(box->count() - 1);
  int reselect = current < configured ? current : -1;
  for (const SerialPortInfo& p : m_systemPorts) {
    if (p.device == chosen) reselect = box->count();
    box->addItem(PortEntry(p));
    box->setItemData(box->count() - 1, PortEntry(p), Qt::ToolTipRole);
  }
  box->setCurrentIndex(reselect);
  // The open list is as wide as its longest entry; the closed box keeps its place.
  box->view()->setMinimumWidth(box->view()->sizeHintForColumn(0) + 24);
}

bool CDumpDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == List(ctl::PORT_LIST) && OpensPopup(event)) RefreshSystemPorts();
  return QDialog::eventFilter(watched, event);
}
