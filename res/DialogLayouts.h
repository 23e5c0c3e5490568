// The window layouts: every control of the main window and of the About box
// with its id, kind, caption and place in dialog units. The window code
// builds the dialogs from these tables, so the look can change here without
// touching any logic.
#pragma once

#include <span>

namespace layout {

enum class Kind { GroupBox, Label, DropDown, Button, ListBox, Edit, Progress, Icon, CheckBox, Status };

// Controls without an id of their own (labels) carry kNoId.
inline constexpr int kNoId = -1;

struct Control {
  int id;
  Kind kind;
  const char* text;  // caption; for lists, edits and bars the accessible name
  int x, y, w, h;    // dialog units; a drop-down's height includes its open list
  int buddy = kNoId; // for a label: the control it names
  bool hidden = false;
};

struct Dialog {
  const char* caption;
  int width, height;               // dialog units
  std::span<const char* const> fonts;  // preferred font families, best first
  int pointSize;
  std::span<const Control> controls;   // in tab order
};

const Dialog& MainWindow();
const Dialog& AboutBox();

// Height in dialog units of a closed drop-down list.
inline constexpr int kDropDownClosedHeight = 12;

}  // namespace layout
