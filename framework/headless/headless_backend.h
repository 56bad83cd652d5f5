#pragma once
// A backend without a display. It keeps every window's and control's state in memory, runs the
// modal loops, popup tracking, message boxes and the file dialog as nested loops of its own, and
// fires window timers on the clock of whoever sits at the machine (IUser).
//
// Whenever the innermost loop has nothing to deliver it asks the user what happens next. Without a
// display nobody is there (NoDisplayUser): a dialog's loop sleeps until a timer, a watched
// descriptor or an asynchronous request wakes it, and a box, popup or file dialog is given up at
// once (the box's safe answer, nothing chosen, nothing opened) so the program never waits for an
// answer that cannot come.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/backend.h"
#include "framework/dialog.h"

namespace framework::headless {

struct ListColumn {
  std::string heading;
  int format = 0;
  int width = 0;
};

struct ListRow {
  std::vector<std::string> texts;  // column 0 first; missing columns read as empty
  int image = -1;
  unsigned state = 0;  // LVIS_SELECTED, LVIS_FOCUSED
};

struct ControlState {
  int id = -1;
  ControlKind kind = ControlKind::StaticText;
  std::uint32_t style = 0;
  std::string text;
  bool enabled = true;
  int check = BST_UNCHECKED;
  // List views only.
  std::vector<ListColumn> columns;
  std::vector<ListRow> rows;
  unsigned listExStyle = 0;
  std::vector<Icon> smallImages;
  int topRow = 0;
  int heightPixels = 0;
  // Where the control is, in pixels of the window's client area as if nothing scrolled.
  Pixels rect;
  // Part of a block of controls added at run time that scrolls (see WindowState::block).
  bool inScrollingBlock = false;
};

// The block of controls a dialog added at run time (control_block.h).
struct BlockState {
  bool present = false;
  bool scrolls = false;
  Pixels viewport;
  int contentWidth = 0;
};

struct WindowState {
  WindowId id = kNoWindowId;
  CDialog* dialog = nullptr;
  int templateId = 0;
  std::uint32_t style = 0;
  std::uint32_t exStyle = 0;
  std::string caption;
  Size clientSize;
  bool hidden = false;  // HideWindow was called
  bool shown = false;   // the modal loop has shown it (and it has not ended since)
  bool minimized = false;
  Icon bigIcon;
  Icon smallIcon;
  std::vector<std::pair<unsigned, std::string>> systemMenu;  // (0, "") = separator
  std::vector<ControlState> controls;
  int focusId = -1;
  BlockState block;
};

struct TrayIconState {
  WindowId owner = kNoWindowId;
  unsigned id = 0;
  unsigned callbackMessage = 0;
  Icon icon;
  std::string tip;
};

// One nested loop the backend runs, as the user sees it.
enum class LoopKind { Dialog, MessageBox, Menu, FileDialog };

struct Loop {
  LoopKind kind = LoopKind::Dialog;
  WindowId window = kNoWindowId;  // the dialog, or the owner of the box, popup or file dialog
  bool done = false;
  // What it shows: the box's text and MB_* type, the popup, the file dialog's question.
  const std::string* boxText = nullptr;
  unsigned boxType = 0;
  const Menu* menu = nullptr;
  const FileOpenRequest* request = nullptr;
  // How it ended: the box's answer, the popup's command (0 = dismissed), the file chosen.
  int answer = 0;
  unsigned chosen = 0;
  bool accepted = false;
  std::string path;
};

// Whoever sits at the machine, and the machine as they see it.
class IUser {
 public:
  virtual ~IUser() = default;
  // A loop starts; a dialog's after WM_INITDIALOG.
  virtual void LoopStarted(const Loop& loop) = 0;
  // The innermost loop has nothing to deliver. True when the user did something (the loop then
  // looks again); false leaves a dialog's loop waiting for real time and gives up any other.
  virtual bool Act(Loop& loop) = 0;
  // Milliseconds on the clock timers run by.
  virtual std::int64_t NowMs() const = 0;
  virtual Point PointerPos() const = 0;
  // Windows are shown on it without a frame.
  virtual Size ScreenSize() const = 0;
  virtual NotificationArea TrayArea() const = 0;
};

// Nobody: the program running without a display.
class NoDisplayUser final : public IUser {
 public:
  NoDisplayUser();
  // A box nobody will read still reaches the person who started the program.
  void LoopStarted(const Loop& loop) override;
  bool Act(Loop&) override { return false; }
  std::int64_t NowMs() const override;
  Point PointerPos() const override { return Point{100, 100}; }
  Size ScreenSize() const override { return Size{1920, 1080}; }
  NotificationArea TrayArea() const override { return NotificationArea::kMouse; }

