#include "framework/qt/qt_backend.h"

#include <fcntl.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStyleHints>
#include <QStyleOptionViewItem>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <cerrno>

#include "framework/qt/qt_application.h"
#include "framework/qt/qt_widgets.h"
#include "res/texts.h"

namespace framework::qt {

namespace {
// Where a list item keeps the exact bytes the program gave it, beside the text it shows.
constexpr int kItemBytesRole = Qt::UserRole + 1;
}  // namespace

namespace {

std::atomic<int> g_wakeWrite{-1};
constexpr int kMaxAsyncSlots = 256;

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
std::string ToUtf8(const QString& text) { return text.toUtf8().toStdString(); }

// Menus taller than the screen scroll instead of spreading into columns: with hundreds of processes
// the columns ran off the screen's side and their far items could not be reached.
class ScrollingMenuStyle final : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == QStyle::SH_Menu_Scrollable) return 1;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

void BuildMenu(QMenu& target, const Menu& source, QStyle* style) {
  if (style != nullptr) target.setStyle(style);
  // Items that share a text (two processes of one program) tell their difference on hover.
  target.setToolTipsVisible(true);
  for (int i = 0; i < source.ItemCount(); ++i) {
    const MenuItem* item = source.ItemAt(i);
    if (item->IsSeparator()) {
      target.addSeparator();
      continue;
    }
    // The text after a tab goes to the right-hand column, as QMenu shows shortcuts.
    const QString text = FromUtf8(item->text);
    if (item->IsPopup()) {
      QMenu* sub = target.addMenu(text);
      sub->setEnabled(!item->IsGrayed());
      BuildMenu(*sub, *item->popup, style);
      continue;
    }
    QAction* action = target.addAction(text);
    action->setData(item->id);
    if (!item->tip.empty()) action->setToolTip(FromUtf8(item->tip));
    action->setEnabled(!item->IsGrayed());
    if (item->IsChecked()) {
      action->setCheckable(true);
      action->setChecked(true);
    }
    if (item->IsDefault()) {
      QFont bold = action->font();
      bold.setBold(true);
      action->setFont(bold);
    }
  }
}

// Qt reads a filter's patterns from its last parenthesised group; the system's descriptions often
// show the pattern already ("Programs(*.exe)"), so it is added only when it is not there.
// A filter whose pattern is empty stands for "the files you may run": Linux names no suffix for
// them, so the dialog asks the file's permissions instead (ExecutableFiles below).
bool IsExecutableFilter(const std::pair<std::string, std::string>& filter) { return filter.second.empty(); }

QString NameFilter(const std::string& description, const std::string& pattern) {
  QString patterns = pattern.empty() ? QStringLiteral("*") : FromUtf8(pattern);
  patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
  const QString text = FromUtf8(description);
  if (!pattern.empty() && text.endsWith(QLatin1Char('(') + patterns + QLatin1Char(')'))) return text;
  return text + QStringLiteral(" (") + patterns + QLatin1Char(')');
}

// Qt keeps the file dialog's list of places at a width of its own (stored between runs), which cuts
// longer names such as Japanese "Computer": widen it to its widest entry.
void WidenPlaces(QFileDialog& dialog) {
  auto* places = dialog.findChild<QListView*>(QStringLiteral("sidebar"));
  auto* splitter = dialog.findChild<QSplitter*>(QStringLiteral("splitter"));
  if (places == nullptr || splitter == nullptr || places->model() == nullptr || splitter->count() != 2) return;
  QStyleOptionViewItem option;
  option.initFrom(places);
  option.font = places->font();
  const int small = places->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, places);
  option.decorationSize = places->iconSize().isValid() ? places->iconSize() : QSize(small, small);
  int widest = 0;
  for (int row = 0; row < places->model()->rowCount(places->rootIndex()); ++row) {
    widest = std::max(
        widest, places->itemDelegate()->sizeHint(option, places->model()->index(row, 0, places->rootIndex())).width());
  }
  const int wanted = widest + 2 * places->frameWidth();
  QList<int> sizes = splitter->sizes();
  if (sizes[0] >= wanted) return;
  const int total = std::max(sizes[0] + sizes[1], dialog.sizeHint().width());
  splitter->setSizes({wanted, std::max(total - wanted, 1)});
}

