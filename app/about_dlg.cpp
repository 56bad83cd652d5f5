#include "app/about_dlg.h"

#include <algorithm>
#include <string>
#include <vector>

#include "framework/shell.h"
#include "res/resource.h"
#include "res/texts.h"

namespace {
// Every About box object that exists; a new one may run while an ended one still waits for the
// loops above it to return.
std::vector<CAboutDlg*> g_aboutBoxes;
}  // namespace

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) { g_aboutBoxes.push_back(this); }

CAboutDlg::~CAboutDlg() { std::erase(g_aboutBoxes, this); }

CAboutDlg* CAboutDlg::Shown() {
  for (CAboutDlg* about : g_aboutBoxes) {
    if (about->HasWindow() && !about->IsEnding()) return about;
  }
  return nullptr;
}

bool CAboutDlg::ShowOrRaise() {
  if (CAboutDlg* shown = Shown()) {
    shown->BringToFront();
    return false;
  }
  CAboutDlg about;
  about.DoModal();
  return true;
}

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
  const std::string address = Item(IDC_ABOUT_WEBPAGE).ItemText();
  if (framework::Shell().OpenAddress(address)) return;
  // A link that does nothing leaves the user guessing; say why nothing opened.
  std::string text = res::Fill(res::TextId::kOpenAddressFailed, {address});
#ifndef _WIN32
  text += res::Text(res::TextId::kOpenAddressNeedsXdgOpen);
#endif
  ShowMessageBox(text, framework::ApplicationName().c_str(), MB_OK);
}
