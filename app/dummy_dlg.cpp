#include "app/dummy_dlg.h"

#include <cstdio>

#include "app/about_dlg.h"
#include "app/assign_app.h"
#include "app/stop_signals.h"
#include "base/text.h"
#include "res/resource.h"
#include "res/texts.h"

framework::TrayIconData g_trayIconData;
bool g_bSettingsOpen = false;
bool g_bAboutOpen = false;

// The tray's callback is one of the program's own messages: above WM_APP, which the Windows backend
// keeps for waking its loop, and below the window's other messages.
static_assert(WM_TRAY_NOTIFY > WM_APP && WM_TRAY_NOTIFY < WM_APP_STOP_REQUEST);

namespace {
constexpr std::uintptr_t kObservationTimer = 0;
constexpr unsigned kObservationPeriodMs = 1000;
constexpr int kStandardIconSize = 32;
constexpr int kTrayIconSize = 16;
constexpr std::size_t kTipBytes = 63;
}  // namespace

std::string TrayTooltipText(bool paused) {
  return CutToBytes(res::Text(paused ? res::TextId::kTrayTipPaused : res::TextId::kTrayTipObserving), kTipBytes);
}

void PostBringForwardToMainWindow() {
  if (framework::CDialog* main = framework::MainWindow()) main->PostToSelf(WM_APP_BRING_FORWARD);
}

CDummyDlg::CDummyDlg()
    : CDialog(IDD_DUMMY),
      m_hIcon(framework::LoadIconResource(IDR_MAINFRAME, kStandardIconSize)),
      m_assignListDlg(TheApp()) {}

const framework::MessageMap* CDummyDlg::GetThisMessageMap() {
  using namespace framework;
  static constexpr MessageEntry kEntries[] = {
      MapTimer<&CDummyDlg::OnTimer>(),
      MapMessage<&CDummyDlg::OnTrayNotify>(WM_TRAY_NOTIFY),
      MapCommand<&CDummyDlg::OnOpenSettings>(ID_TRAY_OPEN_SETTINGS),
      MapCommand<&CDummyDlg::OnPause>(ID_TRAY_PAUSE),
      MapCommand<&CDummyDlg::OnAbout>(ID_TRAY_ABOUT),
      MapCommand<&CDummyDlg::OnExit>(ID_TRAY_EXIT),
      MapMessage<&CDummyDlg::OnDestroy>(WM_DESTROY),
      MapMessage<&CDummyDlg::OnNcDestroy>(WM_NCDESTROY),
      MapMessage<&CDummyDlg::OnQueryEndSession>(WM_QUERYENDSESSION),
      MapMessage<&CDummyDlg::OnEndSession>(WM_ENDSESSION),
      MapMessage<&CDummyDlg::OnStopRequest>(WM_APP_STOP_REQUEST),
      MapMessage<&CDummyDlg::OnBringForward>(WM_APP_BRING_FORWARD),
      MapMessage<&CDummyDlg::OnShowStatusWindow>(WM_APP_SHOW_STATUS),
      MapCommand<&CDummyDlg::OnStatusDeleteMenu>(ID_STATUS_DELETE_MENU),
      MapCommand<&CDummyDlg::OnStatusQuickMenu>(ID_STATUS_QUICK_MENU),
      MapMessage<&CDummyDlg::OnExecEvents>(WM_APP_EXEC_EVENTS),
  };
  static constexpr MessageMap kMap{&CDialog::GetThisMessageMap, kEntries};
  return &kMap;
}

bool CDummyDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetIcon(m_hIcon, true);
  SetIcon(m_hIcon, false);
  // Never a task-bar button: the window exists only to own the icon and the timer.
  ModifyStyleEx(WS_EX_APPWINDOW, 0);

  g_trayIconData = framework::TrayIconData{};
  g_trayIconData.hWnd = GetSafeHwnd();
  g_trayIconData.uID = ID_TRAY_ICON;
  g_trayIconData.uFlags = NIF_MESSAGE | NIF_ICON;
  g_trayIconData.uCallbackMessage = WM_TRAY_NOTIFY;
  g_trayIconData.hIcon = framework::LoadIconResource(IDR_MAINFRAME, kTrayIconSize);
  framework::Backend().ShellNotifyIcon(NIM_ADD, g_trayIconData);
  m_area = framework::Backend().NotificationAreaKind();
  // A host that reports no hover never asks for the tip: it gets it now and at every change.
  if (m_area == framework::NotificationArea::kActivations) RefreshTip();
  // Without a notification area the icon would be all there is of the program, and unseen.
  if (m_area == framework::NotificationArea::kNone) PostToSelf(WM_APP_SHOW_STATUS);

  HideWindow();
  SetTimer(kObservationTimer, kObservationPeriodMs);
  // A stop signal that came during start-up ends the program as soon as its loop runs.
  if (StopRequested()) PostToSelf(WM_APP_STOP_REQUEST);
  return true;
}

bool CDummyDlg::OnCommand(framework::WParam wParam, framework::LParam lParam) {
  const unsigned id = static_cast<unsigned>(wParam & 0xFFFF);
  if (id >= ID_QUICK_WINDOW_BASE && id < ID_DELETE_ENTRY_BASE + ID_DYNAMIC_RANGE_SIZE) {
    if (!OnDynamicCommand(id)) return false;
  }
  return CDialog::OnCommand(wParam, lParam);
}