// Shows folders and, while an executables filter is chosen, only files with execute permission.
class ExecutableFiles final : public QSortFilterProxyModel {
 public:
  explicit ExecutableFiles(QObject* parent) : QSortFilterProxyModel(parent) {}
  void SetOnlyExecutables(bool only) {
    if (only == only_) return;
    only_ = only;
    invalidateFilter();
  }

 protected:
  bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
    if (!only_) return true;
    const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
    if (files == nullptr) return true;
    const QFileInfo info = files->fileInfo(files->index(row, 0, parent));
    return info.isDir() || (info.isFile() && info.isExecutable());
  }

 private:
  bool only_ = false;
};

void RaiseAndActivate(QWidget& widget) {
  // Without a window system there is nothing to raise (and Qt complains about it).
  if (QGuiApplication::platformName() == QLatin1String("offscreen")) return;
  widget.raise();
  widget.activateWindow();
}

// Whether a StatusNotifierItem host shows tray icons on this session bus: Qt then hands its icons to
// the host over D-Bus, and the host reports one activation per click instead of the mouse.
bool AskStatusNotifierHost() {
  const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || bus.interface() == nullptr || !bus.interface()->isServiceRegistered(watcher)) return false;
  QDBusInterface host(watcher, QStringLiteral("/StatusNotifierWatcher"), watcher, bus);
  return host.isValid() && host.property("IsStatusNotifierHostRegistered").toBool();
}

}  // namespace

struct QtBackend::Tray {
  WindowId owner = kNoWindowId;
  unsigned id = 0;
  unsigned callbackMessage = 0;
  std::unique_ptr<QSystemTrayIcon> icon;
  bool hasIcon = false;
  // A single click waits here for the double-click interval: a double click must not be preceded
  // by the single click that would open the menu (which then takes the second click).
  std::unique_ptr<QTimer> pendingClick;
};

// The owner of a modal run takes no input, as a disabled window on the system: its controls keep
// their look and state, and a click on it brings the running dialog to the front instead.
class InputBlocker final : public QObject {
 public:
  explicit InputBlocker(QtBackend& backend) : backend_(backend) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::Wheel:
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::Shortcut:
      case QEvent::ContextMenu:
      case QEvent::Close: break;
      default: return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr) return false;
    auto* window = dynamic_cast<DialogWindow*>(widget->window());
    if (window == nullptr || window->blocked == 0) return false;
    if (event->type() == QEvent::Close) {
      event->ignore();
    } else if (event->type() == QEvent::MouseButtonPress) {
      backend_.RaiseBlocker(window->Id());
    }
    return true;
  }

 private:
  QtBackend& backend_;
};

class TrayHoverFilter final : public QObject {
 public:
  explicit TrayHoverFilter(QtBackend& backend) : backend_(backend) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::ToolTip) {
      for (auto& tray : backend_.trays_) {
        if (static_cast<QObject*>(tray->icon.get()) == watched) {
          // The program refreshes the tip on WM_MOUSEMOVE; it must have done so before the tip shows.
          backend_.TrayMouse(*tray, WM_MOUSEMOVE, true);
          break;
        }
      }
    }
    return false;
  }

 private:
  QtBackend& backend_;
};

QtBackend::QtBackend() : QtBackend(nullptr) {}

QtBackend::QtBackend(std::unique_ptr<QApplication> app)
    : ownedApp_(std::move(app)),
      menuStyle_(std::make_unique<ScrollingMenuStyle>()),
      hoverFilter_(std::make_unique<TrayHoverFilter>(*this)),
      inputBlocker_(std::make_unique<InputBlocker>(*this)),
      sessionHook_(std::make_unique<QObject>()) {
  QCoreApplication::instance()->installEventFilter(inputBlocker_.get());
  ApplyLanguage();
  // Closing the last visible dialog must not end the program's loops: only the program does that.
  QApplication::setQuitOnLastWindowClosed(false);
  if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    QObject::connect(app, &QGuiApplication::commitDataRequest, sessionHook_.get(),
                     [this](QSessionManager&) { EndSession(); });
    QObject::connect(app, &QCoreApplication::aboutToQuit, sessionHook_.get(), [this] { EndSession(); });
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    wakeRead_ = fds[0];
    wakeWrite_ = fds[1];
    wakeNotifier_ = std::make_unique<QSocketNotifier>(wakeRead_, QSocketNotifier::Read);
    QObject::connect(wakeNotifier_.get(), &QSocketNotifier::activated, sessionHook_.get(), [this] { DrainAsync(); });
    g_wakeWrite.store(wakeWrite_);
  }
}

