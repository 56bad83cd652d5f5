// The notification-area icon: adding, changing and removing it, and what the program hears of the
// mouse over it; a hover is told before the tip is shown so the tip can be brought up to date.
#include <QGuiApplication>
#include <QHelpEvent>
#include <QStyleHints>
#include <QSystemTrayIcon>

#include "qt_test_support.h"

namespace mavrin_test {
namespace {

framework::TrayIconData TrayData(framework::WindowId window) {
  framework::TrayIconData data;
  data.hWnd = window;
  data.uID = ID_TRAY_ICON;
  data.uFlags = NIF_MESSAGE | NIF_ICON;
  data.uCallbackMessage = WM_TRAY_NOTIFY;
  data.hIcon = framework::LoadIconResource(IDR_MAINFRAME, 16);
  return data;
}

TEST_F(QtBackendTest, TrayIconIsAddedChangedAndRemovedLikeTheSystemsOne) {
  RecordingDialog dialog(IDD_DUMMY);
  dialog.onInit = [](RecordingDialog& d) { d.HideWindow(); };
  RunWith(dialog, [&](QWidget&) {
    framework::TrayIconData data = TrayData(dialog.GetSafeHwnd());
    EXPECT_FALSE(backend.ShellNotifyIcon(NIM_MODIFY, data));  // nothing to modify yet
    EXPECT_TRUE(backend.ShellNotifyIcon(NIM_ADD, data));
    EXPECT_FALSE(backend.ShellNotifyIcon(NIM_ADD, data));  // the same icon twice
    QSystemTrayIcon* icon = backend.TrayIcon(dialog.GetSafeHwnd(), ID_TRAY_ICON);
    ASSERT_NE(icon, nullptr);
    EXPECT_FALSE(icon->icon().isNull());
    EXPECT_TRUE(icon->toolTip().isEmpty());
    data.uFlags = NIF_TIP;
    data.szTip = "Mavrin (監視中)";
    EXPECT_TRUE(backend.ShellNotifyIcon(NIM_MODIFY, data));
    EXPECT_EQ(icon->toolTip(), QStringLiteral("Mavrin (監視中)"));
    EXPECT_TRUE(backend.ShellNotifyIcon(NIM_DELETE, data));
    EXPECT_EQ(backend.TrayIcon(dialog.GetSafeHwnd(), ID_TRAY_ICON), nullptr);
    EXPECT_FALSE(backend.ShellNotifyIcon(NIM_DELETE, data));
    // An icon needs a window to report to.
    EXPECT_FALSE(backend.ShellNotifyIcon(NIM_ADD, TrayData(0x9999)));
    dialog.EndDialog(0);
  });
}

// A single click is held for the double-click interval, so a double click reaches the window as
// the double click alone: the single click's menu would otherwise take the second click.
TEST_F(QtBackendTest, HoverIsToldBeforeTheTipShowsAndClicksArriveAsMouseMessages) {
  RecordingDialog dialog(IDD_DUMMY);
  bool paused = false;
  dialog.onInit = [](RecordingDialog& d) { d.HideWindow(); };
  dialog.onTray = [&](RecordingDialog& d, framework::WParam, framework::LParam mouse) {
    if (mouse != WM_MOUSEMOVE) return;
    framework::TrayIconData tip = TrayData(d.GetSafeHwnd());
    tip.uFlags = NIF_TIP;
    tip.szTip = paused ? "Mavrin (停止中)" : "Mavrin (監視中)";
    framework::Backend().ShellNotifyIcon(NIM_MODIFY, tip);
  };
  const int interval = QGuiApplication::styleHints()->mouseDoubleClickInterval();
  auto mouseMessages = [&] {
    std::vector<framework::LParam> mouse;
    for (const Received& r : dialog.Of(WM_TRAY_NOTIFY)) {
      EXPECT_EQ(r.wParam, static_cast<framework::WParam>(ID_TRAY_ICON));
      mouse.push_back(r.lParam);
    }
    dialog.received.clear();
    return mouse;
  };
  QString tipAfterHover;
  std::vector<framework::LParam> beforeInterval, single, twice, others;
  RunWith(dialog, [&](QWidget&) {
    ASSERT_TRUE(backend.ShellNotifyIcon(NIM_ADD, TrayData(dialog.GetSafeHwnd())));
    EXPECT_EQ(backend.NotificationAreaKind(), framework::NotificationArea::kNone);  // no tray offscreen
    QSystemTrayIcon* icon = backend.TrayIcon(dialog.GetSafeHwnd(), ID_TRAY_ICON);
    paused = true;
    // Qt hands the tray's tool-tip event to the icon object before it shows the tip.
    QHelpEvent hover(QEvent::ToolTip, QPoint(1, 1), QPoint(1, 1));
    QCoreApplication::sendEvent(icon, &hover);
    tipAfterHover = icon->toolTip();
    dialog.received.clear();
    emit icon->activated(QSystemTrayIcon::Trigger);
    Spin(interval / 2);
    beforeInterval = mouseMessages();
    Spin(interval);
    single = mouseMessages();
    emit icon->activated(QSystemTrayIcon::Trigger);
    Spin(interval / 4);
    emit icon->activated(QSystemTrayIcon::DoubleClick);
    Spin(interval + 50);
    twice = mouseMessages();
    emit icon->activated(QSystemTrayIcon::Context);
    emit icon->activated(QSystemTrayIcon::MiddleClick);
    Spin(20);
    others = mouseMessages();
    dialog.EndDialog(0);
  });
  EXPECT_EQ(tipAfterHover, QStringLiteral("Mavrin (停止中)"));
  EXPECT_TRUE(beforeInterval.empty());
  EXPECT_EQ(single, (std::vector<framework::LParam>{WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP}));
  EXPECT_EQ(twice, (std::vector<framework::LParam>{WM_LBUTTONDBLCLK, WM_LBUTTONUP}));
  EXPECT_EQ(others, (std::vector<framework::LParam>{WM_MOUSEMOVE, WM_RBUTTONDOWN, WM_RBUTTONUP, WM_MOUSEMOVE,
                                                    WM_MBUTTONDOWN, WM_MBUTTONUP}));
}

TEST_F(QtBackendTest, DestroyingTheWindowStopsItsTimersAndDropsItsIcon) {
  RecordingDialog dialog(IDD_DUMMY);
  dialog.onInit = [&](RecordingDialog& d) {
    d.HideWindow();
    d.SetTimer(0, 10);
    backend.ShellNotifyIcon(NIM_ADD, TrayData(d.GetSafeHwnd()));
  };
  framework::WindowId window = 0;
  RunWith(dialog, [&](QWidget&) {
    window = dialog.GetSafeHwnd();
    QTimer::singleShot(40, [&] { dialog.EndDialog(0); });
  });
  const std::size_t ticks = dialog.Of(WM_TIMER).size();
  EXPECT_GE(ticks, 1u);
  EXPECT_EQ(backend.TrayIcon(window, ID_TRAY_ICON), nullptr);
  Spin(40);
  EXPECT_EQ(dialog.Of(WM_TIMER).size(), ticks);
  EXPECT_FALSE(backend.SetTimer(window, 0, 10));
}

}  // namespace
}  // namespace mavrin_test
