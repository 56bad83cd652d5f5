// The tray menu: built anew from menu 129 at every opening.
#include "app/assign_app.h"
#include "app/dummy_dlg.h"
#include "framework/menu.h"
#include "res/resource.h"

void CDummyDlg::ShowTrayMenu() {
  TheApp().Snapshot().Refresh();
  framework::Menu menu;
  if (!menu.LoadFromResource(IDR_TRAY_MENU)) return;
  framework::Menu* tray = menu.SubMenu(0);
  if (tray == nullptr) return;

  if (framework::Menu* deleteMenu = tray->SubMenu(3)) deleteMenu->RemoveAt(0);
  if (framework::Menu* quick = tray->SubMenu(4)) {
    if (framework::Menu* windows = quick->SubMenu(0)) windows->RemoveAt(0);
    if (framework::Menu* processes = quick->SubMenu(1)) processes->RemoveAt(0);
  }
  tray->SetItemState(ID_TRAY_PAUSE, m_bPaused ? MFS_CHECKED : 0u);
  tray->SetItemState(ID_TRAY_OPEN_SETTINGS, MFS_DEFAULT);

  const framework::Point cursor = framework::Backend().CursorPos();
  SetForeground();
  TrackPopup(*tray, TPM_RIGHTBUTTON, cursor.x, cursor.y);
  PostToSelf(WM_NULL);
}

bool CDummyDlg::OnDynamicCommand(unsigned) { return false; }