QtBackend::~QtBackend() {
  if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(inputBlocker_.get());
  g_wakeWrite.store(-1);
  wakeNotifier_.reset();
  readNotifiers_.clear();
  if (wakeRead_ >= 0) ::close(wakeRead_);
  if (wakeWrite_ >= 0) ::close(wakeWrite_);
  trays_.clear();
  for (auto& [id, window] : windows_) {
    window->Detach();
    delete window;
  }
  windows_.clear();
}

// ---- lookups ----

DialogWindow* QtBackend::Window(WindowId window) const {
  auto it = windows_.find(window);
  return it != windows_.end() ? it->second : nullptr;
}

QWidget* QtBackend::WindowWidget(WindowId window) const { return Window(window); }

QWidget* QtBackend::ControlWidget(WindowId window, int id) const {
  DialogWindow* w = Window(window);
  if (w == nullptr) return nullptr;
  DialogWindow::ControlEntry* entry = w->Control(id);
  return entry != nullptr ? entry->widget : nullptr;
}

std::vector<QWidget*> QtBackend::ControlWidgets(WindowId window) const {
  std::vector<QWidget*> out;
  if (DialogWindow* w = Window(window)) {
    for (const DialogWindow::ControlEntry& entry : w->Controls()) out.push_back(entry.widget);
  }
  return out;
}

QWidget* QtBackend::BlockScroller(WindowId window) const {
  DialogWindow* w = Window(window);
  return w != nullptr ? w->BlockScroller() : nullptr;
}

QWidget* QtBackend::OpenPopup() const {
  for (auto it = openMenus_.rbegin(); it != openMenus_.rend(); ++it) {
    if (!it->isNull()) return it->data();
  }
  return nullptr;
}
QWidget* QtBackend::OpenMessageBox() const { return openBox_.data(); }
QWidget* QtBackend::OpenFileDialog() const { return openFileDialog_.data(); }

QSystemTrayIcon* QtBackend::TrayIcon(WindowId window, unsigned id) const {
  for (const auto& tray : trays_) {
    if (tray->owner == window && tray->id == id) return tray->icon.get();
  }
  return nullptr;
}

std::vector<std::pair<unsigned, std::string>> QtBackend::SystemMenuItems(WindowId window) const {
  DialogWindow* w = Window(window);
  return w != nullptr ? w->SystemMenu() : std::vector<std::pair<unsigned, std::string>>{};
}

void QtBackend::ShowSystemMenu(WindowId window) {
  if (DialogWindow* w = Window(window)) w->ShowSystemMenu(w->mapToGlobal(QPoint(0, 0)));
}

void QtBackend::RaiseBlocker(WindowId blocked) {
  for (auto it = nested_.rbegin(); it != nested_.rend(); ++it) {
    if (it->owner != blocked || it->widget.isNull() || !it->widget->isVisible()) continue;
    if (auto* dialog = dynamic_cast<DialogWindow*>(it->widget.data()); dialog != nullptr && dialog->blocked > 0) {
      RaiseBlocker(dialog->Id());
      return;
    }
    RaiseAndActivate(*it->widget);
    return;
  }
}

DialogWindow* QtBackend::CurrentOwner(WindowId preferred) const {
  if (DialogWindow* w = Window(preferred)) return w;
  return Window(DefaultOwner());
}

// ---- dialog windows ----

WindowId QtBackend::CreateDialogWindow(CDialog& dialog, const DialogTemplate& tpl) {
  const WindowId id = nextWindow_++;
  windows_[id] = new DialogWindow(*this, dialog, tpl, id);
  return id;
}

