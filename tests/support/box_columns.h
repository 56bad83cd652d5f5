#pragma once
// A block of controls as a dialog for a larger machine adds it: the change-assignment template's
// eight boxes continued by `columns` more columns of four (ids 2008 on, "CPU 8" on), and a button
// beside them (id 3000) that keeps to the right edge like OK and Cancel.
#include <string>

#include "framework/control_block.h"
#include "res/resource.h"

inline framework::ControlBlock BoxColumns(int columns) {
  using namespace framework;
  ControlBlock block;
  block.area = DialogUnits{7, 27, 80, 60};
  block.growth = 44 * columns;
  block.roomBelow = 7;
  for (int n = 0; n < 4 * columns; ++n) {
    block.blockControls.push_back(AddedControl{2008 + n, ControlKind::CheckBox, "CPU " + std::to_string(8 + n),
                                               DialogUnits{95 + 44 * (n / 4), 27 + 17 * (n % 4), 36, 9},
                                               WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX});
  }
  block.otherControls.push_back(AddedControl{3000, ControlKind::PushButton, "More", DialogUnits{112, 73, 50, 14},
                                             WS_CHILD | WS_VISIBLE | WS_TABSTOP});
  block.followRightEdge = {IDOK, IDCANCEL, 3000};
  block.stretchToRightEdge = {IDC_TARGET_TEXT};
  return block;
}
