#pragma once
// CStatusDlg: the program's window where the desktop has no notification area (GNOME without its
// tray extension, some tiling set-ups). Without it the program would run unseen and could only be
// ended with kill. It shows whether observation runs and offers every command of the tray menu;
// the tray window runs it and answers its commands as it answers the menu's.
#include "framework/dialog.h"
#include "framework/icon.h"

class CStatusDlg : public framework::CDialog {
 public:
  CStatusDlg();

  static const framework::MessageMap* GetThisMessageMap();
  const framework::MessageMap* GetMessageMap() const override { return GetThisMessageMap(); }

  // Shows the pause state now, or when the window opens.
  void ShowPaused(bool paused);
  bool ShowsPaused() const { return m_bPaused; }

 protected:
  bool OnInitDialog() override;
  void DoDataExchange() override {}
  // The buttons go to the tray window as the menu's commands would.
  bool OnCommand(framework::WParam wParam, framework::LParam lParam) override;
  // Escape must not end the program's only window.
  void OnCancel() override {}

 private:
  // The close box ends the program, as closing a program's main window does.
  void OnClose();

  framework::Icon m_hIcon;
  bool m_bPaused = false;
};
