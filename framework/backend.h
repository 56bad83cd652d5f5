#pragma once
// The interface a window-system backend implements (headless, Qt, Win32), and the helpers that turn
// a user's input into the messages a dialog expects. The portable core (CDialog, the control
// wrappers, Menu) calls only this interface; the program selects one backend at start-up.
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "framework/control_block.h"
#include "framework/defs.h"
#include "framework/icon.h"
#include "framework/menu.h"
#include "framework/message_box.h"
#include "framework/resource_types.h"

namespace framework {

class CDialog;

// The notification-area icon, in the manner of NOTIFYICONDATA.
#ifndef NIM_ADD
#define NIM_ADD 0x0u
#define NIM_MODIFY 0x1u
#define NIM_DELETE 0x2u
#define NIF_MESSAGE 0x1u
#define NIF_ICON 0x2u
#define NIF_TIP 0x4u
#endif
struct TrayIconData {
  WindowId hWnd = kNoWindowId;  // receives uCallbackMessage (wParam = uID, lParam = mouse message)
  unsigned uID = 0;
  unsigned uFlags = 0;  // which of the fields below an add or modify carries: NIF_*
  unsigned uCallbackMessage = 0;
  Icon hIcon;
  std::string szTip;
};

// What the desktop offers the notification-area icon.
enum class NotificationArea {
  kNone,         // nothing: an icon would not be seen
  kMouse,        // the icon reports the mouse as the system does: hover, clicks and double clicks
  kActivations,  // one activation per click (left, middle, right) and no hover, so never a double click
};

// The file-open dialog's question.
struct FileOpenRequest {
  std::string title;
  std::vector<std::pair<std::string, std::string>> filters;  // (description, pattern "*.exe;*.com")
  int filterIndex = 1;                                       // 1-based, as the system counts
  std::string initialName;
  std::string defaultExtension;
  unsigned flags = 0;  // OFN_*
};

// The window system's services, one interface per role, so that a part of the program can say which
// of them it needs. A backend implements them all, as IBackend.

class IDialogWindows {
 public:
  virtual ~IDialogWindows() = default;
  // Makes the (not yet shown) window of dialog from its template, with every control in its
  // template state; 0 on failure. Messages for the window go to dialog.Dispatch.
  virtual WindowId CreateDialogWindow(CDialog& dialog, const DialogTemplate& tpl) = 0;
  // Runs the window's modal loop: shows it (with WS_VISIBLE in the template, or when not hidden by
  // HideWindow) and dispatches every window's messages and timers until EndModalLoop(window).
  // Returns at once when EndModalLoop was called already.
  virtual void RunModalLoop(WindowId window) = 0;
  virtual void EndModalLoop(WindowId window) = 0;
  // Delivers WM_DESTROY and then WM_NCDESTROY to the dialog, then removes the window with its
  // timers and posted messages.
  virtual void DestroyDialogWindow(WindowId window) = 0;
  // Posts a message for the window; false when there is no such window.
  virtual bool PostToWindow(WindowId window, unsigned message, WParam wParam, LParam lParam) = 0;

  virtual void SetWindowIcon(WindowId window, const Icon& icon, bool big) = 0;
  virtual std::uint32_t WindowStyleEx(WindowId window) = 0;
  virtual void SetWindowStyleEx(WindowId window, std::uint32_t exStyle) = 0;
  virtual void HideWindow(WindowId window) = 0;
  virtual bool SetForeground(WindowId window) = 0;
  // Restores the window when it is minimised, brings it to the front and gives it the input.
  virtual bool BringToFront(WindowId window) = 0;
  virtual bool IsMinimized(WindowId window) = 0;
  virtual Size ClientSize(WindowId window) = 0;
  virtual std::string WindowCaption(WindowId window) = 0;
  virtual void SetWindowCaption(WindowId window, const std::string& text) = 0;
  // The window menu: id 0 with empty text appends a separator. Choosing an item sends
  // WM_SYSCOMMAND with its id.
  virtual void AppendSystemMenu(WindowId window, unsigned id, const std::string& text) = 0;

