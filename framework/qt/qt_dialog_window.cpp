#include "framework/qt/qt_widgets.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QEventLoop>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyleOptionFrame>
#include <QTimerEvent>
#include <QWheelEvent>
#include <algorithm>
#include <cstring>

#include "framework/resource_provider.h"

namespace framework::qt {

// ---- the dialog window ----

DialogWindow::DialogWindow(QtBackend& backend, CDialog& dialog, const DialogTemplate& tpl, WindowId id)
    : QDialog(nullptr), backend_(backend), dialog_(&dialog), tpl_(&tpl), id_(id), exStyle_(tpl.exStyle) {
  setAttribute(Qt::WA_DeleteOnClose, false);
  setSizeGripEnabled(false);
  const QFont font = DialogFont(tpl);
  setFont(font);
  base_ = BaseUnitsOf(font);
  setWindowTitle(QString::fromUtf8(tpl.caption));
  ApplyWindowFlags();
  setFixedSize(MapDialogRect(base_, 0, 0, tpl.cx, tpl.cy).size());
  for (const ControlTemplate& c : tpl.controls) CreateControl(c, this);

  // Tab order is template order; the first enabled tab stop starts with the focus.
  QWidget* previous = nullptr;
  bool focused = false;
  for (const ControlEntry& entry : controls_) {
    if (entry.widget->focusPolicy() == Qt::NoFocus) continue;
    if (previous != nullptr) QWidget::setTabOrder(previous, entry.widget);
    previous = entry.widget;
    if (!focused && (entry.style & WS_TABSTOP) != 0 && (entry.style & WS_DISABLED) == 0 &&
        (entry.style & WS_VISIBLE) != 0) {
      entry.widget->setFocus(Qt::OtherFocusReason);
      focused = true;
    }
  }
}

DialogWindow::~DialogWindow() { StopAllTimers(); }

DialogWindow::ControlEntry& DialogWindow::CreateControl(const ControlTemplate& c, QWidget* parent, QPoint offset) {
  ControlEntry entry;
  entry.id = c.id;
  entry.kind = c.kind;
  entry.style = c.style;
  entry.text = c.text;
  const QString text = QString::fromUtf8(c.text);
  QRect geometry = MapDialogRect(base_, c.x, c.y, c.cx, c.cy).translated(-offset);

  switch (c.kind) {
    case ControlKind::PushButton: {
      auto* button = new QPushButton(text, parent);
      button->setAutoDefault(true);
      button->setDefault((c.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON);
      const int id = c.id;
      connect(button, &QPushButton::clicked, this, [this, id] { ClickControl(id); });
      entry.widget = button;
      break;
    }
    case ControlKind::CheckBox: {
      auto* box = new AutoCheckBox(this, c.id, text);
      box->setParent(parent);
      const unsigned type = c.style & BS_TYPEMASK;
      box->setTristate(type == BS_AUTO3STATE || type == BS_3STATE);
      entry.widget = box;
      break;
    }
    case ControlKind::Edit: {
      auto* edit = new QLineEdit(text, parent);
      edit->setReadOnly((c.style & ES_READONLY) != 0);
      edit->setFrame((c.style & WS_BORDER) != 0);
      edit->setCursorPosition(0);
      entry.widget = edit;
      break;
    }
    case ControlKind::ListView:
      entry.widget = new ReportList(this, c.id, c.style);
      entry.widget->setParent(parent);
      break;
    case ControlKind::StaticText: {
      auto* label = new StaticLabel(this, c.id, (c.style & SS_NOTIFY) != 0);
      label->setParent(parent);
      label->setTextFormat(Qt::PlainText);
      // A one-line static cuts a word that does not fit instead of wrapping it out of sight.
      const bool oneLine =
          geometry.height() < 2 * QFontMetrics(font()).lineSpacing() && !text.contains(QLatin1Char('\n'));
      label->setWordWrap(!oneLine);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      label->setText((c.style & SS_NOPREFIX) != 0 ? text : StripMnemonics(text));
      if ((c.style & SS_SUNKEN) != 0) {
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setLineWidth(1);
      }
      label->setFocusPolicy(Qt::NoFocus);
      entry.widget = label;
      break;
    }
    case ControlKind::StaticIcon: {
      auto* label = new StaticLabel(this, c.id, (c.style & SS_NOTIFY) != 0);
      label->setParent(parent);
      // An icon static takes the size of its icon, the system's standard 32 pixels.
      const QIcon icon = ToQIcon(LoadIconResource(c.iconId, 32));
      label->setPixmap(icon.pixmap(QSize(32, 32)));
      geometry.setSize(QSize(32, 32));
      label->setFocusPolicy(Qt::NoFocus);
      entry.widget = label;
      break;
    }
  }
  entry.widget->setGeometry(geometry);
  if (entry.widget->focusPolicy() != Qt::NoFocus) {
    entry.widget->setFocusPolicy((c.style & WS_TABSTOP) != 0 ? Qt::StrongFocus : Qt::ClickFocus);
  }
  if ((c.style & WS_DISABLED) != 0) entry.widget->setEnabled(false);
  if ((c.style & WS_VISIBLE) == 0) entry.widget->hide();
  if (c.id != -1) controlIndex_.emplace(c.id, controls_.size());
  controls_.push_back(std::move(entry));
  return controls_.back();
}

BlockScrollArea::BlockScrollArea(QWidget* parent) : QScrollArea(parent) {
  setFrameShape(QFrame::NoFrame);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setWidgetResizable(false);
  setFocusPolicy(Qt::NoFocus);
  viewport()->setAutoFillBackground(false);
}

void BlockScrollArea::wheelEvent(QWheelEvent* event) {
  // There is no vertical bar; a plain wheel turns the one there is.
  QCoreApplication::sendEvent(horizontalScrollBar(), event);
}

bool DialogWindow::AddControls(const ControlBlock& block) {
  QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  const QRect available = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
  // The window manager's frame is not known before the window is shown: room for a usual one.
  constexpr int kFrameWidth = 16;
  constexpr int kFrameHeight = 40;
  const Size maxClient{available.width() - kFrameWidth, available.height() - kFrameHeight};
  const int scrollBarHeight = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  const auto toPixels = [this](const DialogUnits& r) {
    const QRect q = MapDialogRect(base_, r.x, r.y, r.cx, r.cy);
    return Pixels{q.x(), q.y(), q.width(), q.height()};
  };
  const ControlBlockPlan plan = PlanControlBlock(block, Size{width(), height()}, maxClient, scrollBarHeight, toPixels);
  const QRect area = MapDialogRect(base_, block.area.x, block.area.y, block.area.cx, block.area.cy);

  // Where the block's controls go: the window itself, or the scrolling part laid over the area.
  QWidget* holder = this;
  QPoint offset;
  if (plan.scrolls) {
    blockScroller_ = new BlockScrollArea(this);
    blockScroller_->setGeometry(plan.viewport.x, plan.viewport.y, plan.viewport.cx, plan.viewport.cy + scrollBarHeight);
    auto* content = new QWidget;
    content->resize(plan.contentWidth, area.height());
    blockScroller_->setWidget(content);
    holder = content;
    offset = area.topLeft();
  }

  // The template's controls: into the block, or along with the window's right edge and below.
  QWidget* lastInBlock = nullptr;
  for (std::size_t i = 0; i < tpl_->controls.size() && i < controls_.size(); ++i) {
    const ControlTemplate& c = tpl_->controls[i];
    QWidget* widget = controls_[i].widget;
    if (c.id != -1 && InBlockArea(block, c)) {
      if (holder != this) {
        const QRect geometry = widget->geometry();
        const bool shown = !widget->isHidden();
        widget->setParent(holder);
        widget->setGeometry(geometry.translated(-offset));
        if (shown) widget->show();
      }
      lastInBlock = widget;
      continue;
    }
    QRect geometry = widget->geometry();
    if (ContainsId(block.followRightEdge, c.id)) geometry.translate(plan.shift, 0);
    if (ContainsId(block.stretchToRightEdge, c.id)) geometry.setWidth(geometry.width() + plan.shift);
    if (geometry.top() >= area.bottom() + 1) geometry.translate(0, plan.extraHeight);
    widget->setGeometry(geometry);
  }

  // Tab order: the new boxes right after the template's last one, then the other new controls.
  QWidget* previous = lastInBlock;
  const auto add = [&](const AddedControl& a, QWidget* parent, QPoint at) -> QWidget* {
    const std::string text = a.text;
    const ControlTemplate c{a.id, a.kind, text.c_str(), a.rect.x, a.rect.y, a.rect.cx, a.rect.cy, a.style, 0, 0};
    QWidget* widget = CreateControl(c, parent, at).widget;
    if (previous != nullptr && widget->focusPolicy() != Qt::NoFocus) QWidget::setTabOrder(previous, widget);
    if (widget->focusPolicy() != Qt::NoFocus) previous = widget;
    return widget;
  };
  for (const AddedControl& a : block.blockControls) add(a, holder, offset);
  for (const AddedControl& a : block.otherControls) {
    QWidget* widget = add(a, this, QPoint());
    QRect geometry = widget->geometry();
    if (ContainsId(block.followRightEdge, a.id)) geometry.translate(plan.shift, 0);
    if (ContainsId(block.stretchToRightEdge, a.id)) geometry.setWidth(geometry.width() + plan.shift);
    if (geometry.top() >= area.bottom() + 1) geometry.translate(0, plan.extraHeight);
    widget->setGeometry(geometry);
  }
  setFixedSize(plan.client.cx, plan.client.cy);
  return true;
}

void DialogWindow::ApplyWindowFlags() {
  const std::uint32_t style = tpl_->style;
  Qt::WindowFlags flags;
  if ((exStyle_ & WS_EX_TOOLWINDOW) != 0) {
    flags = Qt::Tool;
  } else if ((exStyle_ & WS_EX_APPWINDOW) != 0) {
    flags = Qt::Window;  // a window of its own on the task bar
  } else {
    flags = Qt::Dialog;  // transient: no task-bar entry
  }
  flags |= Qt::CustomizeWindowHint;
  if ((style & WS_CAPTION) == WS_CAPTION) flags |= Qt::WindowTitleHint;
  if ((style & WS_SYSMENU) != 0) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if ((style & WS_SYSMENU) != 0 && (style & WS_MINIMIZEBOX) != 0) flags |= Qt::WindowMinimizeButtonHint;
  if ((exStyle_ & WS_EX_TOPMOST) != 0) flags |= Qt::WindowStaysOnTopHint;
  if (flags == windowFlags()) return;
  const bool visible = isVisible();
  setWindowFlags(flags);
  if (visible) show();
}

void DialogWindow::SetExStyle(std::uint32_t exStyle) {
  exStyle_ = exStyle;
  ApplyWindowFlags();
}

void DialogWindow::SetIcons(const Icon& icon, bool big) {
  (big ? bigIcon_ : smallIcon_) = icon;
  QIcon combined;
  for (const Icon* part : {&smallIcon_, &bigIcon_}) {
    const QIcon converted = ToQIcon(*part);
    for (const QSize& size : converted.availableSizes()) combined.addPixmap(converted.pixmap(size));
  }
  setWindowIcon(combined);
}

DialogWindow::ControlEntry* DialogWindow::Control(int id) {
  if (id == -1) return nullptr;
  auto it = controlIndex_.find(id);
  return it != controlIndex_.end() ? &controls_[it->second] : nullptr;
}

ReportList* DialogWindow::List(int id) {
  ControlEntry* entry = Control(id);
  if (entry == nullptr || entry->kind != ControlKind::ListView) return nullptr;
  return static_cast<ReportList*>(entry->widget);
}

bool DialogWindow::StartWindowTimer(std::uintptr_t id, unsigned milliseconds) {
  StopWindowTimer(id);
  // The system's shortest period.
  const int period = static_cast<int>(std::clamp(milliseconds, 10u, 0x7FFFFFFFu));
  const int qtId = startTimer(period, Qt::PreciseTimer);
  if (qtId == 0) return false;
  timers_[id] = TimerEntry{qtId, ++timerGeneration_, false};
  qtTimers_[qtId] = id;
  return true;
}

bool DialogWindow::StopWindowTimer(std::uintptr_t id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return false;
  killTimer(it->second.qtId);
  qtTimers_.erase(it->second.qtId);
  timers_.erase(it);
  return true;
}

void DialogWindow::StopAllTimers() {
  for (const auto& [id, timer] : timers_) killTimer(timer.qtId);
  timers_.clear();
  qtTimers_.clear();
}

void DialogWindow::timerEvent(QTimerEvent* event) {
  auto found = qtTimers_.find(event->timerId());
  if (found == qtTimers_.end()) {
    QDialog::timerEvent(event);
    return;
  }
  TimerEntry& timer = timers_[found->second];
  // Like WM_TIMER: one tick at most waits, and it is dispatched outside Qt's timer activation so
  // that a handler's nested loop still sees this timer tick.
  if (timer.pending) return;
  timer.pending = true;
  QCoreApplication::postEvent(this, new TimerTickEvent(found->second, timer.generation), Qt::LowEventPriority);
}

bool DialogWindow::event(QEvent* event) {
  if (event->type() == PostedMessageEvent::Kind()) {
    const auto* posted = static_cast<PostedMessageEvent*>(event);
    if (dialog_ != nullptr && Deliverable()) dialog_->Dispatch(posted->message_, posted->wParam_, posted->lParam_);
    return true;
  }
  if (event->type() == TimerTickEvent::Kind()) {
    const auto* tick = static_cast<TimerTickEvent*>(event);
    auto it = timers_.find(tick->id_);
    if (it == timers_.end() || it->second.generation != tick->generation_) return true;
    it->second.pending = false;
    if (dialog_ != nullptr && Deliverable()) dialog_->Dispatch(WM_TIMER, tick->id_, 0);
    return true;
  }
  return QDialog::event(event);
}

bool DialogWindow::Deliverable() const { return !endRequested || backend_.loopDepth_ > ownLoopDepth; }

void DialogWindow::keyPressEvent(QKeyEvent* event) {
  if (dialog_ == nullptr) return;
  const int key = event->key();
  if ((key == Qt::Key_Return || key == Qt::Key_Enter) && (event->modifiers() & ~Qt::KeypadModifier) == 0) {
    int focusedButton = -1;
    for (const ControlEntry& entry : controls_) {
      if (entry.kind == ControlKind::PushButton && entry.widget->hasFocus()) focusedButton = entry.id;
    }
    DeliverEnterKey(*dialog_, focusedButton);
    return;
  }
  if (key == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    DeliverEscapeKey(*dialog_);
    return;
  }
  if (key == Qt::Key_Space && event->modifiers() == Qt::AltModifier) {
    ShowSystemMenu(mapToGlobal(QPoint(0, 0)));
    return;
  }
  QWidget::keyPressEvent(event);
}

void DialogWindow::closeEvent(QCloseEvent* event) {
  // The window manager's close request is the close box; the window itself goes only when the
  // program destroys it.
  event->ignore();
  if (dialog_ != nullptr) DeliverCloseBox(*dialog_);
}

void DialogWindow::contextMenuEvent(QContextMenuEvent* event) {
  if (childAt(event->pos()) != nullptr) {
    QDialog::contextMenuEvent(event);
    return;
  }
  ShowSystemMenu(event->globalPos());
}

void DialogWindow::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  // A dialog with a modal frame but no title bar gets no decoration from the window manager; it
  // draws its own frame so that it stands apart from what lies behind it.
  if ((tpl_->style & WS_CAPTION) == WS_CAPTION || (tpl_->style & DS_MODALFRAME) == 0) return;
  QPainter painter(this);
  QStyleOptionFrame frame;
  frame.initFrom(this);
  frame.rect = rect();
  frame.lineWidth = 2;
  frame.midLineWidth = 0;
  frame.state |= QStyle::State_Raised;
  frame.frameShape = QFrame::WinPanel;
  style()->drawPrimitive(QStyle::PE_Frame, &frame, &painter, this);
}

void DialogWindow::ShowSystemMenu(const QPoint& globalPos) {
  if (dialog_ == nullptr || (tpl_->style & WS_SYSMENU) == 0) return;
  QMenu menu(this);
  if ((tpl_->style & WS_MINIMIZEBOX) != 0) {
    menu.addAction(QString::fromUtf8(framework::Resources().Text(framework::BackendText::kSystemMenuMinimize)))
        ->setData(SC_MINIMIZE);
  }
  QAction* close =
      menu.addAction(QString::fromUtf8(framework::Resources().Text(framework::BackendText::kSystemMenuClose)));
  close->setData(SC_CLOSE);
  QFont bold = close->font();
  bold.setBold(true);
  close->setFont(bold);
  for (const auto& [id, text] : systemMenu_) {
    if (id == 0) {
      menu.addSeparator();
    } else {
      menu.addAction(QString::fromUtf8(text))->setData(id);
    }
  }
  QAction* chosen = nullptr;
  {
    const QtBackend::LoopScope scope(backend_);
    chosen = menu.exec(globalPos);
  }
  if (chosen == nullptr || dialog_ == nullptr) return;
  const unsigned command = chosen->data().toUInt();
  if (command == SC_MINIMIZE) {
    showMinimized();
    return;
  }
  dialog_->Dispatch(WM_SYSCOMMAND, command, 0);
}

void DialogWindow::ClickControl(int id) {
  if (dialog_ != nullptr) DeliverClick(*dialog_, id);
}

void DialogWindow::NotifyList(int id, unsigned code, int row, unsigned oldState, unsigned newState, QPoint point) {
  if (dialog_ == nullptr) return;
  ListViewNotify nm;
  nm.hdr.hwndFrom = id_;
  nm.hdr.idFrom = static_cast<std::uintptr_t>(id);
  nm.hdr.code = code;
  nm.iItem = row;
  nm.uOldState = oldState;
  nm.uNewState = newState;
  nm.uChanged = code == LVN_ITEMCHANGED ? LVIF_STATE : 0u;
  nm.ptAction = Point{point.x(), point.y()};
  dialog_->Dispatch(WM_NOTIFY, static_cast<WParam>(id), reinterpret_cast<LParam>(&nm));
}

}  // namespace framework::qt
