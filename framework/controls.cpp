#include "framework/controls.h"

#include "framework/backend.h"
#include "framework/dialog.h"
#include "framework/icon.h"

namespace framework {

WindowId Control::DialogWindow() const { return dialog_ != nullptr ? dialog_->GetSafeHwnd() : kNoWindowId; }

void Control::Enable(bool enable) {
  if (WindowId w = DialogWindow()) Backend().EnableControl(w, id_, enable);
}
bool Control::IsEnabled() const {
  WindowId w = DialogWindow();
  return w != kNoWindowId && Backend().IsControlEnabled(w, id_);
}
std::string Control::ItemText() const {
  WindowId w = DialogWindow();
  return w != kNoWindowId ? Backend().ControlText(w, id_) : std::string();
}
void Control::SetItemText(const std::string& text) {
  if (WindowId w = DialogWindow()) Backend().SetControlText(w, id_, text);
}
void Control::Focus() {
  if (WindowId w = DialogWindow()) Backend().FocusControl(w, id_);
}

int Button::GetCheck() const {
  WindowId w = DialogWindow();
  return w != kNoWindowId ? Backend().ButtonCheck(w, id_) : BST_UNCHECKED;
}
void Button::SetCheck(int state) {
  if (state != BST_UNCHECKED && state != BST_CHECKED && state != BST_INDETERMINATE) return;
  if (WindowId w = DialogWindow()) Backend().SetButtonCheck(w, id_, state);
}

int ListView::InsertColumn(int column, const std::string& heading, int format, int width) {
  WindowId w = DialogWindow();
  return w != kNoWindowId ? Backend().LvInsertColumn(w, id_, column, heading, format, width) : -1;
}
int ListView::ColumnCount() const {
  WindowId w = DialogWindow();
  return w != kNoWindowId ? Backend().LvColumnCount(w, id_) : 0;
}
int ListView::InsertItem(int row, const std::string& text, int image) {
  WindowId w = DialogWindow();
  return w != kNoWindowId ? Backend().LvInsertItem(w, id_, row, text, image) : -1;
}
bool ListView::SetItemText(int row, int subItem, const std::string& text) {
  WindowId w = DialogWindow();
  return w != kNoWindowId && Backend().LvSetItemText(w, id_, row, subItem, text);
}
std::string ListView::ItemText(int row, int subItem) const {
  WindowId w = DialogWindow();
  return w != kNoWindowId ? Backend().LvItemText(w, id_, row, subItem) : std::string();
}
int ListView::ItemImage(int row) const {
  WindowId w = DialogWindow();
  return w != kNoWindowId ? Backend().LvItemImage(w, id_, row) : -1;
}
int ListView::ItemCount() const {
  WindowId w = DialogWindow();
  return w != kNoWindowId ? Backend().LvItemCount(w, id_) : 0;
}
bool ListView::SetItemState(int row, unsigned state, unsigned mask) {
  WindowId w = DialogWindow();
  return w != kNoWindowId && Backend().LvSetItemState(w, id_, row, state, mask);
}
unsigned ListView::ItemState(int row, unsigned mask) const {
  WindowId w = DialogWindow();
  return w != kNoWindowId ? Backend().LvItemState(w, id_, row, mask) : 0u;
}
int ListView::NextItem(int start, unsigned flags) const {
  WindowId w = DialogWindow();
  return w != kNoWindowId ? Backend().LvNextItem(w, id_, start, flags) : -1;
}
bool ListView::DeleteAllItems() {
  WindowId w = DialogWindow();
  return w != kNoWindowId && Backend().LvDeleteAllItems(w, id_);
}
bool ListView::EnsureVisible(int row, bool partialOk) {
  WindowId w = DialogWindow();
  return w != kNoWindowId && Backend().LvEnsureVisible(w, id_, row, partialOk);
}
bool ListView::IsItemVisible(int row) const {
  WindowId w = DialogWindow();
  return w != kNoWindowId && Backend().LvIsItemVisible(w, id_, row);
}
void ListView::SetExtendedStyle(unsigned style) {
  if (WindowId w = DialogWindow()) Backend().LvSetExtendedStyle(w, id_, style);
}
unsigned ListView::ExtendedStyle() const {
  WindowId w = DialogWindow();
  return w != kNoWindowId ? Backend().LvExtendedStyle(w, id_) : 0u;
}
void ListView::SetSmallImageList(const ImageList* images) {
  WindowId w = DialogWindow();
  if (w == kNoWindowId) return;
  static const std::vector<Icon> kNone;
  Backend().LvSetSmallImages(w, id_, images != nullptr ? images->Icons() : kNone);
}

}  // namespace framework