  // Makes the block's controls in window, which exists and is not yet shown, grows the window and
  // moves its controls as PlanControlBlock says, with the backend's own metrics and the screen
  // the window will be shown on. Messages of the new controls reach the dialog like those of its
  // template's controls. The core has checked that every new id is unused.
  virtual bool AddControls(WindowId window, const ControlBlock& block) = 0;
};

// Controls, by the dialog's window and the control id.
class IControls {
 public:
  virtual ~IControls() = default;
  virtual void EnableControl(WindowId window, int id, bool enable) = 0;
  virtual bool IsControlEnabled(WindowId window, int id) = 0;
  virtual std::string ControlText(WindowId window, int id) = 0;
  virtual void SetControlText(WindowId window, int id, const std::string& text) = 0;
  virtual void FocusControl(WindowId window, int id) = 0;
  virtual int ButtonCheck(WindowId window, int id) = 0;
  virtual void SetButtonCheck(WindowId window, int id, int state) = 0;
};

// List views. SetItemState must send LVN_ITEMCHANGED (WM_NOTIFY with a ListViewNotify) to the
// dialog for each row whose state changed, before it returns; so must a user's selection.
class IListViews {
 public:
  virtual ~IListViews() = default;
  virtual int LvInsertColumn(WindowId window, int id, int column, const std::string& heading, int format,
                             int width) = 0;
  virtual int LvColumnCount(WindowId window, int id) = 0;
  virtual int LvInsertItem(WindowId window, int id, int row, const std::string& text, int image) = 0;
  virtual bool LvSetItemText(WindowId window, int id, int row, int subItem, const std::string& text) = 0;
  virtual std::string LvItemText(WindowId window, int id, int row, int subItem) = 0;
  virtual int LvItemImage(WindowId window, int id, int row) = 0;
  virtual int LvItemCount(WindowId window, int id) = 0;
  virtual bool LvSetItemState(WindowId window, int id, int row, unsigned state, unsigned mask) = 0;
  virtual unsigned LvItemState(WindowId window, int id, int row, unsigned mask) = 0;
  virtual int LvNextItem(WindowId window, int id, int start, unsigned flags) = 0;
  virtual bool LvDeleteAllItems(WindowId window, int id) = 0;
  virtual bool LvEnsureVisible(WindowId window, int id, int row, bool partialOk) = 0;
  virtual bool LvIsItemVisible(WindowId window, int id, int row) = 0;
  virtual void LvSetExtendedStyle(WindowId window, int id, unsigned style) = 0;
  virtual unsigned LvExtendedStyle(WindowId window, int id) = 0;
  virtual void LvSetSmallImages(WindowId window, int id, const std::vector<Icon>& icons) = 0;
};

class IMenus {
 public:
  virtual ~IMenus() = default;
  // Shows popup owned by window at screen (x, y) in a nested loop that keeps timers running;
  // returns the chosen command id, 0 when dismissed. The core posts the WM_COMMAND.
  virtual unsigned TrackPopup(WindowId window, const Menu& popup, unsigned flags, int x, int y) = 0;
  // Closes every popup menu being tracked; each TrackPopup returns 0.
  virtual void DismissPopupMenus() = 0;
};

class IFileOpenDialog {
 public:
  virtual ~IFileOpenDialog() = default;
  // The file-open dialog; true with the chosen file's full path, false when cancelled.
  virtual bool ShowFileOpen(WindowId owner, const FileOpenRequest& request, std::string& path) = 0;
};

class ITray {
 public:
  virtual ~ITray() = default;
  // The notification-area icon: NIM_ADD, NIM_MODIFY, NIM_DELETE. Mouse events over it reach
  // data.hWnd as data.uCallbackMessage.
  virtual bool ShellNotifyIcon(unsigned action, const TrayIconData& data) = 0;
  // Asked afresh each time: a notification area may come and go while the program runs.
  virtual NotificationArea NotificationAreaKind() = 0;
  virtual Point CursorPos() = 0;
};

// Timers, waking the loop from signal handlers and other threads, and ending nested loops from
// outside.
class IEventLoop {
 public:
  virtual ~IEventLoop() = default;
  // WM_TIMER (wParam = id) every period until KillTimer; setting an existing id restarts it.
  virtual bool SetTimer(WindowId window, std::uintptr_t id, unsigned milliseconds) = 0;
  virtual bool KillTimer(WindowId window, std::uintptr_t id) = 0;
  // Registers action to run on the user-interface thread, in whatever loop is current (nested ones
  // included), when slot is triggered; returns the slot (0..255) or -1 when none is left.
  virtual int AddAsyncAction(std::function<void()> action) = 0;
  // Async-signal-safe and callable from any thread: queues slot for the user-interface thread.
  // False when the request could not be queued.
  virtual bool TriggerAsync(int slot) = 0;
  // Runs readable on the user-interface thread whenever fd, a descriptor of the system the loop polls,
  // has something to read, in whatever loop is current (nested ones included); it must read what is
  // there, or it is called again at once. Only where WatchesDescriptors() says so.
  virtual void WatchReadable(int fd, std::function<void()> readable) = 0;
  // False for a loop that polls no descriptors (Win32 waits on handles and messages): it ignores
  // WatchReadable, and the caller learns of what the descriptor says some other way.
  virtual bool WatchesDescriptors() const { return true; }
  // Closes every open message box, file-open dialog and popup menu: boxes answer as
  // SafeMessageBoxAnswer, the file dialog is cancelled, menus choose nothing.
  virtual void CancelTransientLoops() = 0;
};

class IBackend : public IDialogWindows,
                 public IControls,
                 public IListViews,
                 public IMenus,
                 public IMessageBoxes,
                 public IFileOpenDialog,
                 public ITray,
                 public IEventLoop {
 public:
  ~IBackend() override = default;
};

// The answer that agrees to nothing: what a box gets that nobody answered.
int SafeMessageBoxAnswer(unsigned type);

// Selects the backend for everything that follows; nullptr restores the built-in one, which makes
// no windows (DoModal returns -1) and answers every box with IDCANCEL.
void SetBackend(IBackend* backend);
IBackend& Backend();

// ---- input helpers for backends: the user's actions as the dialog must see them ----
// A click on control id: an automatic check box first takes its next state (NextAutoCheckState),
// then the dialog gets WM_COMMAND (id, BN_CLICKED). Disabled or unknown controls do nothing.
// Returns whether the click was delivered.
bool DeliverClick(CDialog& dialog, int id);
// Enter: WM_COMMAND of focusedButton when a push button has the focus, otherwise of the default
// push button of the template, otherwise IDOK.
bool DeliverEnterKey(CDialog& dialog, int focusedButton = -1);
// Escape: WM_COMMAND IDCANCEL.
bool DeliverEscapeKey(CDialog& dialog);
// The title bar's close box: WM_SYSCOMMAND SC_CLOSE (false when the template has no system menu).
bool DeliverCloseBox(CDialog& dialog);
// The template record of control id, or nullptr.
const ControlTemplate* FindControlTemplate(const DialogTemplate& tpl, int id);

}  // namespace framework
