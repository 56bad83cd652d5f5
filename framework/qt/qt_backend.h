#pragma once
// The dialog framework on Qt 6 Widgets: dialog windows built from the resource templates, their
// controls, modal loops, timers, popup menus, message boxes, the file-open dialog and the
// notification-area icon.
//
// Windows behaviour kept on purpose:
// - A dialog running modally blocks the input of its owner (the innermost running dialog) instead of
//   using Qt's application modality, so the tray icon and every timer stay live while a dialog is
//   up, and the owner's controls keep their enabled states.
// - Timers are coalesced like WM_TIMER: at most one tick per timer waits to be dispatched, and a
//   timer keeps ticking in nested loops started by its own handler.
// - Qt has no window menu. Items a dialog adds to its system menu appear in a menu that opens with
//   Alt+Space (the system's own key for it) or a right click on the dialog's background.
#include <QIcon>
#include <QPointer>
#include <QRect>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "framework/backend.h"
#include "framework/dialog.h"
#include "framework/shell.h"

class QApplication;
class QFont;
class QObject;
class QWidget;
class QMenu;
class QStyle;
class QSystemTrayIcon;
class QSocketNotifier;

namespace framework::qt {

class DialogWindow;
class InputBlocker;
class TrayHoverFilter;

// ---- dialog units ----
// The dialog's base units: the average character width of its font (the Windows way: the width of
// "A".."Z" "a".."z" over 52, rounded) and the font's height.
struct DialogBaseUnits {
  int x = 0;
  int y = 0;
};
DialogBaseUnits BaseUnitsOf(const QFont& font);
// MulDiv: a * b / c rounded to the nearest (halves away from zero); 0 when c is 0.
int MulDiv(int a, int b, int c);
// Dialog units to pixels: x * base.x / 4, y * base.y / 8.
QRect MapDialogRect(const DialogBaseUnits& base, int x, int y, int cx, int cy);
// The font a template asks for, with the Japanese Windows faces replaced by the IPA faces.
QFont DialogFont(const DialogTemplate& tpl);
// The face that stands in for a Windows face name ("ＭＳ ゴシック" -> "IPAGothic", ...).
QString FontFamilyFor(const char* face);
// Text as a static without SS_NOPREFIX shows it: "&&" is "&", a single "&" only marks a mnemonic.
QString StripMnemonics(const QString& text);

// ---- icons ----
QImage ToQImage(const IconImage& image);
QIcon ToQIcon(const Icon& icon);
// Icon resource id with every stored size.
QIcon ResourceIcon(int id);
// A pixel icon from a Qt icon at size x size; null when the icon has no pixmap.
Icon FromQIcon(const QIcon& icon, int size);

class QtBackend final : public IBackend {
 public:
  // A QApplication must exist.
  QtBackend();
  // Owns app, which outlives everything of the backend.
  explicit QtBackend(std::unique_ptr<QApplication> app);
  ~QtBackend() override;
  QtBackend(const QtBackend&) = delete;
  QtBackend& operator=(const QtBackend&) = delete;

  // ---- for tests and the screenshot tool ----
  QWidget* WindowWidget(WindowId window) const;
  // The control's widget (the list's QTreeWidget, a check box's QCheckBox, ...), or nullptr.
  QWidget* ControlWidget(WindowId window, int id) const;
  // The widgets of the template's controls, in template order, then those added at run time.
  std::vector<QWidget*> ControlWidgets(WindowId window) const;
  // The scrolling part of the controls added at run time (a QScrollArea), or nullptr when they fit.
  QWidget* BlockScroller(WindowId window) const;
  // Called once each time a dialog enters its modal loop, after it is shown (if it is shown).
  void SetModalStartHandler(std::function<void(CDialog&, QWidget&)> handler) {
    modalStartHandler_ = std::move(handler);
  }
  // The innermost menu of TrackPopup while one is open (nullptr otherwise), and the innermost message
  // box or file dialog being shown, so that a test can answer them.
  QWidget* OpenPopup() const;
  QWidget* OpenMessageBox() const;
  QWidget* OpenFileDialog() const;
  // The notification-area icon of (window, id), or nullptr.
  QSystemTrayIcon* TrayIcon(WindowId window, unsigned id) const;
  // The items a dialog added to its system menu, (0, "") for separators.
  std::vector<std::pair<unsigned, std::string>> SystemMenuItems(WindowId window) const;
  // Shows the system menu of window at its top-left corner.
  void ShowSystemMenu(WindowId window);
  // The session is ending: WM_QUERYENDSESSION, then WM_ENDSESSION (TRUE) to the main window; once.
  void EndSession();

