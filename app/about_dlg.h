#pragma once
// CAboutDlg: the program's name, version and one line about it; a click on the address opens the
// project's web page.
#include "framework/dialog.h"

// The version shown in the About box.
inline constexpr char kVersionText[] = "1.0.1";

class CAboutDlg : public framework::CDialog {
 public:
  CAboutDlg();
  ~CAboutDlg() override;

  // One About box at a time, from the tray or the settings dialog: a request while one is shown
  // brings that one to the front; otherwise a new one runs modally. True when one ran.
  static bool ShowOrRaise();
  // The About box being shown now (running and not ending), or nullptr.
  static CAboutDlg* Shown();

  static const framework::MessageMap* GetThisMessageMap();
  const framework::MessageMap* GetMessageMap() const override { return GetThisMessageMap(); }

 protected:
  bool OnInitDialog() override;
  void DoDataExchange() override {}

 private:
  void OnWebPageClicked();
};
