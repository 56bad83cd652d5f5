#pragma once
// CDialog: the base of every dialog class of the program. A dialog object is built from a template
// id, runs modally with DoModal and has a window exactly while it runs. Messages reach it through
// Dispatch; WM_COMMAND and WM_NOTIFY go through the overridable OnCommand and OnNotify hooks, every
// other message through the class's message table, and what nothing takes gets the default
// handling (Default).
#include <cstdint>
#include <deque>
#include <string>

#include "framework/control_block.h"
#include "framework/controls.h"
#include "framework/defs.h"
#include "framework/icon.h"
#include "framework/menu.h"
#include "framework/message_map.h"

namespace framework {

struct DialogTemplate;

class CDialog {
 public:
  explicit CDialog(int templateId);
  virtual ~CDialog();
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Creates the window from the template, sends WM_INITDIALOG, runs the modal loop until EndDialog
  // and destroys the window (WM_DESTROY, WM_NCDESTROY). Returns the code given to EndDialog, or -1
  // when the window could not be made (no template, no backend) or the dialog is already running.
  int DoModal();
  // Ends the modal loop with result once the current message has been handled.
  void EndDialog(int result);
  bool HasWindow() const { return window_ != kNoWindowId; }
  // True between EndDialog and the end of the run.
  bool IsEnding() const { return ending_; }
  WindowId GetSafeHwnd() const { return window_; }
  // The window this dialog's modal run belongs to (its input waits while the run lasts): the dialog
  // whose handler started the run, else the main window; 0 when there is neither.
  WindowId ModalOwner() const { return owner_; }
  int TemplateId() const { return templateId_; }
  // The template this dialog is built from, or nullptr.
  const DialogTemplate* Template() const;

  // The one entry for messages to this dialog: backends, posted messages and SendToSelf end here.
  LResult Dispatch(unsigned message, WParam wParam, LParam lParam);
  LResult SendToSelf(unsigned message, WParam wParam = 0, LParam lParam = 0) {
    return Dispatch(message, wParam, lParam);
  }
  // Queues a message for this dialog's window; false when it has none.
  bool PostToSelf(unsigned message, WParam wParam = 0, LParam lParam = 0);

  static const MessageMap* GetThisMessageMap();
  virtual const MessageMap* GetMessageMap() const { return GetThisMessageMap(); }

  // ---- window operations (no effect without a window) ----
  void SetIcon(const Icon& icon, bool big);
  void ModifyStyleEx(std::uint32_t remove, std::uint32_t add);
  std::uint32_t StyleEx() const;
  // Hides the window for good: the modal loop will not show it.
  void HideWindow();
  bool SetForeground();
  // Restores a minimised window, then brings it to the front with the input.
  bool BringToFront();
  bool SetTimer(std::uintptr_t id, unsigned milliseconds);
  bool KillTimer(std::uintptr_t id);
  Size ClientSize() const;
  bool IsMinimized() const;
  std::string Caption() const;
  void SetCaption(const std::string& text);
  void AppendSystemMenuSeparator();
  void AppendSystemMenuItem(unsigned id, const std::string& text);

  // ---- controls by id ----
  // Adds the block's controls to the window (see control_block.h); they live as long as the window.
  // False without a window or when the backend could not make them.
  bool AddControls(const ControlBlock& block);
  // The record of control id: the template's, or one added at run time to the current window
  // (its text left empty). nullptr when there is none.
  const ControlTemplate* FindControl(int id) const;
  bool HasControl(int id) const { return FindControl(id) != nullptr; }
  Control Item(int id) { return Control(this, id); }
  Button ButtonItem(int id) { return Button(this, id); }
  ListView ListViewItem(int id) { return ListView(this, id); }

  // ---- popups and boxes owned by this dialog ----
  // Shows popup at screen position (x, y) and returns when the user chose or dismissed. A chosen
  // command then reaches this dialog as a posted WM_COMMAND (id, code 0). Timers keep running.
  void TrackPopup(const Menu& popup, unsigned flags, int x, int y);
  // A message box owned by this dialog (caption nullptr: the system's default caption).
  int ShowMessageBox(const std::string& text, const char* caption, unsigned type);

 protected:
  // WM_INITDIALOG. The base binds the controls (DoDataExchange) and returns true.
  virtual bool OnInitDialog();
  // Binds control wrappers to ids with BindControl. The base binds nothing.
  virtual void DoDataExchange() {}
  // WM_COMMAND; true when handled. The base dispatches through the message table.
  virtual bool OnCommand(WParam wParam, LParam lParam);
  // WM_NOTIFY; true when handled, with *result the answer. The base dispatches through the table.
  virtual bool OnNotify(WParam wParam, LParam lParam, LResult* result);
  // IDOK (the Enter key) and IDCANCEL (Escape, and the close box by default).
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }

  // The default handling of the message being dispatched, for handlers that add to it.
  LResult Default();
  // The default handling of any message: WM_CLOSE cancels the dialog (through WM_COMMAND
  // IDCANCEL, unless it is ending already), WM_SYSCOMMAND SC_CLOSE sends WM_CLOSE, everything
  // else answers 0.
  LResult DefaultHandling(unsigned message, WParam wParam, LParam lParam);

  void BindControl(int id, Control& control) { control = Control(this, id); }
  void BindControl(int id, Button& control) { control = Button(this, id); }
  void BindControl(int id, ListView& control) { control = ListView(this, id); }

 private:
  void OnOkCommand() { OnOK(); }
  void OnCancelCommand() { OnCancel(); }

  int templateId_;
  WindowId window_ = kNoWindowId;
  WindowId owner_ = kNoWindowId;
  // The controls added to the current window (a deque keeps the records in place as it grows).
  std::deque<ControlTemplate> added_;
  bool ending_ = false;
  int result_ = -1;
  // The message being dispatched, for Default().
  unsigned currentMessage_ = WM_NULL;
  WParam currentWParam_ = 0;
  LParam currentLParam_ = 0;
};

// The application's main window (the owner of dialogs made without a parent); nullptr when none.
void SetMainWindow(CDialog* dialog);
CDialog* MainWindow();

// The window a box or dialog opened now belongs to when its caller names none: the innermost dialog
// that is handling a message (the one whose command opened it), else the main window.
WindowId DefaultOwner();

// The program is ending: every running dialog but the main window ends with IDCANCEL, every box,
// file dialog and popup menu closes (Backend().CancelTransientLoops()), and from now on none opens:
// DoModal returns -1, boxes give their safe answer at once, popups choose nothing. The main
// window's own run is ended by its caller.
void BeginQuit();
bool Quitting();
// The main loop has returned: a later run of the program starts afresh.
void EndQuit();

// The program's name as default caption of its own boxes (the executable's name without extension).
void SetApplicationName(const std::string& name);
const std::string& ApplicationName();

// The string resource id, or empty text.
std::string LoadStringResource(int id);

// The state an automatic check box takes when clicked: two-state boxes toggle; three-state boxes go
// unchecked -> checked -> indeterminate -> unchecked.
int NextAutoCheckState(int state, bool threeState);

}  // namespace framework
