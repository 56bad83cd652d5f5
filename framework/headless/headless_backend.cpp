#include "framework/headless/headless_backend.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "res/texts.h"

namespace framework::headless {
namespace {

std::atomic<int> g_wakeFd{-1};

// Header height and row height of a list view in pixels, for what "visible" means without a screen.
constexpr int kListHeaderPixels = 24;
constexpr int kListRowPixels = 17;
// Dialog units at the customary 8-point dialog font: 6 by 13 pixel base units.
Pixels ToPixels(const DialogUnits& r) { return Pixels{r.x * 6 / 4, r.y * 13 / 8, r.cx * 6 / 4, r.cy * 13 / 8}; }

ControlState MakeControl(int id, ControlKind kind, std::uint32_t style, std::string text, const DialogUnits& rect) {
  ControlState c;
  c.id = id;
  c.kind = kind;
  c.style = style;
  c.text = std::move(text);
  c.enabled = (style & WS_DISABLED) == 0;
  c.rect = ToPixels(rect);
  c.heightPixels = c.rect.cy;
  return c;
}

// The shortest period the system gives a timer.
constexpr std::int64_t kMinTimerPeriod = 10;

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool AnswerAllowed(unsigned type, int answer) {
  switch (type & 0xFu) {
    case MB_OK: return answer == IDOK;
    case MB_OKCANCEL: return answer == IDOK || answer == IDCANCEL;
    case 2u: return answer == IDABORT || answer == IDRETRY || answer == IDIGNORE;
    case MB_YESNOCANCEL: return answer == IDYES || answer == IDNO || answer == IDCANCEL;
    case MB_YESNO: return answer == IDYES || answer == IDNO;
    case 5u: return answer == IDRETRY || answer == IDCANCEL;
    default: return answer == IDOK;
  }
}

int SafeAnswer(unsigned type) { return SafeMessageBoxAnswer(type); }

}  // namespace

HeadlessBackend::HeadlessBackend() : realStart_(SteadyMs()) {
  int fds[2] = {-1, -1};
  if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
    wakeRead_ = fds[0];
    wakeWrite_ = fds[1];
    g_wakeFd.store(wakeWrite_);
  }
}

HeadlessBackend::~HeadlessBackend() {
  int expected = wakeWrite_;
  g_wakeFd.compare_exchange_strong(expected, -1);
  if (wakeRead_ >= 0) close(wakeRead_);
  if (wakeWrite_ >= 0) close(wakeWrite_);
}

std::int64_t HeadlessBackend::NowMs() const { return realTime_ ? SteadyMs() - realStart_ : virtualNow_; }

// ---------------------------------------------------------------------------------------------
// Script

void HeadlessBackend::Then(Action action) { script_.push_back(std::move(action)); }

CDialog* HeadlessBackend::UserTarget(const char* action) {
  Frame* frame = Innermost();
  if (frame == nullptr) {
    Error(std::string(action) + ": no dialog is running");
    return nullptr;
  }
  if (frame->kind != FrameKind::Dialog) {
    Error(std::string(action) + ": a message box, menu or file dialog is open");
    return nullptr;
  }
  WindowState* w = Window(frame->window);
  return w != nullptr ? w->dialog : nullptr;
}

void HeadlessBackend::Click(int id) {
  Then([id](HeadlessBackend& b) {
    CDialog* d = b.UserTarget("Click");
    if (d != nullptr && !DeliverClick(*d, id)) b.Error("Click: control " + std::to_string(id) + " took no click");
  });
}

void HeadlessBackend::PressEnter() {
  Then([](HeadlessBackend& b) {
    CDialog* d = b.UserTarget("Enter");
    if (d == nullptr) return;
    const WindowState* w = b.FindWindowState(d->GetSafeHwnd());
    int focused = -1;
    if (w != nullptr) {
      for (const ControlState& c : w->controls) {
        if (c.id == w->focusId && c.kind == ControlKind::PushButton) focused = c.id;
      }
    }
    if (!DeliverEnterKey(*d, focused)) b.Error("Enter: nothing took the key");
  });
}

void HeadlessBackend::PressEscape() {
  Then([](HeadlessBackend& b) {
    CDialog* d = b.UserTarget("Escape");
    if (d != nullptr && !DeliverEscapeKey(*d)) b.Error("Escape: nothing took the key");
  });
}

void HeadlessBackend::CloseBox() {
  Then([](HeadlessBackend& b) {
    CDialog* d = b.UserTarget("CloseBox");
    if (d != nullptr && !DeliverCloseBox(*d)) b.Error("CloseBox: the window has no close box");
  });
}

void HeadlessBackend::ChooseSystemMenu(unsigned id) {
  Then([id](HeadlessBackend& b) {
    CDialog* d = b.UserTarget("ChooseSystemMenu");
    if (d == nullptr) return;
    const WindowState* w = b.FindWindowState(d->GetSafeHwnd());
    const bool listed = w != nullptr && std::any_of(w->systemMenu.begin(), w->systemMenu.end(),
                                                    [id](const auto& item) { return item.first == id; });
    if (!listed && id != SC_CLOSE) {
      b.Error("ChooseSystemMenu: no item " + std::to_string(id));
      return;
    }
    d->Dispatch(WM_SYSCOMMAND, id, 0);
  });
}