  // ---- asynchronous requests (signal handlers, other threads) ----
  int AddAsyncAction(std::function<void()> action) override;
  bool TriggerAsync(int slot) override;
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
  NotificationArea NotificationAreaKind() override;
  Point CursorPos() override;
  void DismissPopupMenus() override;
  void CancelTransientLoops() override;

 private:
  friend class DialogWindow;
  friend class InputBlocker;
  friend class TrayHoverFilter;
  struct Tray;
  // Counts the loops running inside one another (modal runs, boxes, popups, the file dialog).
  struct LoopScope {
    explicit LoopScope(QtBackend& backend) : depth(backend.loopDepth_) { ++depth; }
    ~LoopScope() { --depth; }
    LoopScope(const LoopScope&) = delete;
    LoopScope& operator=(const LoopScope&) = delete;
    int& depth;
  };

  std::unique_ptr<QApplication> ownedApp_;  // first: destroyed last

  DialogWindow* Window(WindowId window) const;
  // The window a new modal run is owned by: the innermost running dialog, else the main window.
  DialogWindow* CurrentOwner(WindowId preferred) const;
  // Runs a box or file dialog until it finishes, with owner disabled meanwhile.
  void RunNested(QWidget& widget, WindowId owner);
  void TrayMouse(Tray& tray, unsigned mouseMessage, bool synchronous);
  void TrayActivated(Tray& tray, int reason);
  // A click as the system reports it: the pointer's move, then the button going down and up.
  void TrayClick(Tray& tray, unsigned down, unsigned up);
  // Whether Qt shows icons through a StatusNotifierItem host (D-Bus) rather than an XEmbed tray:
  // asked once, at the moment Qt makes the same decision for the whole process.
  bool StatusNotifierHost();
  void DrainAsync();
  // Brings to the front whatever keeps blocked from taking input: its innermost box, file dialog or
  // modal dialog (or, when that is blocked in turn, what blocks it).
  void RaiseBlocker(WindowId blocked);

  WindowId nextWindow_ = 0x1000;
  int loopDepth_ = 0;
  std::map<WindowId, DialogWindow*> windows_;
  std::vector<WindowId> modalStack_;
  // Every modal thing running now (dialogs, boxes, file dialogs), innermost last, with the window
  // whose input it blocks.
  struct Nested {
    QPointer<QWidget> widget;
    WindowId owner = kNoWindowId;
  };
  std::vector<Nested> nested_;
  std::vector<std::unique_ptr<Tray>> trays_;
  std::function<void(CDialog&, QWidget&)> modalStartHandler_;
  std::vector<QPointer<QMenu>> openMenus_;
  QPointer<QWidget> openBox_;
  QPointer<QWidget> openFileDialog_;
  std::unique_ptr<QStyle> menuStyle_;
  std::optional<bool> statusNotifierHost_;
  std::unique_ptr<TrayHoverFilter> hoverFilter_;
  std::unique_ptr<InputBlocker> inputBlocker_;
  bool sessionEnded_ = false;
  std::vector<std::function<void()>> asyncActions_;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::unique_ptr<QSocketNotifier> wakeNotifier_;
  std::vector<std::unique_ptr<QSocketNotifier>> readNotifiers_;
  std::unique_ptr<QObject> sessionHook_;
};

// The Qt backend with its own application object, or nullptr when there is no usable display (the
// program then runs without windows). argc and argv must outlive the backend.
std::unique_ptr<IBackend> CreateQtBackend(int& argc, char** argv);

// Opens addresses with the desktop's handler and gives files the icon the desktop shows for them.
class QtShell final : public IShell {
 public:
  bool OpenAddress(const std::string& address) override;
  Icon FileIcon(const std::string& path) override;
};

}  // namespace framework::qt
