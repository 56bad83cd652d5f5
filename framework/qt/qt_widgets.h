#pragma once
// The widgets behind a dialog window of the Qt backend. Internal to framework/qt.
#include <QCheckBox>
#include <QDialog>
#include <QEvent>
#include <QLabel>
#include <QScrollArea>
#include <QTreeWidget>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "framework/qt/qt_backend.h"

class QEventLoop;

namespace framework::qt {

// A message posted to a window; delivered in order with every other posted event.
class PostedMessageEvent final : public QEvent {
 public:
  static QEvent::Type Kind();
  PostedMessageEvent(unsigned message, WParam wParam, LParam lParam)
      : QEvent(Kind()), message_(message), wParam_(wParam), lParam_(lParam) {}
  unsigned message_;
  WParam wParam_;
  LParam lParam_;
};

// One pending tick of a window timer (the generation tells a restarted or killed timer's stale tick).
class TimerTickEvent final : public QEvent {
 public:
  static QEvent::Type Kind();
  TimerTickEvent(std::uintptr_t id, unsigned generation) : QEvent(Kind()), id_(id), generation_(generation) {}
  std::uintptr_t id_;
  unsigned generation_;
};

class DialogWindow;

// An automatic check box: the click's new state comes from the framework's input helper (the
// Windows cycle), never from Qt's own cycle.
class AutoCheckBox final : public QCheckBox {
 public:
  AutoCheckBox(DialogWindow* owner, int id, const QString& text);

 protected:
  void nextCheckState() override;

 private:
  DialogWindow* owner_;
  int id_;
};

// A static text or icon; with SS_NOTIFY a click on it reaches the dialog.
class StaticLabel final : public QLabel {
 public:
  StaticLabel(DialogWindow* owner, int id, bool notify);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  DialogWindow* owner_;
  int id_;
  bool notify_;
  bool pressed_ = false;
};

// A report-view list. Row states (selected, focused) are mirrored so that every change, by the user
// or by the program, is reported once per row as LVN_ITEMCHANGED.
class ReportList final : public QTreeWidget {
 public:
  ReportList(DialogWindow* owner, int id, std::uint32_t style);
  ~ReportList() override;

  unsigned CurrentState(int row) const;
  // Reports every row whose state differs from the mirror: rows losing a state first.
  void Sync();
  // Holds reports back while one user action or one program call changes several things (the
  // focus, then the selection): the dialog hears of each row once, with its final state.
  void HoldSync() { ++hold_; }
  void ReleaseSync() {
    if (--hold_ == 0) Sync();
  }
  void InsertRowMirror(int row);
  void ClearMirror() { mirror_.clear(); }
  void SetImages(std::vector<QIcon> images);
  QIcon ImageAt(int index) const;

  unsigned exStyle = 0;
  std::vector<int> columnFormats;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void PressImpl(QMouseEvent* event);

  DialogWindow* owner_;
  int id_;
  int hold_ = 0;
  std::vector<unsigned> mirror_;
  std::vector<QIcon> images_;
  int rightPressRow_ = -2;  // -2: no right press pending
  QPoint rightPressPos_;
};

// The scrolling part of a block of controls added at run time: it scrolls sideways only, so the
// mouse wheel turns it sideways too.
class BlockScrollArea final : public QScrollArea {
 public:
  explicit BlockScrollArea(QWidget* parent);

 protected:
  void wheelEvent(QWheelEvent* event) override;
};

class DialogWindow final : public QDialog {
 public:
  struct ControlEntry {
    int id = -1;
    ControlKind kind = ControlKind::StaticText;
    std::uint32_t style = 0;
    QWidget* widget = nullptr;
    std::string text;  // as the program set it, mnemonics included
  };
  struct TimerEntry {
    int qtId = 0;
    unsigned generation = 0;
    bool pending = false;
  };

  DialogWindow(QtBackend& backend, CDialog& dialog, const DialogTemplate& tpl, WindowId id);
  ~DialogWindow() override;

  WindowId Id() const { return id_; }
  CDialog* Dialog() const { return dialog_; }
  void Detach() { dialog_ = nullptr; }
  const DialogTemplate& Template() const { return *tpl_; }
  const DialogBaseUnits& BaseUnits() const { return base_; }

  ControlEntry* Control(int id);
  // The template's controls in template order, then those added at run time.
  const std::vector<ControlEntry>& Controls() const { return controls_; }
  // See IBackend::AddControls.
  bool AddControls(const ControlBlock& block);
  // The scrolling part of the added block, or nullptr when the block fits or there is none.
  BlockScrollArea* BlockScroller() const { return blockScroller_; }
  ReportList* List(int id);

  std::uint32_t ExStyle() const { return exStyle_; }
  void SetExStyle(std::uint32_t exStyle);
  void SetIcons(const Icon& icon, bool big);

  bool StartWindowTimer(std::uintptr_t id, unsigned milliseconds);
  bool StopWindowTimer(std::uintptr_t id);
  void StopAllTimers();

  void AddSystemMenuItem(unsigned id, const std::string& text) { systemMenu_.emplace_back(id, text); }
  const std::vector<std::pair<unsigned, std::string>>& SystemMenu() const { return systemMenu_; }
  void ShowSystemMenu(const QPoint& globalPos);

  // Input from the controls, as the dialog must see it.
  void ClickControl(int id);
  void NotifyList(int id, unsigned code, int row, unsigned oldState, unsigned newState, QPoint point);

  // Whether a posted message or tick may still be dispatched: not once the window's own loop is
  // ending and no loop nested inside it runs (the window is destroyed before the system would
  // deliver it).
  bool Deliverable() const;

  bool hidden = false;        // HideWindow was called: the modal loop does not show it
  int blocked = 0;            // modal runs owned by this window: it takes no input meanwhile
  int ownLoopDepth = -1;      // the backend's loop depth inside this window's modal loop
  bool endRequested = false;  // EndModalLoop was called
  QEventLoop* loop = nullptr;

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 public:
  // Only the framework ends a dialog: Qt's own accept/reject paths do nothing.
  void accept() override {}
  void reject() override {}

 private:
  void ApplyWindowFlags();
  // Makes a control on parent (the window itself, or a block's scrolling part, at a position
  // relative to it).
  ControlEntry& CreateControl(const ControlTemplate& c, QWidget* parent, QPoint offset = QPoint());

  QtBackend& backend_;
  CDialog* dialog_;
  const DialogTemplate* tpl_;
  WindowId id_;
  std::uint32_t exStyle_ = 0;
  DialogBaseUnits base_;
  std::vector<ControlEntry> controls_;
  std::map<int, std::size_t> controlIndex_;  // id -> position in controls_
  BlockScrollArea* blockScroller_ = nullptr;
  std::map<std::uintptr_t, TimerEntry> timers_;
  std::map<int, std::uintptr_t> qtTimers_;
  unsigned timerGeneration_ = 0;
  std::vector<std::pair<unsigned, std::string>> systemMenu_;
  Icon bigIcon_;
  Icon smallIcon_;
};

}  // namespace framework::qt
