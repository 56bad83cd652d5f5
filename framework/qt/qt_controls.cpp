#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "framework/qt/qt_backend_private.h"
#include "framework/qt/qt_widgets.h"

namespace framework::qt {

namespace {
// Where a list item keeps the exact bytes the program gave it, beside the text it shows.
constexpr int kItemBytesRole = Qt::UserRole + 1;
}  // namespace

// ---- controls ----

void QtBackend::EnableControl(WindowId window, int id, bool enable) {
  if (QWidget* widget = ControlWidget(window, id)) widget->setEnabled(enable);
}

bool QtBackend::IsControlEnabled(WindowId window, int id) {
  DialogWindow* w = Window(window);
  QWidget* widget = ControlWidget(window, id);
  // The control's own state: a dialog disabled while it owns a modal run keeps its controls' states.
  return widget != nullptr && widget->isEnabledTo(w);
}

std::string QtBackend::ControlText(WindowId window, int id) {
  DialogWindow* w = Window(window);
  DialogWindow::ControlEntry* entry = w != nullptr ? w->Control(id) : nullptr;
  if (entry == nullptr) return {};
  if (entry->kind == ControlKind::Edit) return ToUtf8(static_cast<QLineEdit*>(entry->widget)->text());
  return entry->text;
}

void QtBackend::SetControlText(WindowId window, int id, const std::string& text) {
  DialogWindow* w = Window(window);
  DialogWindow::ControlEntry* entry = w != nullptr ? w->Control(id) : nullptr;
  if (entry == nullptr) return;
  entry->text = text;
  const QString converted = FromUtf8(text);
  switch (entry->kind) {
    case ControlKind::PushButton:
    case ControlKind::CheckBox: static_cast<QAbstractButton*>(entry->widget)->setText(converted); break;
    case ControlKind::Edit: {
      auto* edit = static_cast<QLineEdit*>(entry->widget);
      edit->setText(converted);
      edit->setCursorPosition(0);
      break;
    }
    case ControlKind::StaticText:
      static_cast<QLabel*>(entry->widget)
          ->setText((entry->style & SS_NOPREFIX) != 0 ? converted : StripMnemonics(converted));
      break;
    case ControlKind::ListView:
    case ControlKind::StaticIcon: break;
  }
}

void QtBackend::FocusControl(WindowId window, int id) {
  if (QWidget* widget = ControlWidget(window, id)) widget->setFocus(Qt::OtherFocusReason);
}

int QtBackend::ButtonCheck(WindowId window, int id) {
  DialogWindow* w = Window(window);
  DialogWindow::ControlEntry* entry = w != nullptr ? w->Control(id) : nullptr;
  if (entry == nullptr || entry->kind != ControlKind::CheckBox) return BST_UNCHECKED;
  switch (static_cast<QCheckBox*>(entry->widget)->checkState()) {
    case Qt::Checked: return BST_CHECKED;
    case Qt::PartiallyChecked: return BST_INDETERMINATE;
    default: return BST_UNCHECKED;
  }
}

void QtBackend::SetButtonCheck(WindowId window, int id, int state) {
  DialogWindow* w = Window(window);
  DialogWindow::ControlEntry* entry = w != nullptr ? w->Control(id) : nullptr;
  if (entry == nullptr || entry->kind != ControlKind::CheckBox) return;
  auto* box = static_cast<QCheckBox*>(entry->widget);
  if (state == BST_CHECKED) {
    box->setCheckState(Qt::Checked);
  } else if (state == BST_INDETERMINATE) {
    // A two-state box shows BST_INDETERMINATE as the system does: it has no such look, so unchecked.
    box->setCheckState(box->isTristate() ? Qt::PartiallyChecked : Qt::Unchecked);
  } else {
    box->setCheckState(Qt::Unchecked);
  }
}

// ---- list views ----

int QtBackend::LvInsertColumn(WindowId window, int id, int column, const std::string& heading, int format, int width) {
  DialogWindow* w = Window(window);
  ReportList* list = w != nullptr ? w->List(id) : nullptr;
  if (list == nullptr || column < 0) return -1;
  const int count = list->columnCount();
  column = std::min(column, count);
  list->setColumnCount(count + 1);
  QTreeWidgetItem* header = list->headerItem();
  // Columns after the new one move right with their texts and widths.
  for (int c = count; c > column; --c) {
    header->setText(c, header->text(c - 1));
    list->header()->resizeSection(c, list->header()->sectionSize(c - 1));
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
      QTreeWidgetItem* item = list->topLevelItem(row);
      item->setText(c, item->text(c - 1));
      item->setData(c, kItemBytesRole, item->data(c - 1, kItemBytesRole));
      item->setTextAlignment(c, Qt::Alignment(item->textAlignment(c - 1)));
    }
  }
  // The first column is always left-aligned.
  const int effective = column == 0 ? LVCFMT_LEFT : (format & 3);
  Qt::Alignment align = Qt::AlignLeft;
  if (effective == LVCFMT_RIGHT) align = Qt::AlignRight;
  if (effective == LVCFMT_CENTER) align = Qt::AlignHCenter;
  header->setText(column, FromUtf8(heading));
  header->setTextAlignment(column, align | Qt::AlignVCenter);
  for (int row = 0; row < list->topLevelItemCount(); ++row) {
    QTreeWidgetItem* item = list->topLevelItem(row);
    item->setText(column, QString());
    item->setData(column, kItemBytesRole, QVariant());
    item->setTextAlignment(column, align | Qt::AlignVCenter);
  }
  list->columnFormats.insert(list->columnFormats.begin() + column, effective);
  list->header()->resizeSection(column, std::max(0, width));
  return column;
}

