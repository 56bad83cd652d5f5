#pragma once
// The headless backend with a scripted user in front of it, for tests. The script is a queue of
// user actions (click, select a row, answer a box, choose a menu command, advance the clock, ...).
// Whichever loop is innermost when the queue is read takes the next action; so a script reads in
// the order the user would act. The clock is virtual unless told otherwise: it moves only by
// AdvanceTime. When the script runs dry in virtual time while a loop still waits, the loop is
// abandoned (dialogs end with -1, boxes get their safe answer, menus are dismissed, file dialogs
// cancelled) and the stall is recorded. Everything shown is recorded for the test to inspect.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "framework/headless/headless_backend.h"
#include "framework/shell.h"

namespace framework::headless {

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

struct TrayCall {
  unsigned action = 0;  // NIM_*
  TrayIconData data;
  bool succeeded = false;
};

class ScriptedBackend final : public HeadlessBackend {
 public:
  ScriptedBackend();

  // ---- clock ----
  // Real time: idle loops sleep until the next timer or an asynchronous request, as without a
  // display. Virtual time (the default): the clock moves only by AdvanceTime.
  void SetRealTime(bool realTime) { realTime_ = realTime; }
  std::int64_t NowMs() const { return user_.NowMs(); }

  // ---- the script: actions taken, in order, by whichever loop is innermost ----
  using Action = std::function<void(ScriptedBackend&)>;
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
  const std::vector<TrayIconState>& TrayIcons() const { return Icons(); }
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
  int LoopDepth() const { return static_cast<int>(Loops().size()); }

  // ---- the machine as the user sees it ----
  void SetCursorPos(Point p) { user_.cursor = p; }
  // The screen the windows are shown on (1920 by 1080 unless told).
  void SetScreenSize(Size size) { user_.screen = size; }
  void SetMinimized(WindowId window, bool minimized);
  // What NotificationAreaKind answers; a notification area that reports the mouse until told.
  void SetNotificationArea(NotificationArea kind) { user_.trayArea = kind; }

  // Recorded on the way to the production behaviour.
  int ShowMessageBox(OwnerWindow owner, const std::string& text, const char* caption, unsigned type) override;
  unsigned TrackPopup(WindowId window, const Menu& popup, unsigned flags, int x, int y) override;
  bool ShowFileOpen(WindowId owner, const FileOpenRequest& request, std::string& path) override;
  bool ShellNotifyIcon(unsigned action, const TrayIconData& data) override;
  bool SetForeground(WindowId window) override;
  bool BringToFront(WindowId window) override;

 private:
  class User final : public IUser {
   public:
    explicit User(ScriptedBackend& backend) : backend_(backend) {}
    void LoopStarted(const Loop& loop) override;
    bool Act(Loop& loop) override;
    std::int64_t NowMs() const override;
    Point PointerPos() const override { return cursor; }
    Size ScreenSize() const override { return screen; }
    NotificationArea TrayArea() const override { return trayArea; }

    Point cursor{100, 100};
    Size screen{1920, 1080};
    NotificationArea trayArea = NotificationArea::kMouse;
    std::int64_t virtualNow = 0;

   private:
    ScriptedBackend& backend_;
    NoDisplayUser nobody_;
  };

  Loop* Innermost() const { return Loops().empty() ? nullptr : Loops().back().get(); }
  void Error(const std::string& text) { errors_.push_back(text); }
  // The dialog that a user action addresses: the innermost loop's, if it is a dialog.
  CDialog* UserTarget(const char* action);
  // Selects row alone and gives it the focus, as a click on it does.
  void SelectOnly(WindowId window, int listId, int row);

  User user_;
  bool realTime_ = false;
  std::deque<Action> script_;
  std::vector<MessageBoxRecord> boxes_;
  std::vector<MenuRecord> menus_;
  std::vector<std::size_t> trackedMenus_;  // indices into menus_ of the popups being tracked
  std::vector<FileDialogRecord> fileDialogs_;
  std::vector<TrayCall> trayCalls_;
  std::vector<WindowId> foreground_;
  std::vector<std::string> errors_;
  std::function<int(const MessageBoxRecord&)> boxHandler_;
  std::function<std::optional<std::string>(const FileOpenRequest&)> fileHandler_;
  std::function<void(CDialog&)> modalStartHandler_;
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