void QtBackend::RunModalLoop(WindowId window) {
  DialogWindow* w = Window(window);
  if (w == nullptr || w->endRequested) return;
  // The owner is disabled for the run, as the system does it; other windows and the tray stay live.
  // The owner is the dialog that opened this one (the main window for the tray's dialogs), so an
  // About box from the tray stays usable while a settings dialog from the tray is open.
  DialogWindow* owner = w->Dialog() != nullptr ? Window(w->Dialog()->ModalOwner()) : nullptr;
  if (owner == w) owner = nullptr;
  const WindowId ownerId = owner != nullptr ? owner->Id() : kNoWindowId;
  if (owner != nullptr) ++owner->blocked;
  modalStack_.push_back(window);
  nested_.push_back(Nested{w, ownerId});

  const bool show = (w->Template().style & WS_VISIBLE) != 0 || !w->hidden;
  if (show) {
    const QWidget* anchor = owner != nullptr && owner->isVisible() ? owner : nullptr;
    QRect area = anchor != nullptr ? anchor->frameGeometry() : QRect();
    if (area.isEmpty()) {
      QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
      if (screen == nullptr) screen = QGuiApplication::primaryScreen();
      if (screen != nullptr) area = screen->availableGeometry();
    }
    if (!area.isEmpty()) w->move(area.center() - QPoint(w->width() / 2, w->height() / 2));
    w->show();
    RaiseAndActivate(*w);
  }
  if (modalStartHandler_ && w->Dialog() != nullptr) modalStartHandler_(*w->Dialog(), *w);

  if (!w->endRequested) {
    const LoopScope scope(*this);
    w->ownLoopDepth = loopDepth_;
    QEventLoop loop;
    w->loop = &loop;
    loop.exec(QEventLoop::DialogExec);
    w->loop = nullptr;
  }

  modalStack_.erase(std::remove(modalStack_.begin(), modalStack_.end(), window), modalStack_.end());
  std::erase_if(nested_, [w](const Nested& n) { return n.widget == w; });
  w->hide();
  if (DialogWindow* stillThere = Window(ownerId)) --stillThere->blocked;
}

void QtBackend::EndModalLoop(WindowId window) {
  DialogWindow* w = Window(window);
  if (w == nullptr) return;
  w->endRequested = true;
  // Gone from the screen now, as the system's EndDialog hides it, even when a loop started later
  // runs above its own and its run returns only once that one has.
  w->hide();
  if (w->loop != nullptr) w->loop->exit(0);
}

void QtBackend::DestroyDialogWindow(WindowId window) {
  DialogWindow* w = Window(window);
  if (w == nullptr) return;
  w->StopAllTimers();
  if (CDialog* dialog = w->Dialog()) {
    dialog->Dispatch(WM_DESTROY, 0, 0);
    dialog->Dispatch(WM_NCDESTROY, 0, 0);
  }
  // Icons whose window is gone could never report again.
  trays_.erase(
      std::remove_if(trays_.begin(), trays_.end(), [window](const auto& tray) { return tray->owner == window; }),
      trays_.end());
  windows_.erase(window);
  modalStack_.erase(std::remove(modalStack_.begin(), modalStack_.end(), window), modalStack_.end());
  w->Detach();
  // Never called from an event handler of this window: its run has returned before it is destroyed.
  delete w;
}

bool QtBackend::PostToWindow(WindowId window, unsigned message, WParam wParam, LParam lParam) {
  DialogWindow* w = Window(window);
  if (w == nullptr) return false;
  QCoreApplication::postEvent(w, new PostedMessageEvent(message, wParam, lParam));
  return true;
}

void QtBackend::SetWindowIcon(WindowId window, const Icon& icon, bool big) {
  if (DialogWindow* w = Window(window)) w->SetIcons(icon, big);
}

std::uint32_t QtBackend::WindowStyleEx(WindowId window) {
  DialogWindow* w = Window(window);
  return w != nullptr ? w->ExStyle() : 0u;
}

void QtBackend::SetWindowStyleEx(WindowId window, std::uint32_t exStyle) {
  if (DialogWindow* w = Window(window)) w->SetExStyle(exStyle);
}

void QtBackend::HideWindow(WindowId window) {
  if (DialogWindow* w = Window(window)) {
    w->hidden = true;
    w->hide();
  }
}

bool QtBackend::SetForeground(WindowId window) {
  DialogWindow* w = Window(window);
  if (w == nullptr || !w->isVisible()) return false;
  RaiseAndActivate(*w);
  return true;
}

bool QtBackend::BringToFront(WindowId window) {
  DialogWindow* w = Window(window);
  if (w == nullptr || w->endRequested || (!w->isVisible() && !w->isMinimized())) return false;
  // Raising alone leaves a minimised window where it is: the tray had no way to bring it back.
  if (w->isMinimized()) w->showNormal();
  RaiseAndActivate(*w);
  return true;
}