int QtBackend::LvColumnCount(WindowId window, int id) {
  DialogWindow* w = Window(window);
  ReportList* list = w != nullptr ? w->List(id) : nullptr;
  return list != nullptr ? list->columnCount() : 0;
}

int QtBackend::LvInsertItem(WindowId window, int id, int row, const std::string& text, int image) {
  DialogWindow* w = Window(window);
  ReportList* list = w != nullptr ? w->List(id) : nullptr;
  if (list == nullptr || row < 0) return -1;
  row = std::min(row, list->topLevelItemCount());
  auto* item = new QTreeWidgetItem();
  item->setText(0, FromUtf8(text));
  item->setData(0, kItemBytesRole, QByteArray::fromStdString(text));
  item->setData(0, Qt::UserRole, image);
  item->setIcon(0, list->ImageAt(image));
  for (int c = 0; c < static_cast<int>(list->columnFormats.size()); ++c) {
    const int format = list->columnFormats[static_cast<std::size_t>(c)];
    Qt::Alignment align = format == LVCFMT_RIGHT    ? Qt::AlignRight
                          : format == LVCFMT_CENTER ? Qt::AlignHCenter
                                                    : Qt::AlignLeft;
    item->setTextAlignment(c, align | Qt::AlignVCenter);
  }
  list->HoldSync();
  list->InsertRowMirror(row);
  list->insertTopLevelItem(row, item);
  list->ReleaseSync();
  return row;
}

bool QtBackend::LvSetItemText(WindowId window, int id, int row, int subItem, const std::string& text) {
  DialogWindow* w = Window(window);
  ReportList* list = w != nullptr ? w->List(id) : nullptr;
  QTreeWidgetItem* item = list != nullptr ? list->topLevelItem(row) : nullptr;
  if (item == nullptr || subItem < 0 || (subItem > 0 && subItem >= list->columnCount())) return false;
  item->setText(subItem, FromUtf8(text));
  item->setData(subItem, kItemBytesRole, QByteArray::fromStdString(text));
  return true;
}

std::string QtBackend::LvItemText(WindowId window, int id, int row, int subItem) {
  DialogWindow* w = Window(window);
  ReportList* list = w != nullptr ? w->List(id) : nullptr;
  QTreeWidgetItem* item = list != nullptr ? list->topLevelItem(row) : nullptr;
  if (item == nullptr || subItem < 0) return {};
  // The program's own bytes: a path that is no valid UTF-8 is shown replaced but read back whole.
  const QVariant bytes = item->data(subItem, kItemBytesRole);
  if (bytes.isValid()) return bytes.toByteArray().toStdString();
  return ToUtf8(item->text(subItem));
}

int QtBackend::LvItemImage(WindowId window, int id, int row) {
  DialogWindow* w = Window(window);
  ReportList* list = w != nullptr ? w->List(id) : nullptr;
  QTreeWidgetItem* item = list != nullptr ? list->topLevelItem(row) : nullptr;
  return item != nullptr ? item->data(0, Qt::UserRole).toInt() : -1;
}

int QtBackend::LvItemCount(WindowId window, int id) {
  DialogWindow* w = Window(window);
  ReportList* list = w != nullptr ? w->List(id) : nullptr;
  return list != nullptr ? list->topLevelItemCount() : 0;
}