void CDummyDlg::OnTimer(std::uintptr_t id) {
  if (id != kObservationTimer) {
    Default();
    return;
  }
  FollowNotificationArea();
  // The timer runs on while paused or while the settings dialog is open. A hand edit of the settings
  // file waits for the dialog to close (its management dialog's rows stand for the list as it is),
  // and is taken in while paused.
  if (IsSettingsOpen()) return;
  TheApp().ReloadWatchListIfChanged();
  if (m_bPaused) return;
  TheApp().RunObservationCycle();
}

framework::LResult CDummyDlg::OnTrayNotify(framework::WParam iconId, framework::LParam mouseMessage) {
  if (iconId != ID_TRAY_ICON) return 0;
  switch (static_cast<unsigned>(mouseMessage)) {
    case WM_MOUSEMOVE: RefreshTip(); break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
      if (m_bMenuOpen) {
        // A host that reports activations sends clicks on the icon while the menu is open: the
        // click closes the menu, as a click beside it would, instead of stacking a second one.
        framework::Backend().DismissPopupMenus();
      } else if (IsSettingsOpen()) {
        // Minimised or hidden behind others, it comes back whole.
        m_assignListDlg.BringToFront();
      } else {
        ShowTrayMenu();
      }
      break;
    case WM_LBUTTONDBLCLK: OnOpenSettings(); break;
    case WM_MBUTTONDOWN:
      // Where clicks arrive one activation each, a double click cannot happen: the middle click
      // (the host's secondary activation) opens the settings instead.
      if (m_area == framework::NotificationArea::kActivations) OnOpenSettings();
      break;
    default: break;
  }
  return 0;
}

void CDummyDlg::RefreshTip() {
  g_trayIconData.szTip = TrayTooltipText(m_bPaused);
  g_trayIconData.uFlags = NIF_TIP;
  framework::Backend().ShellNotifyIcon(NIM_MODIFY, g_trayIconData);
}

void CDummyDlg::OnOpenSettings() {
  if (g_bSettingsOpen) {
    // One settings dialog: a second request brings the first back.
    m_assignListDlg.BringToFront();
    return;
  }
  if (framework::Quitting()) return;
  g_bSettingsOpen = true;
  m_assignListDlg.DoModal();
  g_bSettingsOpen = false;
}

void CDummyDlg::OnPause() {
  m_bPaused = !m_bPaused;
  if (m_area == framework::NotificationArea::kActivations) RefreshTip();
  m_statusDlg.ShowPaused(m_bPaused);
  if (!m_bPaused) TheApp().ResumeObservation();
}

void CDummyDlg::OnExecEvents() {
  // Held back exactly when the tick is: the list may be mid-edit, or the user asked for a pause.
  if (IsSettingsOpen() || m_bPaused) {
    TheApp().DropExecEvents();
  } else {
    TheApp().HandleExecEvents();
  }
}

void CDummyDlg::OnAbout() {
  // One About box at a time: a request while one is shown brings that one forward.
  if (CAboutDlg* shown = CAboutDlg::Shown()) {
    shown->BringToFront();
    return;
  }
  const bool outer = g_bAboutOpen;
  g_bAboutOpen = true;
  CAboutDlg::ShowOrRaise();
  g_bAboutOpen = outer;
}

void CDummyDlg::OnExit() { Quit(); }

void CDummyDlg::Quit() {
  // Exit must end the program whatever is open: its dialogs, boxes and menus close first (each as
  // its Cancel would), then this loop ends and the list is saved.
  framework::BeginQuit();
  EndDialog(0);
}

void CDummyDlg::OnBringForward() {
  if (framework::Quitting()) return;
  if (IsSettingsOpen()) {
    m_assignListDlg.BringToFront();
  } else if (IsStatusWindowShown()) {
    m_statusDlg.BringToFront();
  } else {
    OnOpenSettings();
  }
}

void CDummyDlg::OnShowStatusWindow() {
  if (m_statusDlg.HasWindow() || framework::Quitting()) return;
  m_statusDlg.ShowPaused(m_bPaused);
  m_statusDlg.DoModal();
}

void CDummyDlg::FollowNotificationArea() {
  if (!IsStatusWindowShown()) return;
  const framework::NotificationArea area = framework::Backend().NotificationAreaKind();
  if (area == framework::NotificationArea::kNone) return;
  // The icon docks by itself once there is somewhere to dock; the window is no longer needed.
  m_area = area;
  if (m_area == framework::NotificationArea::kActivations) RefreshTip();
  m_statusDlg.EndDialog(IDOK);
}

void CDummyDlg::OnStatusDeleteMenu() {
  // As a click on the icon: while the settings dialog is open, the lists belong to it.
  if (IsSettingsOpen()) {
    m_assignListDlg.BringToFront();
    return;
  }
  ShowTrayMenu(kTrayDeleteSubmenu);
}

void CDummyDlg::OnStatusQuickMenu() {
  if (IsSettingsOpen()) {
    m_assignListDlg.BringToFront();
    return;
  }
  ShowTrayMenu(kTrayQuickSubmenu);
}

void CDummyDlg::OnDestroy() {
  Default();
  KillTimer(kObservationTimer);
}

void CDummyDlg::OnNcDestroy() {
  Default();
  framework::Backend().ShellNotifyIcon(NIM_DELETE, g_trayIconData);
}

framework::LResult CDummyDlg::OnQueryEndSession(framework::WParam, framework::LParam) {
  // Save before the session may end at all: the answer to WM_ENDSESSION can come too late.
  TheApp().SaveWatchList();
  return 1;
}

void CDummyDlg::OnEndSession(framework::WParam ending, framework::LParam) {
  if (ending != 0) TheApp().SaveWatchList();
}

void CDummyDlg::OnStopRequest() {
  // The same end as Exit: timer and icon go with the window, then the list is saved.
  Quit();
}