bool QtBackend::IsMinimized(WindowId window) {
  DialogWindow* w = Window(window);
  return w != nullptr && w->isMinimized();
}

bool QtBackend::AddControls(WindowId window, const ControlBlock& block) {
  DialogWindow* w = Window(window);
  return w != nullptr && w->AddControls(block);
}

Size QtBackend::ClientSize(WindowId window) {
  DialogWindow* w = Window(window);
  if (w == nullptr) return {};
  return Size{w->width(), w->height()};
}

std::string QtBackend::WindowCaption(WindowId window) {
  DialogWindow* w = Window(window);
  return w != nullptr ? ToUtf8(w->windowTitle()) : std::string();
}

void QtBackend::SetWindowCaption(WindowId window, const std::string& text) {
  if (DialogWindow* w = Window(window)) w->setWindowTitle(FromUtf8(text));
}

void QtBackend::AppendSystemMenu(WindowId window, unsigned id, const std::string& text) {
  if (DialogWindow* w = Window(window)) w->AddSystemMenuItem(id, id == 0 ? std::string() : text);
}

bool QtBackend::SetTimer(WindowId window, std::uintptr_t id, unsigned milliseconds) {
  DialogWindow* w = Window(window);
  return w != nullptr && w->StartWindowTimer(id, milliseconds);
}

bool QtBackend::KillTimer(WindowId window, std::uintptr_t id) {
  DialogWindow* w = Window(window);
  return w != nullptr && w->StopWindowTimer(id);
}

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

// ---- menus, boxes, the file dialog ----

unsigned QtBackend::TrackPopup(WindowId window, const Menu& popup, unsigned, int x, int y) {
  DialogWindow* owner = Window(window);
  if (owner == nullptr || Quitting()) return 0;
  QMenu menu;
  BuildMenu(menu, popup, menuStyle_.get());
  if (menu.actions().isEmpty()) return 0;
  openMenus_.emplace_back(&menu);
  QPointer<DialogWindow> guard(owner);
  QAction* chosen = nullptr;
  {
    const LoopScope scope(*this);
    chosen = menu.exec(QPoint(x, y));
  }
  std::erase(openMenus_, QPointer<QMenu>(&menu));
  if (chosen == nullptr || guard.isNull()) return 0;
  return chosen->data().toUInt();
}

void QtBackend::DismissPopupMenus() {
  // Hiding a menu ends its exec with nothing chosen.
  for (auto it = openMenus_.rbegin(); it != openMenus_.rend(); ++it) {
    if (!it->isNull()) (*it)->hide();
  }
}

void QtBackend::CancelTransientLoops() {
  DismissPopupMenus();
  for (auto it = nested_.rbegin(); it != nested_.rend(); ++it) {
    if (it->widget.isNull() || dynamic_cast<DialogWindow*>(it->widget.data()) != nullptr) continue;
    if (auto* dialog = qobject_cast<QDialog*>(it->widget.data())) dialog->done(QDialog::Rejected);
  }
}

void QtBackend::RunNested(QWidget& widget, WindowId ownerWindow) {
  DialogWindow* owner = CurrentOwner(ownerWindow);
  const WindowId ownerId = owner != nullptr ? owner->Id() : kNoWindowId;
  if (owner != nullptr) ++owner->blocked;
  nested_.push_back(Nested{&widget, ownerId});
  if (owner != nullptr && owner->isVisible()) {
    widget.winId();
    if (widget.windowHandle() != nullptr && owner->windowHandle() != nullptr) {
      widget.windowHandle()->setTransientParent(owner->windowHandle());
    }
  }
  auto* dialog = qobject_cast<QDialog*>(&widget);
  // Qt makes boxes modal to the whole program, which would leave the tray icon dead while one is
  // open; only the owner waits, as on the system.
  widget.setWindowModality(Qt::NonModal);
  QEventLoop loop;
  // Showing may already run events (a file dialog reads its folder), and a dialog may be finished
  // by them before the loop starts: then there is nothing to wait for.
  bool finished = false;
  if (dialog != nullptr) {
    QObject::connect(dialog, &QDialog::finished, &loop, [&loop, &finished] {
      finished = true;
      loop.exit(0);
    });
  }
  widget.show();
  RaiseAndActivate(widget);
  if (widget.isVisible() && !finished) {
    const LoopScope scope(*this);
    loop.exec(QEventLoop::DialogExec);
  }
  widget.hide();
  std::erase_if(nested_, [&widget](const Nested& n) { return n.widget == &widget; });
  if (DialogWindow* stillThere = Window(ownerId)) --stillThere->blocked;
}

