#pragma once
// CDummyDlg: the program's hidden main window. It owns the notification-area icon, the
// observation timer and the pause state, and receives the tray menu's commands. Its modal loop is
// the program's main loop.
#include <cstdint>
#include <string>
#include <vector>

#include "app/status_dlg.h"
#include "framework/backend.h"
#include "framework/dialog.h"
#include "platform/types.h"
#include "ui/assign_list_dlg.h"

class CChangeCpuAssignDlg;

class CDummyDlg : public framework::CDialog {
 public:
  // Made while an application object is registered: the settings dialog it owns reaches it.
  CDummyDlg();

  static const framework::MessageMap* GetThisMessageMap();
  const framework::MessageMap* GetMessageMap() const override { return GetThisMessageMap(); }

  bool IsPaused() const { return m_bPaused; }
  // The settings dialog counts as open exactly while it has a window.
  bool IsSettingsOpen() const { return m_assignListDlg.HasWindow(); }
  CAssignListDlg& SettingsDialog() { return m_assignListDlg; }
  // The window that stands in for the icon where there is no notification area; shown while it
  // runs and has not ended.
  CStatusDlg& StatusWindow() { return m_statusDlg; }
  bool IsStatusWindowShown() const { return m_statusDlg.HasWindow() && !m_statusDlg.IsEnding(); }
  bool IsTrayMenuOpen() const { return m_bMenuOpen; }

 protected:
  bool OnInitDialog() override;
  void DoDataExchange() override {}
  // Catches the tray menu's dynamic items (40000 to 42999) before the message table.
  bool OnCommand(framework::WParam wParam, framework::LParam lParam) override;

 private:
  void OnTimer(std::uintptr_t id);
  framework::LResult OnTrayNotify(framework::WParam iconId, framework::LParam mouseMessage);
  void OnOpenSettings();
  void OnPause();
  void OnAbout();
  void OnExit();
  void OnDestroy();
  void OnNcDestroy();
  framework::LResult OnQueryEndSession(framework::WParam, framework::LParam);
  void OnEndSession(framework::WParam ending, framework::LParam);
  void OnStopRequest();
  // A later start of the program asks this one to come forward.
  void OnBringForward();
  void OnShowStatusWindow();
  void OnStatusDeleteMenu();
  void OnStatusQuickMenu();
  // Ends the program from anywhere: every dialog, box and menu closes, then the main loop ends.
  void Quit();
  // Puts the pause state into the icon's tip.
  void RefreshTip();
  // While the window stands in for the icon: closes it once a notification area has appeared.
  void FollowNotificationArea();
  void OnExecEvents();

  // The tray menu: built from live data at every opening (tray_menu.cpp). part: -1 for the whole
  // menu, else the position of the one submenu to show (the status window's buttons).
  void ShowTrayMenu(int part = -1);
  bool OnDynamicCommand(unsigned id);

  // What each dynamic item of the last tray menu stood for, by its offset from its range's base. A
  // tick may rebuild the lists before the command arrives, so the command looks these up again.
  struct MenuProcess {
    platform::ProcessId pid = 0;
    std::string exePath;
  };
  std::vector<platform::WindowHandle> m_menuWindows;
  std::vector<MenuProcess> m_menuProcesses;
  std::vector<std::string> m_menuEntries;

  framework::Icon m_hIcon;
  CAssignListDlg m_assignListDlg;
  bool m_bPaused = false;
  CStatusDlg m_statusDlg;
  // What the desktop offered the icon when it was added (or when it appeared later).
  framework::NotificationArea m_area = framework::NotificationArea::kMouse;
  bool m_bMenuOpen = false;
  // The quick-change dialog being shown, so that a second request raises it instead of stacking.
  CChangeCpuAssignDlg* m_quickChange = nullptr;
};

// Positions of the tray menu's submenus: delete, and quick change (windows, processes).
inline constexpr int kTrayDeleteSubmenu = 3;
inline constexpr int kTrayQuickSubmenu = 4;

// The tray icon's data, filled once at initialisation and reused for every modify and the delete.
extern framework::TrayIconData g_trayIconData;
// True while the tray window runs the settings dialog / the About box.
extern bool g_bSettingsOpen;
extern bool g_bAboutOpen;

// Runs on the main loop's thread: asks the main window to come forward (a later start wants it).
void PostBringForwardToMainWindow();

// The tooltip for the pause state in the current language, at most 63 bytes.
std::string TrayTooltipText(bool paused);

// Messages the program sends itself.
#ifndef WM_QUERYENDSESSION
#define WM_QUERYENDSESSION 0x0011u
#endif
#ifndef WM_ENDSESSION
#define WM_ENDSESSION 0x0016u
#endif
// A stop request (SIGTERM, SIGINT, SIGHUP) reaches the main window as this message, so the program
// ends through its normal path and saves.
#define WM_APP_STOP_REQUEST (WM_APP + 2)
// Another start of the program found this one running (through the instance guard).
#define WM_APP_BRING_FORWARD (WM_APP + 3)
// No notification area: the status window runs once the main loop does.
#define WM_APP_SHOW_STATUS (WM_APP + 4)
// Word that a watched executable was started has come (the exec watch's descriptor was readable).
#define WM_APP_EXEC_EVENTS (WM_APP + 5)
