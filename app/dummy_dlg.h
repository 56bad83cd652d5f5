#pragma once
// CDummyDlg: the program's hidden main window. It owns the notification-area icon, the
// observation timer and the pause state, and receives the tray menu's commands. Its modal loop is
// the program's main loop.
#include <cstdint>
#include <string>
#include <vector>

#include "framework/backend.h"
#include "framework/dialog.h"
#include "platform/types.h"
#include "ui/assign_list_dlg.h"

class CDummyDlg : public framework::CDialog {
 public:
  CDummyDlg();

  static const framework::MessageMap* GetThisMessageMap();
  const framework::MessageMap* GetMessageMap() const override { return GetThisMessageMap(); }

  bool IsPaused() const { return m_bPaused; }
  // The settings dialog counts as open exactly while it has a window.
  bool IsSettingsOpen() const { return m_assignListDlg.HasWindow(); }
  CAssignListDlg& SettingsDialog() { return m_assignListDlg; }

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

  // The tray menu: built from live data at every opening (tray_menu.cpp).
  void ShowTrayMenu();
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
};

// The tray icon's data, filled once at initialisation and reused for every modify and the delete.
extern framework::TrayIconData g_trayIconData;
// True while the tray window runs the settings dialog / the About box.
extern bool g_bSettingsOpen;
extern bool g_bAboutOpen;

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
