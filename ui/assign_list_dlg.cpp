#include "ui/assign_list_dlg.h"

#include <cstdio>

#include "app/assign_app.h"
#include "res/resource.h"

CAssignListDlg::CAssignListDlg() : CDialog(IDD_ASSIGN_LIST) {}

const framework::MessageMap* CAssignListDlg::GetThisMessageMap() {
  using namespace framework;
  static constexpr MessageEntry kEntries[] = {
      MapMessage<&CAssignListDlg::OnClose>(WM_CLOSE),
  };
  static constexpr MessageMap kMap{&CDialog::GetThisMessageMap, kEntries};
  return &kMap;
}

bool CAssignListDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  // No task-bar button of its own: it belongs to the tray program.
  ModifyStyleEx(WS_EX_APPWINDOW, 0);
  return true;
}

void CAssignListDlg::OnClose() {
  if (std::FILE* out = TheApp().Diagnostics()) std::fputs("end\n", out);
  EndDialog(0);
  Default();
}
