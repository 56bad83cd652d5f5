#include "framework/backend.h"

#include "framework/dialog.h"
#include "framework/shell.h"

namespace framework {
namespace {

// Stands in until a backend is chosen: it makes no windows, so nothing can run, and it refuses
// every question rather than agreeing to it.
class NullBackend final : public IBackend {
 public:
  int ShowMessageBox(OwnerWindow, const std::string&, const char*, unsigned) override { return IDCANCEL; }
  WindowId CreateDialogWindow(CDialog&, const DialogTemplate&) override { return kNoWindowId; }
  void RunModalLoop(WindowId) override {}
  void EndModalLoop(WindowId) override {}
  void DestroyDialogWindow(WindowId) override {}
  bool PostToWindow(WindowId, unsigned, WParam, LParam) override { return false; }
  void SetWindowIcon(WindowId, const Icon&, bool) override {}
  std::uint32_t WindowStyleEx(WindowId) override { return 0; }
  void SetWindowStyleEx(WindowId, std::uint32_t) override {}
  void HideWindow(WindowId) override {}
  bool SetForeground(WindowId) override { return false; }
  bool BringToFront(WindowId) override { return false; }
  bool IsMinimized(WindowId) override { return false; }
  Size ClientSize(WindowId) override { return {}; }
  std::string WindowCaption(WindowId) override { return {}; }
  bool AddControls(WindowId, const ControlBlock&) override { return false; }
  void SetWindowCaption(WindowId, const std::string&) override {}
  void AppendSystemMenu(WindowId, unsigned, const std::string&) override {}
  bool SetTimer(WindowId, std::uintptr_t, unsigned) override { return false; }
  bool KillTimer(WindowId, std::uintptr_t) override { return false; }
  void EnableControl(WindowId, int, bool) override {}
  bool IsControlEnabled(WindowId, int) override { return false; }
  std::string ControlText(WindowId, int) override { return {}; }
  void SetControlText(WindowId, int, const std::string&) override {}
  void FocusControl(WindowId, int) override {}
  int ButtonCheck(WindowId, int) override { return BST_UNCHECKED; }
  void SetButtonCheck(WindowId, int, int) override {}
  int LvInsertColumn(WindowId, int, int, const std::string&, int, int) override { return -1; }
  int LvColumnCount(WindowId, int) override { return 0; }
  int LvInsertItem(WindowId, int, int, const std::string&, int) override { return -1; }
  bool LvSetItemText(WindowId, int, int, int, const std::string&) override { return false; }
  std::string LvItemText(WindowId, int, int, int) override { return {}; }
  int LvItemImage(WindowId, int, int) override { return -1; }
  int LvItemCount(WindowId, int) override { return 0; }
  bool LvSetItemState(WindowId, int, int, unsigned, unsigned) override { return false; }
  unsigned LvItemState(WindowId, int, int, unsigned) override { return 0; }
  int LvNextItem(WindowId, int, int, unsigned) override { return -1; }
  bool LvDeleteAllItems(WindowId, int) override { return false; }
  bool LvEnsureVisible(WindowId, int, int, bool) override { return false; }
  bool LvIsItemVisible(WindowId, int, int) override { return false; }
  void LvSetExtendedStyle(WindowId, int, unsigned) override {}
  unsigned LvExtendedStyle(WindowId, int) override { return 0; }
  void LvSetSmallImages(WindowId, int, const std::vector<Icon>&) override {}
  unsigned TrackPopup(WindowId, const Menu&, unsigned, int, int) override { return 0; }
  bool ShowFileOpen(WindowId, const FileOpenRequest&, std::string&) override { return false; }
  bool ShellNotifyIcon(unsigned, const TrayIconData&) override { return false; }
  NotificationArea NotificationAreaKind() override { return NotificationArea::kNone; }
  Point CursorPos() override { return {}; }
  void DismissPopupMenus() override {}
  void CancelTransientLoops() override {}
  // No loop runs that could be woken.
  int AddAsyncAction(std::function<void()>) override { return -1; }
  bool TriggerAsync(int) override { return false; }
  void WatchReadable(int, std::function<void()>) override {}
  bool WatchesDescriptors() const override { return false; }
};

class NullShell final : public IShell {
 public:
  bool OpenAddress(const std::string&) override { return false; }
  Icon FileIcon(const std::string&) override { return Icon{}; }
};

NullBackend g_nullBackend;
IBackend* g_backend = &g_nullBackend;
NullShell g_nullShell;
IShell* g_shell = &g_nullShell;

bool IsAutoCheckBox(const ControlTemplate& c, bool& threeState) {
  if (c.kind != ControlKind::CheckBox) return false;
  const unsigned type = c.style & BS_TYPEMASK;
  threeState = type == BS_AUTO3STATE;
  return type == BS_AUTOCHECKBOX || type == BS_AUTO3STATE;
}

bool SendCommandIfEnabled(CDialog& dialog, int id) {
  if (dialog.HasControl(id) && !Backend().IsControlEnabled(dialog.GetSafeHwnd(), id)) {
    return false;
  }
  dialog.Dispatch(WM_COMMAND, MakeWParam(static_cast<unsigned>(id), BN_CLICKED), 0);
  return true;
}

}  // namespace

int SafeMessageBoxAnswer(unsigned type) {
  switch (type & 0xFu) {
    case MB_OK: return IDOK;
    case MB_YESNO: return IDNO;
    case 2u: return IDABORT;  // MB_ABORTRETRYIGNORE
    default: return IDCANCEL;
  }
}

void SetBackend(IBackend* backend) { g_backend = backend != nullptr ? backend : &g_nullBackend; }
IBackend& Backend() { return *g_backend; }

void SetShell(IShell* shell) { g_shell = shell != nullptr ? shell : &g_nullShell; }
IShell& Shell() { return *g_shell; }

const ControlTemplate* FindControlTemplate(const DialogTemplate& tpl, int id) {
  if (id == -1) return nullptr;
  for (const ControlTemplate& c : tpl.controls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

bool DeliverClick(CDialog& dialog, int id) {
  if (!dialog.HasWindow() || dialog.IsEnding()) return false;
  const ControlTemplate* control = dialog.FindControl(id);
  if (control == nullptr) return false;
  const WindowId window = dialog.GetSafeHwnd();
  if (!Backend().IsControlEnabled(window, id)) return false;
  bool threeState = false;
  if (IsAutoCheckBox(*control, threeState)) {
    Backend().SetButtonCheck(window, id, NextAutoCheckState(Backend().ButtonCheck(window, id), threeState));
  } else if (control->kind == ControlKind::StaticText || control->kind == ControlKind::StaticIcon) {
    // A static tells its dialog about clicks only when it was made to.
    if ((control->style & SS_NOTIFY) == 0) return false;
  } else if (control->kind != ControlKind::PushButton && control->kind != ControlKind::CheckBox) {
    return false;
  }
  dialog.Dispatch(WM_COMMAND, MakeWParam(static_cast<unsigned>(id), BN_CLICKED), 0);
  return true;
}

bool DeliverEnterKey(CDialog& dialog, int focusedButton) {
  if (!dialog.HasWindow() || dialog.IsEnding()) return false;
  const DialogTemplate* tpl = dialog.Template();
  int id = IDOK;
  const ControlTemplate* focused = dialog.FindControl(focusedButton);
  if (focused != nullptr && focused->kind == ControlKind::PushButton) {
    id = focusedButton;
  } else if (tpl != nullptr) {
    for (const ControlTemplate& c : tpl->controls) {
      if (c.kind == ControlKind::PushButton && (c.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
        id = c.id;
        break;
      }
    }
  }
  return SendCommandIfEnabled(dialog, id);
}

bool DeliverEscapeKey(CDialog& dialog) {
  if (!dialog.HasWindow() || dialog.IsEnding()) return false;
  return SendCommandIfEnabled(dialog, IDCANCEL);
}

bool DeliverCloseBox(CDialog& dialog) {
  if (!dialog.HasWindow() || dialog.IsEnding()) return false;
  const DialogTemplate* tpl = dialog.Template();
  if (tpl == nullptr || (tpl->style & WS_SYSMENU) == 0) return false;
  dialog.Dispatch(WM_SYSCOMMAND, SC_CLOSE, 0);
  return true;
}

}  // namespace framework