int QtBackend::ShowMessageBox(OwnerWindow owner, const std::string& text, const char* caption, unsigned type) {
  if (Quitting()) return SafeMessageBoxAnswer(type);
  QMessageBox box;
  box.setIcon(QMessageBox::NoIcon);
  box.setTextFormat(Qt::PlainText);
  box.setText(FromUtf8(text));
  box.setWindowTitle(QString::fromUtf8(caption != nullptr ? caption : res::Text(res::TextId::kErrorCaption)));
  if (DialogWindow* w = CurrentOwner(owner)) box.setFont(w->font());

  // The buttons with the texts the system's boxes have in the program's language; the answer is the
  // button's id.
  using res::TextId;
  std::vector<std::pair<QPushButton*, int>> buttons;
  auto add = [&](TextId label, QMessageBox::ButtonRole role, int answer) {
    buttons.emplace_back(box.addButton(QString::fromUtf8(res::Text(label)), role), answer);
  };
  int escapeAnswer = IDCANCEL;
  switch (type & 0xFu) {
    case MB_OKCANCEL:
      add(TextId::kButtonOk, QMessageBox::AcceptRole, IDOK);
      add(TextId::kButtonCancel, QMessageBox::RejectRole, IDCANCEL);
      break;
    case MB_YESNOCANCEL:
      add(TextId::kButtonYes, QMessageBox::YesRole, IDYES);
      add(TextId::kButtonNo, QMessageBox::NoRole, IDNO);
      add(TextId::kButtonCancel, QMessageBox::RejectRole, IDCANCEL);
      break;
    case MB_YESNO:
      add(TextId::kButtonYes, QMessageBox::YesRole, IDYES);
      add(TextId::kButtonNo, QMessageBox::NoRole, IDNO);
      escapeAnswer = IDNO;
      break;
    default:
      add(TextId::kButtonOk, QMessageBox::AcceptRole, IDOK);
      escapeAnswer = IDOK;
      break;
  }
  const std::size_t defaultIndex = std::min<std::size_t>((type >> 8) & 0xFu, buttons.size() - 1);
  box.setDefaultButton(buttons[defaultIndex].first);
  for (const auto& [button, answer] : buttons) {
    if (answer == escapeAnswer) box.setEscapeButton(button);
  }

  const QPointer<QWidget> outerBox = openBox_;
  openBox_ = &box;
  RunNested(box, owner);
  openBox_ = outerBox;
  for (const auto& [button, answer] : buttons) {
    if (box.clickedButton() == button) return answer;
  }
  return escapeAnswer;
}

bool QtBackend::ShowFileOpen(WindowId owner, const FileOpenRequest& request, std::string& path) {
  if (Quitting()) return false;
  QFileDialog dialog;
  dialog.setWindowTitle(FromUtf8(request.title));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode((request.flags & OFN_FILEMUSTEXIST) != 0 ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  if ((request.flags & OFN_HIDEREADONLY) != 0) dialog.setOption(QFileDialog::ReadOnly, false);
  QStringList filters;
  bool detailsAdded = false;
  std::vector<bool> executables;
  for (const auto& filter : request.filters) {
    filters << NameFilter(filter.first, filter.second);
    detailsAdded = detailsAdded || filters.back() != FromUtf8(filter.first);
    executables.push_back(IsExecutableFilter(filter));
  }
  // Patterns we had to add for this system stay out of sight: the user sees the program's wording.
  if (detailsAdded) dialog.setOption(QFileDialog::HideNameFilterDetails, true);
  ExecutableFiles* proxy = nullptr;
  if (std::find(executables.begin(), executables.end(), true) != executables.end()) {
    // A proxy model needs Qt's own dialog, not the desktop's.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    proxy = new ExecutableFiles(&dialog);
    dialog.setProxyModel(proxy);
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [proxy, filters, executables](const QString& chosen) {
                       const qsizetype at = filters.indexOf(chosen);
                       proxy->SetOnlyExecutables(at >= 0 && executables[static_cast<std::size_t>(at)]);
                     });
  }
  if (!filters.isEmpty()) {
    dialog.setNameFilters(filters);
    const int index = std::clamp(request.filterIndex, 1, static_cast<int>(filters.size())) - 1;
    dialog.selectNameFilter(filters[index]);
    if (proxy != nullptr) proxy->SetOnlyExecutables(executables[static_cast<std::size_t>(index)]);
  }
  if (!request.defaultExtension.empty()) dialog.setDefaultSuffix(FromUtf8(request.defaultExtension));
  // A wildcard as the initial name only repeats the filter; a real name is offered.
  const QString initial = FromUtf8(request.initialName);
  if (!initial.isEmpty() && !initial.contains(QLatin1Char('*')) && !initial.contains(QLatin1Char('?'))) {
    dialog.selectFile(initial);
  }
  WidenPlaces(dialog);
  // The process's current directory is never changed: the settings and log files live there.
  const QPointer<QWidget> outerDialog = openFileDialog_;
  openFileDialog_ = &dialog;
  RunNested(dialog, owner);
  openFileDialog_ = outerDialog;
  if (dialog.result() != QDialog::Accepted) return false;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return false;
  path = ToUtf8(QFileInfo(chosen.front()).absoluteFilePath());
  return true;
}