 private:
  std::int64_t start_ = 0;
};

class HeadlessBackend : public IBackend {
 public:
  // Nobody at the machine.
  HeadlessBackend();
  // user outlives the backend.
  explicit HeadlessBackend(IUser& user);
  ~HeadlessBackend() override;
  HeadlessBackend(const HeadlessBackend&) = delete;
  HeadlessBackend& operator=(const HeadlessBackend&) = delete;

  // ---- asynchronous requests (signal handlers, other threads) ----
  int AddAsyncAction(std::function<void()> action) override;
  bool TriggerAsync(int slot) override;
  // Runs readable on the loop's thread whenever fd has something to read, nested loops included; it
  // must read what is there, or it is called again at once.
  void WatchReadable(int fd, std::function<void()> readable) override;

  // ---- IMessageBoxes / IBackend ----
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
  NotificationArea NotificationAreaKind() override { return user_.TrayArea(); }
  Point CursorPos() override { return user_.PointerPos(); }
  void DismissPopupMenus() override;
  void CancelTransientLoops() override;

  // Rows a list view shows whole, and whether one more shows in part (from its template height).
  static int FullRows(const ControlState& list);
  static bool HasPartialRow(const ControlState& list);
  static constexpr int kScrollBarPixels = 17;

 protected:
  struct Timer {
    WindowId window = kNoWindowId;
    std::uintptr_t id = 0;
    std::int64_t period = 0;
    std::int64_t due = 0;
  };

  // What a user sees and touches: windows (oldest first), the running loops (innermost last),
  // timers (in the order they were set) and the icons in the notification area.
  const std::map<WindowId, std::unique_ptr<WindowState>>& WindowStates() const { return windows_; }
  WindowState* Window(WindowId window);
  const std::vector<std::unique_ptr<Loop>>& Loops() const { return loops_; }
  const std::vector<Timer>& Timers() const { return timers_; }
  const std::vector<TrayIconState>& Icons() const { return trayIcons_; }
  // Fires every timer due by until, earliest first, each followed by what it posted.
  void FireDueTimers(std::int64_t until);
  // Ends the loop as if nobody were there: dialogs with -1, boxes with their safe answer.
  void Abandon(Loop& loop);

 private:
  struct Posted {
    WindowId window = kNoWindowId;
    unsigned message = 0;
    WParam wParam = 0;
    LParam lParam = 0;
  };

  void OpenWakePipe();
  ControlState* Control(WindowId window, int id);
  ControlState* List(WindowId window, int id);
  std::int64_t NowMs() const { return user_.NowMs(); }
  Loop& PushLoop(LoopKind kind, WindowId window);

  // Runs one nested loop until it is done.
  void RunLoop(Loop& loop);
  bool DeliverOnePosted();
  void DrainAsync();
  void ReadWakePipe();
  // Waits up to timeoutMs for the wake-up pipe or a watched descriptor, then serves the watched
  // ones. True when the pipe may hold wake-ups.
  bool PollDescriptors(int timeoutMs);
  void WaitRealTime();
  // Changes the state bits of one row and tells the dialog.
  void ChangeRowState(WindowId window, ControlState& list, int row, unsigned state, unsigned mask);
  void Notify(WindowId window, ListViewNotify& nm);

  std::unique_ptr<NoDisplayUser> nobody_;
  IUser& user_;
  WindowId nextWindow_ = 0x1000;
  std::map<WindowId, std::unique_ptr<WindowState>> windows_;
  std::vector<std::unique_ptr<Loop>> loops_;
  std::vector<Timer> timers_;
  std::deque<Posted> posted_;
  std::vector<TrayIconState> trayIcons_;
  std::vector<std::function<void()>> asyncActions_;
  std::vector<std::pair<int, std::function<void()>>> readWatches_;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
};

}  // namespace framework::headless
