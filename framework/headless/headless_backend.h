#pragma once
// A backend without a display. It keeps every window's and control's state in memory, runs the
// modal loops, popup tracking, message boxes and the file dialog as nested loops of its own, and
// fires window timers by a clock: a virtual one that moves only when told (tests), or real time
// (the program running without a display).
//
// Tests drive it with a script: a queue of user actions (click, select a row, answer a box, choose
// a menu command, advance the clock, ...). Whichever loop is innermost when the queue is read
// takes the next action; so a script reads in the order the user would act. When the script runs
// dry in virtual time while a loop still waits, the loop is abandoned (dialogs end with -1, boxes
// get their safe answer, menus are dismissed, file dialogs cancelled) and the stall is recorded.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "framework/backend.h"
#include "framework/dialog.h"
#include "framework/shell.h"

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

struct MessageBoxRecord {
  WindowId owner = kNoWindowId;
  std::string text;
  std::string caption;
  bool defaultCaption = false;  // asked with no caption of its own
  unsigned type = 0;
  int answer = 0;
};

struct MenuRecord {
  WindowId owner = kNoWindowId;
  Menu menu;  // as shown
  unsigned flags = 0;
  Point position;
  unsigned chosen = 0;  // 0 = dismissed
};

struct FileDialogRecord {
  WindowId owner = kNoWindowId;
  FileOpenRequest request;
  bool accepted = false;
  std::string path;
};

struct TrayIconState {
  WindowId owner = kNoWindowId;
  unsigned id = 0;
  unsigned callbackMessage = 0;
  Icon icon;
  std::string tip;
};

struct TrayCall {
  unsigned action = 0;  // NIM_*
  TrayIconData data;
  bool succeeded = false;
};

class HeadlessBackend final : public IBackend {
 public:
  HeadlessBackend();
  ~HeadlessBackend() override;
  HeadlessBackend(const HeadlessBackend&) = delete;
  HeadlessBackend& operator=(const HeadlessBackend&) = delete;

  // ---- clock ----
  // Real time: idle loops sleep until the next timer or an asynchronous request. Virtual time (the
  // default): the clock moves only by AdvanceTime.
  void SetRealTime(bool realTime) { realTime_ = realTime; }
  std::int64_t NowMs() const;

  // ---- the script: actions taken, in order, by whichever loop is innermost ----
  using Action = std::function<void(HeadlessBackend&)>;
  void Then(Action action);
  void Click(int id);
  void PressEnter();
  void PressEscape();
  void CloseBox();
  void ChooseSystemMenu(unsigned id);
  void SelectRow(int listId, int row);
  void ClickEmptyListArea(int listId);
  void RightClickRow(int listId, int row);  // row -1: empty area
  void ChooseMenu(unsigned id);
  void DismissMenu();
  void AnswerMessageBox(int answer);
  void AnswerFileDialog(const std::string& path);
  void CancelFileDialog();
  void AdvanceTime(std::int64_t milliseconds);
  void FireTimer(std::uintptr_t id);
  void TrayNotify(unsigned mouseMessage, unsigned iconId = 1);
  std::size_t PendingActions() const { return script_.size(); }
  void ClearScript() { script_.clear(); }

  // ---- standing answers: when set, they answer at once and the script is not consulted ----
  void SetMessageBoxHandler(std::function<int(const MessageBoxRecord&)> handler) { boxHandler_ = std::move(handler); }
  void SetFileDialogHandler(std::function<std::optional<std::string>(const FileOpenRequest&)> handler) {
    fileHandler_ = std::move(handler);
  }
  // Called each time a dialog enters its modal loop (after WM_INITDIALOG).
  void SetModalStartHandler(std::function<void(CDialog&)> handler) { modalStartHandler_ = std::move(handler); }

  // ---- what was shown ----
  const std::vector<MessageBoxRecord>& MessageBoxes() const { return boxes_; }
  const std::vector<MenuRecord>& Menus() const { return menus_; }
  // The popup being tracked now, or nullptr.
  const Menu* TrackedMenu() const;
  const std::vector<FileDialogRecord>& FileDialogs() const { return fileDialogs_; }
  const std::vector<TrayIconState>& TrayIcons() const { return trayIcons_; }
  const std::vector<TrayCall>& TrayCalls() const { return trayCalls_; }
  const std::vector<WindowId>& ForegroundRequests() const { return foreground_; }
  // Misapplied script actions and stalls, in order; empty when the script fit what happened.
  const std::vector<std::string>& Errors() const { return errors_; }