// ---- the notification-area icon ----

void QtBackend::TrayMouse(Tray& tray, unsigned mouseMessage, bool synchronous) {
  DialogWindow* w = Window(tray.owner);
  if (w == nullptr || tray.callbackMessage == 0) return;
  if (synchronous) {
    if (CDialog* dialog = w->Dialog())
      dialog->Dispatch(tray.callbackMessage, tray.id, static_cast<LParam>(mouseMessage));
  } else {
    PostToWindow(tray.owner, tray.callbackMessage, tray.id, static_cast<LParam>(mouseMessage));
  }
}

bool QtBackend::ShellNotifyIcon(unsigned action, const TrayIconData& data) {
  auto found = std::find_if(trays_.begin(), trays_.end(),
                            [&](const auto& tray) { return tray->owner == data.hWnd && tray->id == data.uID; });
  if (action == NIM_DELETE) {
    if (found == trays_.end()) return false;
    (*found)->icon->hide();
    trays_.erase(found);
    return true;
  }
  Tray* tray = nullptr;
  if (action == NIM_ADD) {
    if (found != trays_.end() || Window(data.hWnd) == nullptr) return false;
    auto created = std::make_unique<Tray>();
    created->owner = data.hWnd;
    created->id = data.uID;
    // Decided before Qt makes its icon, the moment Qt decides the same for the process.
    StatusNotifierHost();
    created->icon = std::make_unique<QSystemTrayIcon>();
    created->icon->installEventFilter(hoverFilter_.get());
    Tray* raw = created.get();
    created->pendingClick = std::make_unique<QTimer>();
    created->pendingClick->setSingleShot(true);
    QObject::connect(created->pendingClick.get(), &QTimer::timeout, created->icon.get(),
                     [this, raw] { TrayClick(*raw, WM_LBUTTONDOWN, WM_LBUTTONUP); });
    QObject::connect(created->icon.get(), &QSystemTrayIcon::activated, created->icon.get(),
                     [this, raw](QSystemTrayIcon::ActivationReason reason) { TrayActivated(*raw, reason); });
    trays_.push_back(std::move(created));
    tray = raw;
  } else if (action == NIM_MODIFY) {
    if (found == trays_.end()) return false;
    tray = found->get();
  } else {
    return false;
  }
  if ((data.uFlags & NIF_MESSAGE) != 0) tray->callbackMessage = data.uCallbackMessage;
  if ((data.uFlags & NIF_TIP) != 0) tray->icon->setToolTip(FromUtf8(data.szTip));
  if ((data.uFlags & NIF_ICON) != 0) {
    tray->icon->setIcon(ToQIcon(data.hIcon));
    tray->hasIcon = !data.hIcon.IsNull();
  }
  // Qt shows no icon without a picture; one added without it appears once it gets one.
  if (tray->hasIcon && !tray->icon->isVisible()) tray->icon->show();
  return true;
}