bool QtBackend::LvSetItemState(WindowId window, int id, int row, unsigned state, unsigned mask) {
  DialogWindow* w = Window(window);
  ReportList* list = w != nullptr ? w->List(id) : nullptr;
  if (list == nullptr || row < -1 || row >= list->topLevelItemCount()) return false;
  list->HoldSync();
  QItemSelectionModel* selection = list->selectionModel();
  const bool single = list->selectionMode() == QAbstractItemView::SingleSelection;
  const int first = row == -1 ? 0 : row;
  const int last = row == -1 ? list->topLevelItemCount() - 1 : row;
  for (int r = first; r <= last && r < list->topLevelItemCount(); ++r) {
    const QModelIndex index = list->model()->index(r, 0);
    if ((mask & LVIS_SELECTED) != 0) {
      const bool selected = (list->CurrentState(r) & LVIS_SELECTED) != 0;
      if ((state & LVIS_SELECTED) != 0 && !selected) {
        // One selected row at most in a single-selection list: selecting one deselects the other.
        selection->select(index, (single ? QItemSelectionModel::ClearAndSelect : QItemSelectionModel::Select) |
                                     QItemSelectionModel::Rows);
      } else if ((state & LVIS_SELECTED) == 0 && selected) {
        selection->select(index, QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
      }
    }
    if ((mask & LVIS_FOCUSED) != 0) {
      const bool focused = (list->CurrentState(r) & LVIS_FOCUSED) != 0;
      if ((state & LVIS_FOCUSED) != 0 && !focused) {
        selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
      } else if ((state & LVIS_FOCUSED) == 0 && focused) {
        selection->clearCurrentIndex();
      }
    }
  }
  list->ReleaseSync();
  return true;
}

unsigned QtBackend::LvItemState(WindowId window, int id, int row, unsigned mask) {
  DialogWindow* w = Window(window);
  ReportList* list = w != nullptr ? w->List(id) : nullptr;
  return list != nullptr ? list->CurrentState(row) & mask : 0u;
}

int QtBackend::LvNextItem(WindowId window, int id, int start, unsigned flags) {
  DialogWindow* w = Window(window);
  ReportList* list = w != nullptr ? w->List(id) : nullptr;
  if (list == nullptr) return -1;
  unsigned wanted = 0;
  if ((flags & LVNI_SELECTED) != 0) wanted |= LVIS_SELECTED;
  if ((flags & LVNI_FOCUSED) != 0) wanted |= LVIS_FOCUSED;
  for (int row = std::max(start + 1, 0); row < list->topLevelItemCount(); ++row) {
    if ((list->CurrentState(row) & wanted) == wanted) return row;
  }
  return -1;
}

bool QtBackend::LvDeleteAllItems(WindowId window, int id) {
  DialogWindow* w = Window(window);
  ReportList* list = w != nullptr ? w->List(id) : nullptr;
  if (list == nullptr) return false;
  // Deleting rows is not a state change of theirs: no LVN_ITEMCHANGED.
  list->ClearMirror();
  list->clear();
  // An emptied list starts at its top again, as the system's does; otherwise the refilled list
  // would show rows far from the one it selects.
  list->scrollToTop();
  return true;
}

bool QtBackend::LvEnsureVisible(WindowId window, int id, int row, bool partialOk) {
  DialogWindow* w = Window(window);
  ReportList* list = w != nullptr ? w->List(id) : nullptr;
  QTreeWidgetItem* item = list != nullptr ? list->topLevelItem(row) : nullptr;
  if (item == nullptr) return false;
  const QRect rect = list->visualItemRect(item);
  const QRect view = list->viewport()->rect();
  if (view.contains(rect) || (partialOk && view.intersects(rect))) return true;
  list->scrollToItem(item, QAbstractItemView::EnsureVisible);
  return true;
}

bool QtBackend::LvIsItemVisible(WindowId window, int id, int row) {
  DialogWindow* w = Window(window);
  ReportList* list = w != nullptr ? w->List(id) : nullptr;
  QTreeWidgetItem* item = list != nullptr ? list->topLevelItem(row) : nullptr;
  return item != nullptr && list->viewport()->rect().intersects(list->visualItemRect(item));
}

void QtBackend::LvSetExtendedStyle(WindowId window, int id, unsigned style) {
  DialogWindow* w = Window(window);
  ReportList* list = w != nullptr ? w->List(id) : nullptr;
  if (list == nullptr) return;
  list->exStyle = style;
  list->setAllColumnsShowFocus((style & LVS_EX_FULLROWSELECT) != 0);
}

unsigned QtBackend::LvExtendedStyle(WindowId window, int id) {
  DialogWindow* w = Window(window);
  ReportList* list = w != nullptr ? w->List(id) : nullptr;
  return list != nullptr ? list->exStyle : 0u;
}

void QtBackend::LvSetSmallImages(WindowId window, int id, const std::vector<Icon>& icons) {
  DialogWindow* w = Window(window);
  ReportList* list = w != nullptr ? w->List(id) : nullptr;
  if (list == nullptr) return;
  std::vector<QIcon> converted;
  converted.reserve(icons.size());
  for (const Icon& icon : icons) converted.push_back(ToQIcon(icon));
  list->SetImages(std::move(converted));
}

}  // namespace framework::qt
