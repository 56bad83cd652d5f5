// Controls and list views: state in memory, and the notifications a real list view would send.
#include <algorithm>

#include "framework/headless/headless_backend.h"

namespace framework::headless {
namespace {

// Header height and row height of a list view in pixels, for what "visible" means without a screen.
constexpr int kListHeaderPixels = 24;
constexpr int kListRowPixels = 17;

}  // namespace

ControlState* HeadlessBackend::Control(WindowId window, int id) {
  WindowState* w = Window(window);
  if (w == nullptr || id == -1) return nullptr;
  for (ControlState& c : w->controls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

ControlState* HeadlessBackend::List(WindowId window, int id) {
  ControlState* c = Control(window, id);
  return c != nullptr && c->kind == ControlKind::ListView ? c : nullptr;
}

void HeadlessBackend::EnableControl(WindowId window, int id, bool enable) {
  if (ControlState* c = Control(window, id)) c->enabled = enable;
}

bool HeadlessBackend::IsControlEnabled(WindowId window, int id) {
  ControlState* c = Control(window, id);
  return c != nullptr && c->enabled;
}

std::string HeadlessBackend::ControlText(WindowId window, int id) {
  ControlState* c = Control(window, id);
  return c != nullptr ? c->text : std::string();
}

void HeadlessBackend::SetControlText(WindowId window, int id, const std::string& text) {
  ControlState* c = Control(window, id);
  if (c != nullptr && c->kind != ControlKind::ListView) c->text = text;
}

void HeadlessBackend::FocusControl(WindowId window, int id) {
  WindowState* w = Window(window);
  if (w != nullptr && Control(window, id) != nullptr) w->focusId = id;
}

int HeadlessBackend::ButtonCheck(WindowId window, int id) {
  ControlState* c = Control(window, id);
  return c != nullptr && c->kind == ControlKind::CheckBox ? c->check : BST_UNCHECKED;
}

void HeadlessBackend::SetButtonCheck(WindowId window, int id, int state) {
  ControlState* c = Control(window, id);
  if (c == nullptr || c->kind != ControlKind::CheckBox) return;
  if (state == BST_UNCHECKED || state == BST_CHECKED || state == BST_INDETERMINATE) c->check = state;
}

int HeadlessBackend::FullRows(const ControlState& list) {
  return std::max(1, (list.heightPixels - kListHeaderPixels) / kListRowPixels);
}

bool HeadlessBackend::HasPartialRow(const ControlState& list) {
  const int area = list.heightPixels - kListHeaderPixels;
  return area > kListRowPixels && area % kListRowPixels != 0;
}

int HeadlessBackend::LvInsertColumn(WindowId window, int id, int column, const std::string& heading, int format,
                                    int width) {
  ControlState* list = List(window, id);
  if (list == nullptr || column < 0) return -1;
  const int at = std::min(column, static_cast<int>(list->columns.size()));
  list->columns.insert(list->columns.begin() + at, ListColumn{heading, format, width});
  return at;
}

int HeadlessBackend::LvColumnCount(WindowId window, int id) {
  ControlState* list = List(window, id);
  return list != nullptr ? static_cast<int>(list->columns.size()) : 0;
}

int HeadlessBackend::LvInsertItem(WindowId window, int id, int row, const std::string& text, int image) {
  ControlState* list = List(window, id);
  if (list == nullptr || row < 0) return -1;
  const int at = std::min(row, static_cast<int>(list->rows.size()));
  ListRow r;
  r.texts.push_back(text);
  r.image = image;
  list->rows.insert(list->rows.begin() + at, std::move(r));
  return at;
}

bool HeadlessBackend::LvSetItemText(WindowId window, int id, int row, int subItem, const std::string& text) {
  ControlState* list = List(window, id);
  if (list == nullptr || row < 0 || row >= static_cast<int>(list->rows.size()) || subItem < 0) return false;
  // The control keeps texts only for the columns it has (column 0 always).
  if (subItem > 0 && subItem >= static_cast<int>(list->columns.size())) return false;
  ListRow& r = list->rows[static_cast<std::size_t>(row)];
  if (r.texts.size() <= static_cast<std::size_t>(subItem)) r.texts.resize(static_cast<std::size_t>(subItem) + 1);
  r.texts[static_cast<std::size_t>(subItem)] = text;
  return true;
}

std::string HeadlessBackend::LvItemText(WindowId window, int id, int row, int subItem) {
  ControlState* list = List(window, id);
  if (list == nullptr || row < 0 || row >= static_cast<int>(list->rows.size()) || subItem < 0) return {};
  const ListRow& r = list->rows[static_cast<std::size_t>(row)];
  return static_cast<std::size_t>(subItem) < r.texts.size() ? r.texts[static_cast<std::size_t>(subItem)]
                                                            : std::string();
}

int HeadlessBackend::LvItemImage(WindowId window, int id, int row) {
  ControlState* list = List(window, id);
  if (list == nullptr || row < 0 || row >= static_cast<int>(list->rows.size())) return -1;
  return list->rows[static_cast<std::size_t>(row)].image;
}

int HeadlessBackend::LvItemCount(WindowId window, int id) {
  ControlState* list = List(window, id);
  return list != nullptr ? static_cast<int>(list->rows.size()) : 0;
}

void HeadlessBackend::Notify(WindowId window, ListViewNotify& nm) {
  if (WindowState* w = Window(window)) {
    w->dialog->Dispatch(WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LParam>(&nm));
  }
}

void HeadlessBackend::ChangeRowState(WindowId window, ControlState& list, int row, unsigned state, unsigned mask) {
  const int id = list.id;
  mask &= (LVIS_SELECTED | LVIS_FOCUSED);
  // One row holds the focus, and a single-selection list one selected row: the others give it up
  // first, each with its own notification.
  const bool takesFocus = (mask & state & LVIS_FOCUSED) != 0;
  const bool takesSelection = (mask & state & LVIS_SELECTED) != 0 && (list.style & LVS_SINGLESEL) != 0;
  if (takesFocus || takesSelection) {
    const unsigned drop = (takesFocus ? LVIS_FOCUSED : 0u) | (takesSelection ? LVIS_SELECTED : 0u);
    for (int i = 0;; ++i) {
      ControlState* l = List(window, id);
      if (l == nullptr || i >= static_cast<int>(l->rows.size())) break;
      if (i != row && (l->rows[static_cast<std::size_t>(i)].state & drop) != 0) ChangeRowState(window, *l, i, 0, drop);
    }
  }
  ControlState* l = List(window, id);
  if (l == nullptr || row < 0 || row >= static_cast<int>(l->rows.size())) return;
  ListRow& r = l->rows[static_cast<std::size_t>(row)];
  const unsigned before = r.state;
  const unsigned after = (before & ~mask) | (state & mask);
  if (after == before) return;
  r.state = after;
  ListViewNotify nm;
  nm.hdr.hwndFrom = window;
  nm.hdr.idFrom = static_cast<std::uintptr_t>(id);
  nm.hdr.code = LVN_ITEMCHANGED;
  nm.iItem = row;
  nm.uOldState = before;
  nm.uNewState = after;
  nm.uChanged = LVIF_STATE;
  Notify(window, nm);
}

bool HeadlessBackend::LvSetItemState(WindowId window, int id, int row, unsigned state, unsigned mask) {
  ControlState* list = List(window, id);
  if (list == nullptr) return false;
  if (row == -1) {
    for (int i = 0;; ++i) {
      list = List(window, id);
      if (list == nullptr || i >= static_cast<int>(list->rows.size())) break;
      ChangeRowState(window, *list, i, state, mask);
    }
    return true;
  }
  if (row < 0 || row >= static_cast<int>(list->rows.size())) return false;
  ChangeRowState(window, *list, row, state, mask);
  return true;
}

unsigned HeadlessBackend::LvItemState(WindowId window, int id, int row, unsigned mask) {
  ControlState* list = List(window, id);
  if (list == nullptr || row < 0 || row >= static_cast<int>(list->rows.size())) return 0;
  return list->rows[static_cast<std::size_t>(row)].state & mask;
}

int HeadlessBackend::LvNextItem(WindowId window, int id, int start, unsigned flags) {
  ControlState* list = List(window, id);
  if (list == nullptr || start < -1) return -1;
  const unsigned want = flags & (LVNI_SELECTED | LVNI_FOCUSED);
  for (int i = start + 1; i < static_cast<int>(list->rows.size()); ++i) {
    unsigned have = 0;
    const unsigned s = list->rows[static_cast<std::size_t>(i)].state;
    if ((s & LVIS_SELECTED) != 0) have |= LVNI_SELECTED;
    if ((s & LVIS_FOCUSED) != 0) have |= LVNI_FOCUSED;
    if ((have & want) == want) return i;
  }
  return -1;
}

bool HeadlessBackend::LvDeleteAllItems(WindowId window, int id) {
  ControlState* list = List(window, id);
  if (list == nullptr) return false;
  list->rows.clear();
  list->topRow = 0;
  return true;
}

bool HeadlessBackend::LvEnsureVisible(WindowId window, int id, int row, bool partialOk) {
  ControlState* list = List(window, id);
  if (list == nullptr || row < 0 || row >= static_cast<int>(list->rows.size())) return false;
  const int full = FullRows(*list);
  if (row >= list->topRow && row < list->topRow + full) return true;
  if (partialOk && HasPartialRow(*list) && row == list->topRow + full) return true;
  list->topRow = row < list->topRow ? row : row - full + 1;
  return true;
}

bool HeadlessBackend::LvIsItemVisible(WindowId window, int id, int row) {
  ControlState* list = List(window, id);
  if (list == nullptr || row < 0 || row >= static_cast<int>(list->rows.size())) return false;
  const int full = FullRows(*list);
  if (row >= list->topRow && row < list->topRow + full) return true;
  return HasPartialRow(*list) && row == list->topRow + full;
}

void HeadlessBackend::LvSetExtendedStyle(WindowId window, int id, unsigned style) {
  if (ControlState* list = List(window, id)) list->listExStyle = style;
}

unsigned HeadlessBackend::LvExtendedStyle(WindowId window, int id) {
  ControlState* list = List(window, id);
  return list != nullptr ? list->listExStyle : 0u;
}

void HeadlessBackend::LvSetSmallImages(WindowId window, int id, const std::vector<Icon>& icons) {
  if (ControlState* list = List(window, id)) list->smallImages = icons;
}

}  // namespace framework::headless