  // The newest window made from templateId that still exists, or nullptr.
  const WindowState* FindWindowByTemplate(int templateId) const;
  const WindowState* FindWindowState(WindowId window) const;
  const ControlState* FindControl(int templateId, int id) const;
  // The dialog of the innermost running modal loop, or nullptr.
  CDialog* ActiveDialog() const;
  // Every window that exists, oldest first.
  std::vector<WindowId> Windows() const;
  std::vector<std::uintptr_t> TimerIds(WindowId window) const;
  int LoopDepth() const { return static_cast<int>(frames_.size()); }
  void SetCursorPos(Point p) { cursor_ = p; }
  // The screen the windows are shown on (1920 by 1080 unless told); windows have no frame here.
  void SetScreenSize(Size size) { screen_ = size; }
  static constexpr int kScrollBarPixels = 17;
  void SetMinimized(WindowId window, bool minimized);
  // What NotificationAreaKind answers; a notification area that reports the mouse until told.
  void SetNotificationArea(NotificationArea kind) { notificationArea_ = kind; }

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
  NotificationArea NotificationAreaKind() override { return notificationArea_; }
  Point CursorPos() override { return cursor_; }
  void DismissPopupMenus() override;
  void CancelTransientLoops() override;

  // Rows a list view shows whole, and whether one more shows in part (from its template height).
  static int FullRows(const ControlState& list);
  static bool HasPartialRow(const ControlState& list);

 private:
  enum class FrameKind { Dialog, MessageBox, Menu, FileDialog };
  struct Frame {
    FrameKind kind = FrameKind::Dialog;
    WindowId window = kNoWindowId;
    bool done = false;
    int answer = 0;          // message box
    unsigned chosen = 0;     // menu
    std::size_t record = 0;  // index into menus_ / fileDialogs_ / boxes_
  };
  struct Timer {
    WindowId window = kNoWindowId;
    std::uintptr_t id = 0;
    std::int64_t period = 0;
    std::int64_t due = 0;
  };
  struct Posted {
    WindowId window = kNoWindowId;
    unsigned message = 0;
    WParam wParam = 0;
    LParam lParam = 0;
  };

  WindowState* Window(WindowId window);
  ControlState* Control(WindowId window, int id);
  ControlState* List(WindowId window, int id);
  Frame* Innermost() { return frames_.empty() ? nullptr : frames_.back().get(); }
  void Error(const std::string& text) { errors_.push_back(text); }

  // Runs one nested loop until its frame is done.
  void RunFrame(Frame& frame);
  bool DeliverOnePosted();
  void DrainAsync();
  // Waits up to timeoutMs for the wake-up pipe or a watched descriptor, then serves the watched ones.
  void PollDescriptors(int timeoutMs);
  void FireDueTimers(std::int64_t until);
  void WaitRealTime();
  void Abandon(Frame& frame);
  // The dialog that a user action addresses: the innermost loop's, if it is a dialog.
  CDialog* UserTarget(const char* action);
  // Changes the state bits of one row and tells the dialog.
  void ChangeRowState(WindowId window, ControlState& list, int row, unsigned state, unsigned mask);
  void Notify(WindowId window, ListViewNotify& nm);

  bool realTime_ = false;
  std::int64_t virtualNow_ = 0;
  std::int64_t realStart_ = 0;
  WindowId nextWindow_ = 0x1000;
  std::map<WindowId, std::unique_ptr<WindowState>> windows_;
  std::vector<std::unique_ptr<Frame>> frames_;
  std::vector<Timer> timers_;
  std::deque<Posted> posted_;
  std::deque<Action> script_;
  std::vector<MessageBoxRecord> boxes_;
  std::vector<MenuRecord> menus_;
  std::vector<FileDialogRecord> fileDialogs_;
  std::vector<TrayIconState> trayIcons_;
  std::vector<TrayCall> trayCalls_;
  std::vector<WindowId> foreground_;
  NotificationArea notificationArea_ = NotificationArea::kMouse;
  std::vector<std::string> errors_;
  std::function<int(const MessageBoxRecord&)> boxHandler_;
  std::function<std::optional<std::string>(const FileOpenRequest&)> fileHandler_;
  std::function<void(CDialog&)> modalStartHandler_;
  std::vector<std::function<void()>> asyncActions_;
  std::vector<std::pair<int, std::function<void()>>> readWatches_;
  Point cursor_{100, 100};
  Size screen_{1920, 1080};
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
};

// A shell that opens nothing and remembers what it was asked to open; file icons come from a
// table the test fills (a null icon otherwise).
class RecordingShell final : public IShell {
 public:
  bool OpenAddress(const std::string& address) override {
    opened_.push_back(address);
    return succeed_;
  }
  Icon FileIcon(const std::string& path) override;
  void SetFileIcon(const std::string& path, Icon icon) { icons_[path] = std::move(icon); }
  void SetSucceed(bool succeed) { succeed_ = succeed; }
  const std::vector<std::string>& Opened() const { return opened_; }

 private:
  std::vector<std::string> opened_;
  std::map<std::string, Icon> icons_;
  bool succeed_ = true;
};

}  // namespace framework::headless