void HeadlessBackend::SelectRow(int listId, int row) {
  Then([listId, row](HeadlessBackend& b) {
    CDialog* d = b.UserTarget("SelectRow");
    if (d == nullptr) return;
    const WindowId window = d->GetSafeHwnd();
    ControlState* list = b.List(window, listId);
    if (list == nullptr || !list->enabled || row < 0 || row >= static_cast<int>(list->rows.size())) {
      b.Error("SelectRow: no row " + std::to_string(row) + " in list " + std::to_string(listId));
      return;
    }
    const int count = static_cast<int>(list->rows.size());
    for (int i = 0; i < count; ++i) {
      if (i != row) b.ChangeRowState(window, *list, i, 0, LVIS_SELECTED);
      list = b.List(window, listId);
      if (list == nullptr || row >= static_cast<int>(list->rows.size())) return;
    }
    b.ChangeRowState(window, *list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  });
}

void HeadlessBackend::ClickEmptyListArea(int listId) {
  Then([listId](HeadlessBackend& b) {
    CDialog* d = b.UserTarget("ClickEmptyListArea");
    if (d == nullptr) return;
    const WindowId window = d->GetSafeHwnd();
    ControlState* list = b.List(window, listId);
    if (list == nullptr || !list->enabled) {
      b.Error("ClickEmptyListArea: no list " + std::to_string(listId));
      return;
    }
    b.LvSetItemState(window, listId, -1, 0, LVIS_SELECTED);
  });
}

void HeadlessBackend::RightClickRow(int listId, int row) {
  Then([listId, row](HeadlessBackend& b) {
    CDialog* d = b.UserTarget("RightClickRow");
    if (d == nullptr) return;
    const WindowId window = d->GetSafeHwnd();
    ControlState* list = b.List(window, listId);
    if (list == nullptr || !list->enabled || row < -1 || row >= static_cast<int>(list->rows.size())) {
      b.Error("RightClickRow: no row " + std::to_string(row) + " in list " + std::to_string(listId));
      return;
    }
    if (row >= 0) {
      // The right button selects the row under it first, as the left one would.
      const int count = static_cast<int>(list->rows.size());
      for (int i = 0; i < count; ++i) {
        list = b.List(window, listId);
        if (list == nullptr || i >= static_cast<int>(list->rows.size())) return;
        if (i != row) b.ChangeRowState(window, *list, i, 0, LVIS_SELECTED);
      }
      list = b.List(window, listId);
      if (list == nullptr || row >= static_cast<int>(list->rows.size())) return;
      b.ChangeRowState(window, *list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    }
    ListViewNotify nm;
    nm.hdr.hwndFrom = window;
    nm.hdr.idFrom = static_cast<std::uintptr_t>(listId);
    nm.hdr.code = NM_RCLICK;
    nm.iItem = row;
    nm.ptAction = b.cursor_;
    b.Notify(window, nm);
  });
}

void HeadlessBackend::ChooseMenu(unsigned id) {
  Then([id](HeadlessBackend& b) {
    Frame* frame = b.Innermost();
    if (frame == nullptr || frame->kind != FrameKind::Menu) {
      b.Error("ChooseMenu: no menu is open");
      return;
    }
    const MenuItem* item = b.menus_[frame->record].menu.FindItem(id);
    if (item == nullptr || item->IsGrayed() || item->IsSeparator()) {
      b.Error("ChooseMenu: no choosable item " + std::to_string(id));
      frame->chosen = 0;
    } else {
      frame->chosen = id;
    }
    frame->done = true;
  });
}

void HeadlessBackend::DismissMenu() {
  Then([](HeadlessBackend& b) {
    Frame* frame = b.Innermost();
    if (frame == nullptr || frame->kind != FrameKind::Menu) {
      b.Error("DismissMenu: no menu is open");
      return;
    }
    frame->chosen = 0;
    frame->done = true;
  });
}

void HeadlessBackend::AnswerMessageBox(int answer) {
  Then([answer](HeadlessBackend& b) {
    Frame* frame = b.Innermost();
    if (frame == nullptr || frame->kind != FrameKind::MessageBox) {
      b.Error("AnswerMessageBox: no message box is open");
      return;
    }
    const unsigned type = b.boxes_[frame->record].type;
    if (AnswerAllowed(type, answer)) {
      frame->answer = answer;
    } else {
      b.Error("AnswerMessageBox: the box has no button " + std::to_string(answer));
      frame->answer = SafeAnswer(type);
    }
    frame->done = true;
  });
}

void HeadlessBackend::AnswerFileDialog(const std::string& path) {
  Then([path](HeadlessBackend& b) {
    Frame* frame = b.Innermost();
    if (frame == nullptr || frame->kind != FrameKind::FileDialog) {
      b.Error("AnswerFileDialog: no file dialog is open");
      return;
    }
    b.fileDialogs_[frame->record].accepted = true;
    b.fileDialogs_[frame->record].path = path;
    frame->done = true;
  });
}

void HeadlessBackend::CancelFileDialog() {
  Then([](HeadlessBackend& b) {
    Frame* frame = b.Innermost();
    if (frame == nullptr || frame->kind != FrameKind::FileDialog) {
      b.Error("CancelFileDialog: no file dialog is open");
      return;
    }
    frame->done = true;
  });
}

void HeadlessBackend::AdvanceTime(std::int64_t milliseconds) {
  Then([milliseconds](HeadlessBackend& b) {
    if (b.realTime_) {
      b.Error("AdvanceTime: the clock is real");
      return;
    }
    const std::int64_t target = b.virtualNow_ + std::max<std::int64_t>(0, milliseconds);
    b.FireDueTimers(target);
    b.virtualNow_ = target;
  });
}

void HeadlessBackend::FireTimer(std::uintptr_t id) {
  Then([id](HeadlessBackend& b) {
    std::vector<WindowId> owners;
    for (const Timer& t : b.timers_) {
      if (t.id == id) owners.push_back(t.window);
    }
    if (owners.empty()) {
      b.Error("FireTimer: no timer " + std::to_string(id));
      return;
    }
    for (WindowId owner : owners) {
      if (WindowState* w = b.Window(owner)) w->dialog->Dispatch(WM_TIMER, id, 0);
    }
  });
}

void HeadlessBackend::TrayNotify(unsigned mouseMessage, unsigned iconId) {
  Then([mouseMessage, iconId](HeadlessBackend& b) {
    for (const TrayIconState& icon : b.trayIcons_) {
      if (icon.id == iconId) {
        b.PostToWindow(icon.owner, icon.callbackMessage, iconId, static_cast<LParam>(mouseMessage));
        return;
      }
    }
    b.Error("TrayNotify: no icon " + std::to_string(iconId));
  });
}

// ---------------------------------------------------------------------------------------------
// Loops

void HeadlessBackend::RunFrame(Frame& frame) {
  while (!frame.done) {
    DrainAsync();
    if (DeliverOnePosted()) continue;
    if (frame.done) break;
    if (!script_.empty()) {
      Action action = std::move(script_.front());
      script_.pop_front();
      action(*this);
      continue;
    }
    if (realTime_) {
      // Nobody is there to answer a box, a menu or a file dialog.
      if (frame.kind != FrameKind::Dialog) {
        Abandon(frame);
        break;
      }
      WaitRealTime();
      continue;
    }
    const char* what = frame.kind == FrameKind::Dialog       ? "dialog"
                       : frame.kind == FrameKind::MessageBox ? "message box"
                       : frame.kind == FrameKind::Menu       ? "menu"
                                                             : "file dialog";
    std::string text = std::string("stalled: a ") + what + " waited with an empty script";
    if (frame.kind == FrameKind::Dialog) {
      if (const WindowState* w = FindWindowState(frame.window))
        text += " (template " + std::to_string(w->templateId) + ")";
    }
    Error(text);
    Abandon(frame);
  }
}

void HeadlessBackend::Abandon(Frame& frame) {
  switch (frame.kind) {
    case FrameKind::Dialog:
      if (WindowState* w = Window(frame.window)) w->dialog->EndDialog(-1);
      break;
    case FrameKind::MessageBox: frame.answer = SafeAnswer(boxes_[frame.record].type); break;
    case FrameKind::Menu: frame.chosen = 0; break;
    case FrameKind::FileDialog: break;
  }
  frame.done = true;
}

bool HeadlessBackend::DeliverOnePosted() {
  if (posted_.empty()) return false;
  const Posted p = posted_.front();
  posted_.pop_front();
  if (WindowState* w = Window(p.window)) w->dialog->Dispatch(p.message, p.wParam, p.lParam);
  return true;
}

void HeadlessBackend::PollDescriptors(int timeoutMs) {
  std::vector<pollfd> fds;
  fds.reserve(readWatches_.size() + 1);
  for (const auto& watch : readWatches_) fds.push_back(pollfd{watch.first, POLLIN, 0});
  if (wakeRead_ >= 0) fds.push_back(pollfd{wakeRead_, POLLIN, 0});
  if (poll(fds.data(), fds.size(), timeoutMs) <= 0) return;
  // By index: an action may watch another descriptor.
  for (std::size_t i = 0; i < readWatches_.size() && i < fds.size(); ++i) {
    if ((fds[i].revents & POLLIN) != 0) readWatches_[i].second();
  }
}

void HeadlessBackend::WatchReadable(int fd, std::function<void()> readable) {
  if (fd >= 0 && readable) readWatches_.emplace_back(fd, std::move(readable));
}

void HeadlessBackend::DrainAsync() {
  // Between two messages the watched descriptors are looked at too, so a loop that is never idle
  // (a script, a flood of posts) still serves them.
  if (!readWatches_.empty()) PollDescriptors(0);
  if (wakeRead_ < 0) return;
  unsigned char slots[64];
  for (;;) {
    const ssize_t n = read(wakeRead_, slots, sizeof slots);
    if (n <= 0) return;
    for (ssize_t i = 0; i < n; ++i) {
      const std::size_t slot = slots[i];
      if (slot < asyncActions_.size() && asyncActions_[slot]) asyncActions_[slot]();
    }
  }
}

void HeadlessBackend::FireDueTimers(std::int64_t until) {
  for (;;) {
    // The earliest due timer; among equals the one set first.
    std::size_t best = timers_.size();
    for (std::size_t i = 0; i < timers_.size(); ++i) {
      if (timers_[i].due <= until && (best == timers_.size() || timers_[i].due < timers_[best].due)) best = i;
    }
    if (best == timers_.size()) return;
    Timer& t = timers_[best];
    if (!realTime_) virtualNow_ = std::max(virtualNow_, t.due);
    // A late timer is not made up for: the system delivers one message however many periods passed.
    t.due = realTime_ ? NowMs() + t.period : t.due + t.period;
    const WindowId window = t.window;
    const std::uintptr_t id = t.id;
    if (WindowState* w = Window(window)) w->dialog->Dispatch(WM_TIMER, id, 0);
    while (DeliverOnePosted()) {
    }
  }
}

void HeadlessBackend::WaitRealTime() {
  std::int64_t timeout = 1000;
  const std::int64_t now = NowMs();
  for (const Timer& t : timers_) timeout = std::min(timeout, std::max<std::int64_t>(0, t.due - now));
  if (timeout > 0 && (wakeRead_ >= 0 || !readWatches_.empty())) {
    PollDescriptors(static_cast<int>(timeout));
  } else if (timeout > 0) {
    usleep(static_cast<useconds_t>(timeout * 1000));
  }
  DrainAsync();
  FireDueTimers(NowMs());
}

int HeadlessBackend::AddAsyncAction(std::function<void()> action) {
  if (asyncActions_.size() >= 256) return -1;
  asyncActions_.push_back(std::move(action));
  return static_cast<int>(asyncActions_.size()) - 1;
}

bool HeadlessBackend::TriggerAsync(int slot) {
  if (slot < 0 || slot > 255) return false;
  const int fd = g_wakeFd.load();
  if (fd < 0) return false;
  const unsigned char byte = static_cast<unsigned char>(slot);
  return write(fd, &byte, 1) == 1;
}

// ---------------------------------------------------------------------------------------------
// Windows

WindowState* HeadlessBackend::Window(WindowId window) {
  auto it = windows_.find(window);
  return it != windows_.end() ? it->second.get() : nullptr;
}

const WindowState* HeadlessBackend::FindWindowState(WindowId window) const {
  auto it = windows_.find(window);
  return it != windows_.end() ? it->second.get() : nullptr;
}

const WindowState* HeadlessBackend::FindWindowByTemplate(int templateId) const {
  const WindowState* found = nullptr;
  for (const auto& [id, w] : windows_) {
    if (w->templateId == templateId) found = w.get();
  }
  return found;
}

const ControlState* HeadlessBackend::FindControl(int templateId, int id) const {
  const WindowState* w = FindWindowByTemplate(templateId);
  if (w == nullptr) return nullptr;
  for (const ControlState& c : w->controls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

CDialog* HeadlessBackend::ActiveDialog() const {
  for (auto it = frames_.rbegin(); it != frames_.rend(); ++it) {
    if ((*it)->kind == FrameKind::Dialog) {
      const WindowState* w = FindWindowState((*it)->window);
      return w != nullptr ? w->dialog : nullptr;
    }
  }
  return nullptr;
}

std::vector<WindowId> HeadlessBackend::Windows() const {
  std::vector<WindowId> ids;
  for (const auto& [id, w] : windows_) ids.push_back(id);
  return ids;
}

std::vector<std::uintptr_t> HeadlessBackend::TimerIds(WindowId window) const {
  std::vector<std::uintptr_t> ids;
  for (const Timer& t : timers_) {
    if (t.window == window) ids.push_back(t.id);
  }
  return ids;
}

const Menu* HeadlessBackend::TrackedMenu() const {
  for (auto it = frames_.rbegin(); it != frames_.rend(); ++it) {
    if ((*it)->kind == FrameKind::Menu) return &menus_[(*it)->record].menu;
  }
  return nullptr;
}

void HeadlessBackend::SetMinimized(WindowId window, bool minimized) {
  if (WindowState* w = Window(window)) w->minimized = minimized;
}

ControlState* HeadlessBackend::Control(WindowId window, int id) {
  WindowState* w = Window(window);
  if (w == nullptr || id == -1) return nullptr;
  for (ControlState& c : w->controls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

ControlState* HeadlessBackend::List(WindowId window, int id) {
  ControlState* c = Control(window, id);
  return c != nullptr && c->kind == ControlKind::ListView ? c : nullptr;
}

WindowId HeadlessBackend::CreateDialogWindow(CDialog& dialog, const DialogTemplate& tpl) {
  auto w = std::make_unique<WindowState>();
  w->id = nextWindow_++;
  w->dialog = &dialog;
  w->templateId = tpl.id;
  w->style = tpl.style;
  w->exStyle = tpl.exStyle;
  w->caption = tpl.caption;
  const Pixels client = ToPixels(DialogUnits{0, 0, tpl.cx, tpl.cy});
  w->clientSize = Size{client.cx, client.cy};
  for (const ControlTemplate& t : tpl.controls) {
    w->controls.push_back(MakeControl(t.id, t.kind, t.style, t.text, DialogUnits{t.x, t.y, t.cx, t.cy}));
  }
  const WindowId id = w->id;
  windows_.emplace(id, std::move(w));
  return id;
}

void HeadlessBackend::RunModalLoop(WindowId window) {
  WindowState* w = Window(window);
  if (w == nullptr) return;
  w->shown = !w->hidden;
  frames_.push_back(std::make_unique<Frame>());
  Frame& frame = *frames_.back();
  frame.kind = FrameKind::Dialog;
  frame.window = window;
  if (modalStartHandler_) modalStartHandler_(*w->dialog);
  RunFrame(frame);
  frames_.pop_back();
}

void HeadlessBackend::EndModalLoop(WindowId window) {
  // The window goes out of sight at once, even while a loop started later still runs above its own.
  if (WindowState* w = Window(window)) w->shown = false;
  for (auto& frame : frames_) {
    if (frame->kind == FrameKind::Dialog && frame->window == window) frame->done = true;
  }
}

void HeadlessBackend::DestroyDialogWindow(WindowId window) {
  WindowState* w = Window(window);
  if (w == nullptr) return;
  CDialog* dialog = w->dialog;
  dialog->Dispatch(WM_DESTROY, 0, 0);
  dialog->Dispatch(WM_NCDESTROY, 0, 0);
  timers_.erase(std::remove_if(timers_.begin(), timers_.end(), [window](const Timer& t) { return t.window == window; }),
                timers_.end());
  posted_.erase(
      std::remove_if(posted_.begin(), posted_.end(), [window](const Posted& p) { return p.window == window; }),
      posted_.end());
  windows_.erase(window);
}

bool HeadlessBackend::PostToWindow(WindowId window, unsigned message, WParam wParam, LParam lParam) {
  if (Window(window) == nullptr) return false;
  posted_.push_back(Posted{window, message, wParam, lParam});
  return true;
}

void HeadlessBackend::SetWindowIcon(WindowId window, const Icon& icon, bool big) {
  if (WindowState* w = Window(window)) (big ? w->bigIcon : w->smallIcon) = icon;
}

std::uint32_t HeadlessBackend::WindowStyleEx(WindowId window) {
  WindowState* w = Window(window);
  return w != nullptr ? w->exStyle : 0u;
}

void HeadlessBackend::SetWindowStyleEx(WindowId window, std::uint32_t exStyle) {
  if (WindowState* w = Window(window)) w->exStyle = exStyle;
}

void HeadlessBackend::HideWindow(WindowId window) {
  if (WindowState* w = Window(window)) {
    w->hidden = true;
    w->shown = false;
  }
}

bool HeadlessBackend::SetForeground(WindowId window) {
  if (Window(window) == nullptr) return false;
  foreground_.push_back(window);
  return true;
}

bool HeadlessBackend::BringToFront(WindowId window) {
  WindowState* w = Window(window);
  if (w == nullptr) return false;
  w->minimized = false;
  foreground_.push_back(window);
  return true;
}

bool HeadlessBackend::IsMinimized(WindowId window) {
  WindowState* w = Window(window);
  return w != nullptr && w->minimized;
}

bool HeadlessBackend::AddControls(WindowId window, const ControlBlock& block) {
  WindowState* w = Window(window);
  if (w == nullptr) return false;
  const ControlBlockPlan plan = PlanControlBlock(block, w->clientSize, screen_, kScrollBarPixels, ToPixels);
  const Pixels area = ToPixels(block.area);
  const DialogTemplate* tpl = w->dialog->Template();
  for (ControlState& c : w->controls) {
    const ControlTemplate* t = tpl != nullptr ? FindControlTemplate(*tpl, c.id) : nullptr;
    if (t != nullptr && c.id != -1 && InBlockArea(block, *t)) {
      c.inScrollingBlock = plan.scrolls;
      continue;
    }
    if (ContainsId(block.followRightEdge, c.id)) c.rect.x += plan.shift;
    if (ContainsId(block.stretchToRightEdge, c.id)) c.rect.cx += plan.shift;
    if (c.rect.y >= area.y + area.cy) c.rect.y += plan.extraHeight;
  }
  for (const AddedControl& a : block.blockControls) {
    ControlState& c = w->controls.emplace_back(MakeControl(a.id, a.kind, a.style, a.text, a.rect));
    c.inScrollingBlock = plan.scrolls;
  }
  for (const AddedControl& a : block.otherControls) {
    ControlState& c = w->controls.emplace_back(MakeControl(a.id, a.kind, a.style, a.text, a.rect));
    if (ContainsId(block.followRightEdge, c.id)) c.rect.x += plan.shift;
    if (ContainsId(block.stretchToRightEdge, c.id)) c.rect.cx += plan.shift;
    if (c.rect.y >= area.y + area.cy) c.rect.y += plan.extraHeight;
  }
  w->clientSize = plan.client;
  w->block = BlockState{true, plan.scrolls, plan.viewport, plan.contentWidth};
  return true;
}

Size HeadlessBackend::ClientSize(WindowId window) {
  WindowState* w = Window(window);
  return w != nullptr ? w->clientSize : Size{};
}

std::string HeadlessBackend::WindowCaption(WindowId window) {
  WindowState* w = Window(window);
  return w != nullptr ? w->caption : std::string();
}

void HeadlessBackend::SetWindowCaption(WindowId window, const std::string& text) {
  if (WindowState* w = Window(window)) w->caption = text;
}

void HeadlessBackend::AppendSystemMenu(WindowId window, unsigned id, const std::string& text) {
  if (WindowState* w = Window(window)) w->systemMenu.emplace_back(id, id == 0 ? std::string() : text);
}

bool HeadlessBackend::SetTimer(WindowId window, std::uintptr_t id, unsigned milliseconds) {
  if (Window(window) == nullptr) return false;
  const std::int64_t period = std::max<std::int64_t>(kMinTimerPeriod, milliseconds);
  for (Timer& t : timers_) {
    if (t.window == window && t.id == id) {
      t.period = period;
      t.due = NowMs() + period;
      return true;
    }
  }
  timers_.push_back(Timer{window, id, period, NowMs() + period});
  return true;
}

bool HeadlessBackend::KillTimer(WindowId window, std::uintptr_t id) {
  const auto before = timers_.size();
  timers_.erase(std::remove_if(timers_.begin(), timers_.end(),
                               [window, id](const Timer& t) { return t.window == window && t.id == id; }),
                timers_.end());
  return timers_.size() != before;
}

// ---------------------------------------------------------------------------------------------
// Controls

void HeadlessBackend::EnableControl(WindowId window, int id, bool enable) {
  if (ControlState* c = Control(window, id)) c->enabled = enable;
}

bool HeadlessBackend::IsControlEnabled(WindowId window, int id) {
  ControlState* c = Control(window, id);
  return c != nullptr && c->enabled;
}

std::string HeadlessBackend::ControlText(WindowId window, int id) {
  ControlState* c = Control(window, id);
  return c != nullptr ? c->text : std::string();
}

void HeadlessBackend::SetControlText(WindowId window, int id, const std::string& text) {
  ControlState* c = Control(window, id);
  if (c != nullptr && c->kind != ControlKind::ListView) c->text = text;
}

void HeadlessBackend::FocusControl(WindowId window, int id) {
  WindowState* w = Window(window);
  if (w != nullptr && Control(window, id) != nullptr) w->focusId = id;
}

int HeadlessBackend::ButtonCheck(WindowId window, int id) {
  ControlState* c = Control(window, id);
  return c != nullptr && c->kind == ControlKind::CheckBox ? c->check : BST_UNCHECKED;
}

void HeadlessBackend::SetButtonCheck(WindowId window, int id, int state) {
  ControlState* c = Control(window, id);
  if (c == nullptr || c->kind != ControlKind::CheckBox) return;
  if (state == BST_UNCHECKED || state == BST_CHECKED || state == BST_INDETERMINATE) c->check = state;
}

int HeadlessBackend::FullRows(const ControlState& list) {
  return std::max(1, (list.heightPixels - kListHeaderPixels) / kListRowPixels);
}

bool HeadlessBackend::HasPartialRow(const ControlState& list) {
  const int area = list.heightPixels - kListHeaderPixels;
  return area > kListRowPixels && area % kListRowPixels != 0;
}

int HeadlessBackend::LvInsertColumn(WindowId window, int id, int column, const std::string& heading, int format,
                                    int width) {
  ControlState* list = List(window, id);
  if (list == nullptr || column < 0) return -1;
  const int at = std::min(column, static_cast<int>(list->columns.size()));
  list->columns.insert(list->columns.begin() + at, ListColumn{heading, format, width});
  return at;
}

int HeadlessBackend::LvColumnCount(WindowId window, int id) {
  ControlState* list = List(window, id);
  return list != nullptr ? static_cast<int>(list->columns.size()) : 0;
}

int HeadlessBackend::LvInsertItem(WindowId window, int id, int row, const std::string& text, int image) {
  ControlState* list = List(window, id);
  if (list == nullptr || row < 0) return -1;
  const int at = std::min(row, static_cast<int>(list->rows.size()));
  ListRow r;
  r.texts.push_back(text);
  r.image = image;
  list->rows.insert(list->rows.begin() + at, std::move(r));
  return at;
}

bool HeadlessBackend::LvSetItemText(WindowId window, int id, int row, int subItem, const std::string& text) {
  ControlState* list = List(window, id);
  if (list == nullptr || row < 0 || row >= static_cast<int>(list->rows.size()) || subItem < 0) return false;
  // The control keeps texts only for the columns it has (column 0 always).
  if (subItem > 0 && subItem >= static_cast<int>(list->columns.size())) return false;
  ListRow& r = list->rows[static_cast<std::size_t>(row)];
  if (r.texts.size() <= static_cast<std::size_t>(subItem)) r.texts.resize(static_cast<std::size_t>(subItem) + 1);
  r.texts[static_cast<std::size_t>(subItem)] = text;
  return true;
}

std::string HeadlessBackend::LvItemText(WindowId window, int id, int row, int subItem) {
  ControlState* list = List(window, id);
  if (list == nullptr || row < 0 || row >= static_cast<int>(list->rows.size()) || subItem < 0) return {};
  const ListRow& r = list->rows[static_cast<std::size_t>(row)];
  return static_cast<std::size_t>(subItem) < r.texts.size() ? r.texts[static_cast<std::size_t>(subItem)]
                                                            : std::string();
}

int HeadlessBackend::LvItemImage(WindowId window, int id, int row) {
  ControlState* list = List(window, id);
  if (list == nullptr || row < 0 || row >= static_cast<int>(list->rows.size())) return -1;
  return list->rows[static_cast<std::size_t>(row)].image;
}

int HeadlessBackend::LvItemCount(WindowId window, int id) {
  ControlState* list = List(window, id);
  return list != nullptr ? static_cast<int>(list->rows.size()) : 0;
}

void HeadlessBackend::Notify(WindowId window, ListViewNotify& nm) {
  if (WindowState* w = Window(window)) {
    w->dialog->Dispatch(WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LParam>(&nm));
  }
}

void HeadlessBackend::ChangeRowState(WindowId window, ControlState& list, int row, unsigned state, unsigned mask) {
  const int id = list.id;
  mask &= (LVIS_SELECTED | LVIS_FOCUSED);
  // One row holds the focus, and a single-selection list one selected row: the others give it up
  // first, each with its own notification.
  const bool takesFocus = (mask & state & LVIS_FOCUSED) != 0;
  const bool takesSelection = (mask & state & LVIS_SELECTED) != 0 && (list.style & LVS_SINGLESEL) != 0;
  if (takesFocus || takesSelection) {
    const unsigned drop = (takesFocus ? LVIS_FOCUSED : 0u) | (takesSelection ? LVIS_SELECTED : 0u);
    for (int i = 0;; ++i) {
      ControlState* l = List(window, id);
      if (l == nullptr || i >= static_cast<int>(l->rows.size())) break;
      if (i != row && (l->rows[static_cast<std::size_t>(i)].state & drop) != 0) ChangeRowState(window, *l, i, 0, drop);
    }
  }
  ControlState* l = List(window, id);
  if (l == nullptr || row < 0 || row >= static_cast<int>(l->rows.size())) return;
  ListRow& r = l->rows[static_cast<std::size_t>(row)];
  const unsigned before = r.state;
  const unsigned after = (before & ~mask) | (state & mask);
  if (after == before) return;
  r.state = after;
  ListViewNotify nm;
  nm.hdr.hwndFrom = window;
  nm.hdr.idFrom = static_cast<std::uintptr_t>(id);
  nm.hdr.code = LVN_ITEMCHANGED;
  nm.iItem = row;
  nm.uOldState = before;
  nm.uNewState = after;
  nm.uChanged = LVIF_STATE;
  Notify(window, nm);
}

bool HeadlessBackend::LvSetItemState(WindowId window, int id, int row, unsigned state, unsigned mask) {
  ControlState* list = List(window, id);
  if (list == nullptr) return false;
  if (row == -1) {
    for (int i = 0;; ++i) {
      list = List(window, id);
      if (list == nullptr || i >= static_cast<int>(list->rows.size())) break;
      ChangeRowState(window, *list, i, state, mask);
    }
    return true;
  }
  if (row < 0 || row >= static_cast<int>(list->rows.size())) return false;
  ChangeRowState(window, *list, row, state, mask);
  return true;
}

unsigned HeadlessBackend::LvItemState(WindowId window, int id, int row, unsigned mask) {
  ControlState* list = List(window, id);
  if (list == nullptr || row < 0 || row >= static_cast<int>(list->rows.size())) return 0;
  return list->rows[static_cast<std::size_t>(row)].state & mask;
}

int HeadlessBackend::LvNextItem(WindowId window, int id, int start, unsigned flags) {
  ControlState* list = List(window, id);
  if (list == nullptr || start < -1) return -1;
  const unsigned want = flags & (LVNI_SELECTED | LVNI_FOCUSED);
  for (int i = start + 1; i < static_cast<int>(list->rows.size()); ++i) {
    unsigned have = 0;
    const unsigned s = list->rows[static_cast<std::size_t>(i)].state;
    if ((s & LVIS_SELECTED) != 0) have |= LVNI_SELECTED;
    if ((s & LVIS_FOCUSED) != 0) have |= LVNI_FOCUSED;
    if ((have & want) == want) return i;
  }
  return -1;
}

bool HeadlessBackend::LvDeleteAllItems(WindowId window, int id) {
  ControlState* list = List(window, id);
  if (list == nullptr) return false;
  list->rows.clear();
  list->topRow = 0;
  return true;
}

bool HeadlessBackend::LvEnsureVisible(WindowId window, int id, int row, bool partialOk) {
  ControlState* list = List(window, id);
  if (list == nullptr || row < 0 || row >= static_cast<int>(list->rows.size())) return false;
  const int full = FullRows(*list);
  if (row >= list->topRow && row < list->topRow + full) return true;
  if (partialOk && HasPartialRow(*list) && row == list->topRow + full) return true;
  list->topRow = row < list->topRow ? row : row - full + 1;
  return true;
}

bool HeadlessBackend::LvIsItemVisible(WindowId window, int id, int row) {
  ControlState* list = List(window, id);
  if (list == nullptr || row < 0 || row >= static_cast<int>(list->rows.size())) return false;
  const int full = FullRows(*list);
  if (row >= list->topRow && row < list->topRow + full) return true;
  return HasPartialRow(*list) && row == list->topRow + full;
}

void HeadlessBackend::LvSetExtendedStyle(WindowId window, int id, unsigned style) {
  if (ControlState* list = List(window, id)) list->listExStyle = style;
}

unsigned HeadlessBackend::LvExtendedStyle(WindowId window, int id) {
  ControlState* list = List(window, id);
  return list != nullptr ? list->listExStyle : 0u;
}

void HeadlessBackend::LvSetSmallImages(WindowId window, int id, const std::vector<Icon>& icons) {
  if (ControlState* list = List(window, id)) list->smallImages = icons;
}

// ---------------------------------------------------------------------------------------------
// Boxes, menus, the file dialog, the tray

int HeadlessBackend::ShowMessageBox(OwnerWindow owner, const std::string& text, const char* caption, unsigned type) {
  if (Quitting()) return SafeAnswer(type);
  MessageBoxRecord record;
  record.owner = owner;
  record.text = text;
  record.defaultCaption = caption == nullptr;
  // The system's own caption for a box that brings none.
  record.caption = caption != nullptr ? caption : res::Text(res::TextId::kErrorCaption);
  record.type = type;
  boxes_.push_back(record);
  const std::size_t index = boxes_.size() - 1;
  int answer = 0;
  if (boxHandler_) {
    answer = boxHandler_(boxes_[index]);
    if (!AnswerAllowed(type, answer)) {
      Error("message box handler gave an answer the box does not have: " + std::to_string(answer));
      answer = SafeAnswer(type);
    }
  } else {
    if (realTime_ && script_.empty()) std::printf("[message box] %s\n", text.c_str());
    frames_.push_back(std::make_unique<Frame>());
    Frame& frame = *frames_.back();
    frame.kind = FrameKind::MessageBox;
    frame.record = index;
    RunFrame(frame);
    answer = frame.answer;
    frames_.pop_back();
  }
  boxes_[index].answer = answer;
  return answer;
}

unsigned HeadlessBackend::TrackPopup(WindowId window, const Menu& popup, unsigned flags, int x, int y) {
  if (Window(window) == nullptr || Quitting()) return 0;
  MenuRecord record;
  record.owner = window;
  record.menu = popup;
  record.flags = flags;
  record.position = Point{x, y};
  menus_.push_back(std::move(record));
  const std::size_t index = menus_.size() - 1;
  frames_.push_back(std::make_unique<Frame>());
  Frame& frame = *frames_.back();
  frame.kind = FrameKind::Menu;
  frame.window = window;
  frame.record = index;
  RunFrame(frame);
  const unsigned chosen = frame.chosen;
  frames_.pop_back();
  menus_[index].chosen = chosen;
  return chosen;
}

bool HeadlessBackend::ShowFileOpen(WindowId owner, const FileOpenRequest& request, std::string& path) {
  if (Quitting()) return false;
  FileDialogRecord record;
  record.owner = owner;
  record.request = request;
  fileDialogs_.push_back(std::move(record));
  const std::size_t index = fileDialogs_.size() - 1;
  if (fileHandler_) {
    std::optional<std::string> answer = fileHandler_(request);
    fileDialogs_[index].accepted = answer.has_value();
    if (answer) fileDialogs_[index].path = *answer;
  } else {
    frames_.push_back(std::make_unique<Frame>());
    Frame& frame = *frames_.back();
    frame.kind = FrameKind::FileDialog;
    frame.window = owner;
    frame.record = index;
    RunFrame(frame);
    frames_.pop_back();
  }
  if (!fileDialogs_[index].accepted) return false;
  path = fileDialogs_[index].path;
  return true;
}

bool HeadlessBackend::ShellNotifyIcon(unsigned action, const TrayIconData& data) {
  TrayCall call;
  call.action = action;
  call.data = data;
  auto it = std::find_if(trayIcons_.begin(), trayIcons_.end(),
                         [&data](const TrayIconState& icon) { return icon.owner == data.hWnd && icon.id == data.uID; });
  switch (action) {
    case NIM_ADD:
      if (it == trayIcons_.end() && Window(data.hWnd) != nullptr) {
        TrayIconState icon;
        icon.owner = data.hWnd;
        icon.id = data.uID;
        if ((data.uFlags & NIF_MESSAGE) != 0) icon.callbackMessage = data.uCallbackMessage;
        if ((data.uFlags & NIF_ICON) != 0) icon.icon = data.hIcon;
        if ((data.uFlags & NIF_TIP) != 0) icon.tip = data.szTip;
        trayIcons_.push_back(std::move(icon));
        call.succeeded = true;
      }
      break;
    case NIM_MODIFY:
      if (it != trayIcons_.end()) {
        if ((data.uFlags & NIF_MESSAGE) != 0) it->callbackMessage = data.uCallbackMessage;
        if ((data.uFlags & NIF_ICON) != 0) it->icon = data.hIcon;
        if ((data.uFlags & NIF_TIP) != 0) it->tip = data.szTip;
        call.succeeded = true;
      }
      break;
    case NIM_DELETE:
      if (it != trayIcons_.end()) {
        trayIcons_.erase(it);
        call.succeeded = true;
      }
      break;
    default: break;
  }
  trayCalls_.push_back(std::move(call));
  return trayCalls_.back().succeeded;
}

void HeadlessBackend::DismissPopupMenus() {
  for (auto& frame : frames_) {
    if (frame->kind == FrameKind::Menu && !frame->done) {
      frame->chosen = 0;
      frame->done = true;
    }
  }
}

void HeadlessBackend::CancelTransientLoops() {
  for (auto& frame : frames_) {
    if (frame->kind != FrameKind::Dialog && !frame->done) Abandon(*frame);
  }
}

Icon RecordingShell::FileIcon(const std::string& path) {
  auto it = icons_.find(path);
  return it != icons_.end() ? it->second : Icon{};
}

}  // namespace framework::headless
