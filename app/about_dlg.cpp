#include "app/about_dlg.h"

#include "framework/shell.h"
#include "res/resource.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}

const framework::MessageMap* CAboutDlg::GetThisMessageMap() {
  using namespace framework;
  static constexpr MessageEntry kEntries[] = {
      // A clickable static sends its click as notification code 0.
      MapCommand<&CAboutDlg::OnWebPageClicked>(IDC_ABOUT_WEBPAGE, 0),
  };
  static constexpr MessageMap kMap{&CDialog::GetThisMessageMap, kEntries};
  return &kMap;
}

bool CAboutDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  framework::Control version = Item(IDC_ABOUT_VERSION);
  version.SetItemText(version.ItemText() + kVersionText);
  return true;
}

void CAboutDlg::OnWebPageClicked() {
  // The address is the control's own text, so what is shown is what is opened.
  framework::Shell().OpenAddress(Item(IDC_ABOUT_WEBPAGE).ItemText());
}
