#pragma once
// Small value wrappers for the controls of a running dialog, addressed by the control's id. A
// wrapper that is not bound, or whose dialog has no window, does nothing and answers with empty
// text, 0, false or -1.
#include <string>

#include "framework/defs.h"

namespace framework {

class CDialog;
class ImageList;

class Control {
 public:
  Control() = default;
  Control(CDialog* dialog, int id) : dialog_(dialog), id_(id) {}

  bool IsBound() const { return dialog_ != nullptr; }
  int Id() const { return id_; }
  // The dialog's window, or 0 when unbound or not running.
  WindowId DialogWindow() const;

  void Enable(bool enable = true);
  bool IsEnabled() const;
  std::string ItemText() const;
  void SetItemText(const std::string& text);
  void Focus();

 protected:
  CDialog* dialog_ = nullptr;
  int id_ = -1;
};

// Push buttons and check boxes.
class Button : public Control {
 public:
  using Control::Control;
  // BST_UNCHECKED, BST_CHECKED or BST_INDETERMINATE.
  int GetCheck() const;
  void SetCheck(int state);
};

// A report-view list view. Rows and columns count from 0.
class ListView : public Control {
 public:
  using Control::Control;

  // Returns the new column's index or -1. format: LVCFMT_LEFT, ...; width in pixels.
  int InsertColumn(int column, const std::string& heading, int format, int width);
  int ColumnCount() const;
  // Inserts a row at row (clamped to the end) and returns its index, or -1. image: index into the
  // small-icon list, -1 for none.
  int InsertItem(int row, const std::string& text, int image = -1);
  bool SetItemText(int row, int subItem, const std::string& text);
  std::string ItemText(int row, int subItem) const;
  int ItemImage(int row) const;
  int ItemCount() const;
  // Changes the bits of mask (LVIS_SELECTED, LVIS_FOCUSED) to those of state; row -1 = every row.
  // Each row whose state changes is reported to the dialog with LVN_ITEMCHANGED before this returns.
  bool SetItemState(int row, unsigned state, unsigned mask);
  unsigned ItemState(int row, unsigned mask) const;
  // The next row after start (-1: from the top) with flags (LVNI_SELECTED, LVNI_FOCUSED); -1 none.
  int NextItem(int start, unsigned flags) const;
  int FirstSelected() const { return NextItem(-1, LVNI_SELECTED); }
  void DeselectAll() { SetItemState(-1, 0, LVIS_SELECTED); }
  bool DeleteAllItems();
  bool EnsureVisible(int row, bool partialOk);
  bool IsItemVisible(int row) const;
  void SetExtendedStyle(unsigned style);
  unsigned ExtendedStyle() const;
  // Gives the list the icons of images (copied: the image list may be destroyed afterwards);
  // nullptr removes them.
  void SetSmallImageList(const ImageList* images);
};

}  // namespace framework
