#include "app/window/DialogBuilder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>

#include "app/window/ConsoleBox.h"

#include <cmath>

DialogUnits DialogUnits::FromFont(const QFont& font) {
  const QFontMetricsF fm(font);
  static const QString kAlphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  DialogUnits u;
  u.baseX = std::max(1, static_cast<int>(std::lround(fm.horizontalAdvance(kAlphabet) / 52.0)));
  u.baseY = std::max(1, static_cast<int>(std::lround(fm.height())));
  return u;
}

QFont ChooseDialogFont(std::span<const char* const> families, int pointSize) {
  const QStringList installed = QFontDatabase::families();
  auto make = [pointSize](const QString& family) {
    QFont f(family);
    f.setPointSize(pointSize);
    return f;
  };
  for (const char* family : families)
    if (installed.contains(QString::fromUtf8(family), Qt::CaseInsensitive)) return make(QString::fromUtf8(family));
  // A font with Chinese glyphs keeps captions such as the About box's OK readable.
  static const char* const kCjk[] = {"WenQuanYi Micro Hei", "Noto Sans CJK SC", "Source Han Sans SC",
                                     "WenQuanYi Zen Hei", "AR PL UMing CN"};
  for (const char* family : kCjk)
    if (installed.contains(QString::fromUtf8(family), Qt::CaseInsensitive)) return make(QString::fromUtf8(family));
  for (const QString& family : installed)
    if (QFontDatabase::writingSystems(family).contains(QFontDatabase::SimplifiedChinese)) return make(family);
  QFont f = QFont();
  f.setPointSize(pointSize);
  return f;
}

namespace {

// A chip seen from above: a dark body with pins on two sides, a notch, and
// a green arrow into it for the update.
QPixmap PaintIcon(int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xb0, 0xb0, 0xb8));
  for (int i = 0; i < 5; ++i) {
    p.drawRect(QRectF(3, 7 + i * 4.5, 4, 2));
    p.drawRect(QRectF(25, 7 + i * 4.5, 4, 2));
  }
  p.setBrush(QColor(0x20, 0x28, 0x38));
  p.drawRoundedRect(QRectF(7, 4, 18, 26), 2, 2);
  p.setBrush(QColor(0x60, 0x68, 0x78));
  p.drawEllipse(QRectF(13.5, 2.5, 5, 5));
  QPainterPath arrow;
  arrow.moveTo(16, 27);
  arrow.lineTo(10, 19);
  arrow.lineTo(13.5, 19);
  arrow.lineTo(13.5, 10);
  arrow.lineTo(18.5, 10);
  arrow.lineTo(18.5, 19);
  arrow.lineTo(22, 19);
  arrow.closeSubpath();
  p.setBrush(QColor(0x3c, 0xc8, 0x50));
  p.drawPath(arrow);
  return pm;
}

}  // namespace

QIcon TqUpdaterIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128}) icon.addPixmap(PaintIcon(size));
  return icon;
}

CDialogBuilder::CDialogBuilder(QDialog& dialog, const layout::Dialog& table) {
  const QFont font = ChooseDialogFont(table.fonts, table.pointSize);
  dialog.setFont(font);
  m_units = DialogUnits::FromFont(font);
  dialog.setWindowTitle(QString::fromUtf8(table.caption));
  dialog.setFixedSize(m_units.X(table.width), m_units.Y(table.height));
  for (const layout::Control& c : table.controls) {
    QWidget* w = Create(dialog, c);
    const QRect r = m_units.Rect(c.x, c.y, c.w, c.kind == layout::Kind::DropDown ? layout::kDropDownClosedHeight : c.h);
    w->setGeometry(r);
    if (c.hidden) w->hide();
    if (c.id != layout::kNoId) {
      w->setObjectName(QStringLiteral("ctl%1").arg(c.id));
      w->setProperty(kControlIdProperty, c.id);
      m_controls[c.id] = w;
    }
  }
  // Labels name their lists: the buddy link is made once every control exists.
  std::map<int, QString> labelOf;
  for (const layout::Control& c : table.controls) {
    if (c.kind != layout::Kind::Label || c.buddy == layout::kNoId) continue;
    labelOf[c.buddy] = QString::fromUtf8(c.text);
    for (QLabel* label : dialog.findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
      if (label->property("buddyId").toInt() == c.buddy) label->setBuddy(Control(c.buddy));
  }
  // A list that its label does not name fully ("Base" over three digit lists) gets its own name.
  for (const layout::Control& c : table.controls) {
    if (c.kind != layout::Kind::DropDown) continue;
    if (labelOf[c.id] != QString::fromUtf8(c.text)) Control(c.id)->setAccessibleName(QString::fromUtf8(c.text));
  }
}

QWidget* CDialogBuilder::Control(int id) const {
  auto it = m_controls.find(id);
  return it == m_controls.end() ? nullptr : it->second;
}

QWidget* CDialogBuilder::Create(QDialog& dialog, const layout::Control& c) {
  const QString text = QString::fromUtf8(c.text);
  switch (c.kind) {
    case layout::Kind::GroupBox:
      return new QGroupBox(text, &dialog);
    case layout::Kind::Label: {
      auto* label = new QLabel(text, &dialog);
      label->setProperty("buddyId", c.buddy);
      return label;
    }
    case layout::Kind::DropDown: {
      auto* box = new QComboBox(&dialog);
      box->setMaxVisibleItems(std::max(1, (c.h - layout::kDropDownClosedHeight) / 8));
      box->setSizeAdjustPolicy(QComboBox::AdjustToContentsOnFirstShow);
      return box;
    }
    case layout::Kind::Button: {
      auto* button = new QPushButton(text, &dialog);
      button->setAutoDefault(true);
      return button;
    }
    default:
      return CreateDisplay(dialog, c);
  }
}

// The controls that show rather than take a choice: lists, the console, the
// bar, the check box, the status line and the icon.
QWidget* CDialogBuilder::CreateDisplay(QDialog& dialog, const layout::Control& c) {
  const QString text = QString::fromUtf8(c.text);
  switch (c.kind) {
    case layout::Kind::ListBox: {
      auto* list = new QListWidget(&dialog);
      list->setAccessibleName(text);
      list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
      list->setUniformItemSizes(true);
      return list;
    }
    case layout::Kind::Edit: {
      auto* edit = new CConsoleBox(&dialog);
      edit->setAccessibleName(text);
      return edit;
    }
    case layout::Kind::Progress: {
      auto* bar = new QProgressBar(&dialog);
      bar->setRange(0, 100);
      bar->setValue(0);
      bar->setAccessibleName(text);
      return bar;
    }
    case layout::Kind::CheckBox: {
      auto* check = new QCheckBox(text, &dialog);
      check->setAccessibleName(text);
      return check;
    }
    case layout::Kind::Status: {
      // A status line that assistive tools treat as one: it announces its changes.
      // Its accessible name is the text it shows, so a change is announced.
      auto* status = new QLabel(&dialog);
      status->setAccessibleDescription(text);
      status->setTextInteractionFlags(Qt::TextSelectableByMouse);
      return status;
    }
    case layout::Kind::Icon: {
      auto* label = new QLabel(&dialog);
      const DialogUnits u = m_units;
      label->setPixmap(TqUpdaterIcon().pixmap(std::min(u.X(c.w), u.Y(c.h))));
      label->setAccessibleName(text);
      return label;
    }
    default:
      break;
  }
  return new QWidget(&dialog);
}
