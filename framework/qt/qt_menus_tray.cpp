#include <QAction>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QMenu>
#include <QPointer>
#include <QStyleHints>
#include <QSystemTrayIcon>
#include <QTimer>
#include <algorithm>

#include "framework/qt/qt_backend_private.h"
#include "framework/qt/qt_widgets.h"

namespace framework::qt {

namespace {

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

// ---- popup menus ----

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

}  // namespace framework::qt