void QtBackend::TrayActivated(Tray& tray, int reason) {
  // The pointer crossed the icon before it was clicked: the program hears of it first, as it would
  // from the system.
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      if (StatusNotifierHost()) {
        // One activation per click: no double click can follow, so nothing is held back.
        TrayClick(tray, WM_LBUTTONDOWN, WM_LBUTTONUP);
        break;
      }
      // A click that was still waiting is a click of its own (the second was too far away to make a
      // double click): it goes now, and this one waits in its place.
      if (tray.pendingClick->isActive()) {
        tray.pendingClick->stop();
        TrayClick(tray, WM_LBUTTONDOWN, WM_LBUTTONUP);
      }
      tray.pendingClick->start(QGuiApplication::styleHints()->mouseDoubleClickInterval());
      break;
    case QSystemTrayIcon::DoubleClick:
      tray.pendingClick->stop();
      TrayMouse(tray, WM_LBUTTONDBLCLK, false);
      TrayMouse(tray, WM_LBUTTONUP, false);
      break;
    case QSystemTrayIcon::Context: TrayClick(tray, WM_RBUTTONDOWN, WM_RBUTTONUP); break;
    case QSystemTrayIcon::MiddleClick: TrayClick(tray, WM_MBUTTONDOWN, WM_MBUTTONUP); break;
    default: break;
  }
}

void QtBackend::TrayClick(Tray& tray, unsigned down, unsigned up) {
  TrayMouse(tray, WM_MOUSEMOVE, false);
  TrayMouse(tray, down, false);
  TrayMouse(tray, up, false);
}

bool QtBackend::StatusNotifierHost() {
  if (!statusNotifierHost_) statusNotifierHost_ = AskStatusNotifierHost();
  return *statusNotifierHost_;
}

NotificationArea QtBackend::NotificationAreaKind() {
  const bool host = StatusNotifierHost();
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return NotificationArea::kNone;
  return host ? NotificationArea::kActivations : NotificationArea::kMouse;
}

Point QtBackend::CursorPos() {
  const QPoint p = QCursor::pos();
  return Point{p.x(), p.y()};
}

// ---- session end and asynchronous requests ----

void QtBackend::EndSession() {
  if (sessionEnded_) return;
  CDialog* main = MainWindow();
  if (main == nullptr || !main->HasWindow()) return;
  sessionEnded_ = true;
  // The answer to the question is not consulted: the session ends either way on this system.
  main->Dispatch(WM_QUERYENDSESSION, 0, 0);
  if (main->HasWindow()) main->Dispatch(WM_ENDSESSION, 1, 0);
}

int QtBackend::AddAsyncAction(std::function<void()> action) {
  if (static_cast<int>(asyncActions_.size()) >= kMaxAsyncSlots || !action) return -1;
  asyncActions_.push_back(std::move(action));
  return static_cast<int>(asyncActions_.size()) - 1;
}

bool QtBackend::TriggerAsync(int slot) {
  const int fd = g_wakeWrite.load();
  if (fd < 0 || slot < 0 || slot >= kMaxAsyncSlots) return false;
  const unsigned char byte = static_cast<unsigned char>(slot);
  const int savedErrno = errno;
  const bool written = ::write(fd, &byte, 1) == 1;
  errno = savedErrno;
  return written;
}

void QtBackend::WatchReadable(int fd, std::function<void()> readable) {
  if (fd < 0 || !readable) return;
  auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, sessionHook_.get(),
                   [action = std::move(readable)] { action(); });
  readNotifiers_.push_back(std::move(notifier));
}

void QtBackend::DrainAsync() {
  unsigned char buffer[64];
  for (;;) {
    const ssize_t got = ::read(wakeRead_, buffer, sizeof buffer);
    if (got <= 0) break;
    for (ssize_t i = 0; i < got; ++i) {
      const std::size_t slot = buffer[i];
      if (slot < asyncActions_.size()) asyncActions_[slot]();
    }
  }
}

std::unique_ptr<IBackend> CreateQtBackend(int& argc, char** argv) {
  std::unique_ptr<QApplication> app = TryCreateQtApplication(argc, argv);
  if (!app) return nullptr;
  return std::make_unique<QtBackend>(std::move(app));
}

// ---- shell ----

bool QtShell::OpenAddress(const std::string& address) {
  const QUrl url(FromUtf8(address));
  return url.isValid() && QDesktopServices::openUrl(url);
}

Icon QtShell::FileIcon(const std::string& path) {
  const QFileInfo info(FromUtf8(path));
  if (!info.exists()) return Icon{};
  QFileIconProvider provider;
  return FromQIcon(provider.icon(info), 16);
}

}  // namespace framework::qt
