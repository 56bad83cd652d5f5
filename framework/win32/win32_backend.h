#pragma once
// The dialog framework on real Win32 windows: dialogs made from the program's templates as
// in-memory extended dialog templates, each run in a modal loop of our own that dispatches every
// window's messages (so the tray window's timer keeps ticking under any dialog, box or menu); the
// common controls, menus, message boxes, the file-open dialog and the notification-area icon are
// the system's own.
//
// Input comes from the system: it cycles automatic check boxes by itself and then sends
// BN_CLICKED, so clicks are passed on as they are (DeliverClick would cycle them a second time).
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "framework/backend.h"
#include "framework/shell.h"

namespace framework::win32 {

class Win32Backend final : public IBackend {
 public:
  Win32Backend();
  ~Win32Backend() override;
  Win32Backend(const Win32Backend&) = delete;
  Win32Backend& operator=(const Win32Backend&) = delete;

  int ShowMessageBox(OwnerWindow owner, const std::string& text, const char* caption, unsigned type) override;
  WindowId CreateDialogWindow(CDialog& dialog, const DialogTemplate& tpl) override;
  void RunModalLoop(WindowId window) override;
  void EndModalLoop(WindowId window) override;
  void DestroyDialogWindow(WindowId window) override;
  bool PostToWindow(WindowId window, unsigned message, WParam wParam, LParam lParam) override;
  void SetWindowIcon(WindowId window, const Icon& icon, bool big) override;
  std::uint32_t WindowStyleEx(WindowId window) override;
  void SetWindowStyleEx(WindowId window, std::uint32_t exStyle) override;
  void HideWindow(WindowId window) override;
  bool SetForeground(WindowId window) override;
  bool BringToFront(WindowId window) override;
  bool IsMinimized(WindowId window) override;
  Size ClientSize(WindowId window) override;
  bool AddControls(WindowId window, const ControlBlock& block) override;
  std::string WindowCaption(WindowId window) override;
  void SetWindowCaption(WindowId window, const std::string& text) override;
  void AppendSystemMenu(WindowId window, unsigned id, const std::string& text) override;
  bool SetTimer(WindowId window, std::uintptr_t id, unsigned milliseconds) override;
  bool KillTimer(WindowId window, std::uintptr_t id) override;
  void EnableControl(WindowId window, int id, bool enable) override;
  bool IsControlEnabled(WindowId window, int id) override;
  std::string ControlText(WindowId window, int id) override;
  void SetControlText(WindowId window, int id, const std::string& text) override;
  void FocusControl(WindowId window, int id) override;
  int ButtonCheck(WindowId window, int id) override;
  void SetButtonCheck(WindowId window, int id, int state) override;
  int LvInsertColumn(WindowId window, int id, int column, const std::string& heading, int format, int width) override;
  int LvColumnCount(WindowId window, int id) override;
  int LvInsertItem(WindowId window, int id, int row, const std::string& text, int image) override;
  bool LvSetItemText(WindowId window, int id, int row, int subItem, const std::string& text) override;
  std::string LvItemText(WindowId window, int id, int row, int subItem) override;
  int LvItemImage(WindowId window, int id, int row) override;
  int LvItemCount(WindowId window, int id) override;
  bool LvSetItemState(WindowId window, int id, int row, unsigned state, unsigned mask) override;
  unsigned LvItemState(WindowId window, int id, int row, unsigned mask) override;
  int LvNextItem(WindowId window, int id, int start, unsigned flags) override;
  bool LvDeleteAllItems(WindowId window, int id) override;
  bool LvEnsureVisible(WindowId window, int id, int row, bool partialOk) override;
  bool LvIsItemVisible(WindowId window, int id, int row) override;
  void LvSetExtendedStyle(WindowId window, int id, unsigned style) override;
  unsigned LvExtendedStyle(WindowId window, int id) override;
  void LvSetSmallImages(WindowId window, int id, const std::vector<Icon>& icons) override;
  unsigned TrackPopup(WindowId window, const Menu& popup, unsigned flags, int x, int y) override;
  bool ShowFileOpen(WindowId owner, const FileOpenRequest& request, std::string& path) override;
  bool ShellNotifyIcon(unsigned action, const TrayIconData& data) override;
  NotificationArea NotificationAreaKind() override;
  Point CursorPos() override;
  void DismissPopupMenus() override;
  void CancelTransientLoops() override;
  int AddAsyncAction(std::function<void()> action) override;
  bool TriggerAsync(int slot) override;
  // The loop waits on messages, not descriptors.
  void WatchReadable(int, std::function<void()>) override {}
  bool WatchesDescriptors() const override { return false; }

  // A message registered under name (RegisterWindowMessage) that reaches the main window is
  // dispatched to it as message: how another process of the program can ask something of it.
  void RouteRegisteredMessage(const char* name, unsigned message);

  // The system icon for icon: a handle icon's own handle, or one made once from a pixel icon and
  // kept while the backend lives. 0 for a null icon.
  std::uintptr_t IconHandle(const Icon& icon);

  // Called by the window procedure; not for other use.
  std::intptr_t HandleMessage(std::uintptr_t hwnd, unsigned message, WParam wParam, LParam lParam, bool& handled);

 private:
  struct WindowRecord {
    CDialog* dialog = nullptr;
    std::uint32_t templateStyle = 0;
    bool ended = false;
    bool hidden = false;
  };
  WindowRecord* Record(WindowId window);
  void ReAddTrayIcons();

  std::map<WindowId, WindowRecord> windows_;
  std::vector<std::pair<Icon, std::uintptr_t>> madeIcons_;
  // Icons added and not deleted, as last added or modified: the shell forgets them when it restarts.
  std::vector<TrayIconData> trayIcons_;
  unsigned taskbarCreated_ = 0;
  // The last icon add failed: there is no notification area until the shell says it has started.
  bool trayAddFailed_ = false;
  unsigned routedRegistered_ = 0;
  unsigned routedMessage_ = 0;
  // Asynchronous requests arrive as messages to a window of their own, which every loop of the
  // thread (ours, the system's boxes, menus and file dialog) dispatches.
  std::vector<std::function<void()>> asyncActions_;
  std::atomic<int> asyncCount_{0};
  std::atomic<void*> wakeWindow_{nullptr};
};

// The shell services: ShellExecuteA "open" and the small icons of SHGetFileInfoA.
class Win32Shell final : public IShell {
 public:
  bool OpenAddress(const std::string& address) override;
  Icon FileIcon(const std::string& path) override;
};

}  // namespace framework::win32
