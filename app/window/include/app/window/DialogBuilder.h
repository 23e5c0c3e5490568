// Builds a dialog's controls from its layout table: picks the font, turns
// dialog units into pixels through that font's metrics, creates each control
// with its id as objectName ("ctl<id>") and property "ctlId", and names it
// for assistive tools.
#pragma once

#include "DialogLayouts.h"

#include <QFont>
#include <QIcon>
#include <QRect>
#include <map>

class QDialog;
class QWidget;

// Dialog units of one font: x units are a quarter of its average character
// width, y units an eighth of its height.
struct DialogUnits {
  int baseX = 6;
  int baseY = 12;
  static DialogUnits FromFont(const QFont& font);
  int X(int du) const { return (du * baseX + 2) / 4; }
  int Y(int du) const { return (du * baseY + 4) / 8; }
  QRect Rect(int x, int y, int w, int h) const { return QRect(X(x), Y(y), X(w), Y(h)); }
};

// The first of the families that is installed, else a font that can show
// Chinese text, else the application's default; at the given point size.
QFont ChooseDialogFont(std::span<const char* const> families, int pointSize);

// The program's icon, drawn at the usual sizes.
QIcon TqUpdaterIcon();

class CDialogBuilder {
public:
  // Sets the dialog's font and fixed size and creates every control.
  CDialogBuilder(QDialog& dialog, const layout::Dialog& table);

  const DialogUnits& Units() const { return m_units; }
  // The control with this id, or nullptr.
  QWidget* Control(int id) const;
  const std::map<int, QWidget*>& Controls() const { return m_controls; }

private:
  QWidget* Create(QDialog& dialog, const layout::Control& c);
  QWidget* CreateDisplay(QDialog& dialog, const layout::Control& c);

  DialogUnits m_units;
  std::map<int, QWidget*> m_controls;
};

// The property under which every built control keeps its numeric id.
inline constexpr const char* kControlIdProperty = "ctlId";
