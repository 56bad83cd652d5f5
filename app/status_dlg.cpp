#include "app/status_dlg.h"

#include "res/resource.h"
#include "res/texts.h"

namespace {
constexpr int kStandardIconSize = 32;
}  // namespace

CStatusDlg::CStatusDlg()
    : CDialog(IDD_STATUS), m_hIcon(framework::LoadIconResource(IDR_MAINFRAME, kStandardIconSize)) {}

const framework::MessageMap* CStatusDlg::GetThisMessageMap() {
  using namespace framework;
  static constexpr MessageEntry kEntries[] = {
      MapMessage<&CStatusDlg::OnClose>(WM_CLOSE),
  };
  static constexpr MessageMap kMap{&CDialog::GetThisMessageMap, kEntries};
  return &kMap;
}

bool CStatusDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetIcon(m_hIcon, true);
  SetIcon(m_hIcon, false);
  ShowPaused(m_bPaused);
  return true;
}

void CStatusDlg::ShowPaused(bool paused) {
  m_bPaused = paused;
  if (!HasWindow()) return;
  Item(IDC_STATUS_STATE).SetItemText(res::Text(paused ? res::TextId::kStatusPaused : res::TextId::kStatusObserving));
  ButtonItem(ID_TRAY_PAUSE).SetCheck(paused ? BST_CHECKED : BST_UNCHECKED);
}

bool CStatusDlg::OnCommand(framework::WParam wParam, framework::LParam lParam) {
  const unsigned id = framework::LowWord(wParam);
  switch (id) {
    case ID_TRAY_OPEN_SETTINGS:
    case ID_TRAY_PAUSE:
    case ID_STATUS_DELETE_MENU:
    case ID_STATUS_QUICK_MENU:
    case ID_TRAY_ABOUT:
    case ID_TRAY_EXIT:
      if (framework::HighWord(wParam) != BN_CLICKED) return false;
      if (framework::CDialog* main = framework::MainWindow(); main != nullptr && main != this) {
        main->SendToSelf(WM_COMMAND, framework::MakeWParam(id, 0), 0);
      }
      return true;
    default: return CDialog::OnCommand(wParam, lParam);
  }
}

void CStatusDlg::OnClose() {
  if (framework::CDialog* main = framework::MainWindow(); main != nullptr && main != this) {
    main->SendToSelf(WM_COMMAND, framework::MakeWParam(ID_TRAY_EXIT, 0), 0);
  }
}
