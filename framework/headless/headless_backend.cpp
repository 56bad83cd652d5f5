#include "framework/headless/headless_backend.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>

namespace framework::headless {
namespace {

std::atomic<int> g_wakeFd{-1};

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

}  // namespace

NoDisplayUser::NoDisplayUser() : start_(SteadyMs()) {}

void NoDisplayUser::LoopStarted(const Loop& loop) {
  if (loop.kind == LoopKind::MessageBox && loop.boxText != nullptr)
    std::printf("[message box] %s\n", loop.boxText->c_str());
}

std::int64_t NoDisplayUser::NowMs() const { return SteadyMs() - start_; }

HeadlessBackend::HeadlessBackend() : nobody_(std::make_unique<NoDisplayUser>()), user_(*nobody_) { OpenWakePipe(); }

HeadlessBackend::HeadlessBackend(IUser& user) : user_(user) { OpenWakePipe(); }

void HeadlessBackend::OpenWakePipe() {
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

// ---------------------------------------------------------------------------------------------
// Loops

Loop& HeadlessBackend::PushLoop(LoopKind kind, WindowId window) {
  loops_.push_back(std::make_unique<Loop>());
  Loop& loop = *loops_.back();
  loop.kind = kind;
  loop.window = window;
  return loop;
}

void HeadlessBackend::RunLoop(Loop& loop) {
  // A wait has just served the descriptors and the wake-up pipe: looking at them again after the
  // timers it fired would only repeat that once a second, and what came meanwhile ends the next
  // wait at once.
  bool waited = false;
  while (!loop.done) {
    if (!waited) DrainAsync();
    waited = false;
    if (DeliverOnePosted()) continue;
    if (loop.done) break;
    if (user_.Act(loop)) continue;
    // Nobody is there to answer a box, a menu or a file dialog.
    if (loop.kind != LoopKind::Dialog) {
      Abandon(loop);
      break;
    }
    WaitRealTime();
    waited = true;
  }
}

void HeadlessBackend::Abandon(Loop& loop) {
  switch (loop.kind) {
    case LoopKind::Dialog:
      if (WindowState* w = Window(loop.window)) w->dialog->EndDialog(-1);
      break;
    case LoopKind::MessageBox: loop.answer = SafeMessageBoxAnswer(loop.boxType); break;
    case LoopKind::Menu: loop.chosen = 0; break;
    case LoopKind::FileDialog: break;
  }
  loop.done = true;
}

bool HeadlessBackend::DeliverOnePosted() {
  if (posted_.empty()) return false;
  const Posted p = posted_.front();
  posted_.pop_front();
  if (WindowState* w = Window(p.window)) w->dialog->Dispatch(p.message, p.wParam, p.lParam);
  return true;
}

bool HeadlessBackend::PollDescriptors(int timeoutMs) {
  std::vector<pollfd> fds;
  fds.reserve(readWatches_.size() + 1);
  for (const auto& watch : readWatches_) fds.push_back(pollfd{watch.first, POLLIN, 0});
  if (wakeRead_ >= 0) fds.push_back(pollfd{wakeRead_, POLLIN, 0});
  const int ready = poll(fds.data(), fds.size(), timeoutMs);
  // Interrupted by a signal, whose handler may have written to the pipe.
  if (ready < 0) return true;
  if (ready == 0) return false;
  const bool woken = wakeRead_ >= 0 && fds.back().revents != 0;
  // By index: an action may watch another descriptor.
  for (std::size_t i = 0; i < readWatches_.size() && i < fds.size(); ++i) {
    if ((fds[i].revents & POLLIN) != 0) readWatches_[i].second();
  }
  return woken;
}

void HeadlessBackend::WatchReadable(int fd, std::function<void()> readable) {
  if (fd >= 0 && readable) readWatches_.emplace_back(fd, std::move(readable));
}

void HeadlessBackend::DrainAsync() {
  // Between two messages the watched descriptors are looked at too, so a loop that is never idle
  // (a busy user, a flood of posts) still serves them.
  if (!readWatches_.empty() && !PollDescriptors(0)) return;
  ReadWakePipe();
}

void HeadlessBackend::ReadWakePipe() {
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
    // A late timer is not made up for: the system delivers one message however many periods passed.
    t.due = NowMs() + t.period;
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
    if (PollDescriptors(static_cast<int>(timeout))) ReadWakePipe();
  } else {
    if (timeout > 0) usleep(static_cast<useconds_t>(timeout * 1000));
    DrainAsync();
  }
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
  Loop& loop = PushLoop(LoopKind::Dialog, window);
  user_.LoopStarted(loop);
  RunLoop(loop);
  loops_.pop_back();
}

void HeadlessBackend::EndModalLoop(WindowId window) {
  // The window goes out of sight at once, even while a loop started later still runs above its own.
  if (WindowState* w = Window(window)) w->shown = false;
  for (auto& loop : loops_) {
    if (loop->kind == LoopKind::Dialog && loop->window == window) loop->done = true;
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

bool HeadlessBackend::SetForeground(WindowId window) { return Window(window) != nullptr; }

bool HeadlessBackend::BringToFront(WindowId window) {
  WindowState* w = Window(window);
  if (w == nullptr) return false;
  w->minimized = false;
  return true;
}

bool HeadlessBackend::IsMinimized(WindowId window) {
  WindowState* w = Window(window);
  return w != nullptr && w->minimized;
}

bool HeadlessBackend::AddControls(WindowId window, const ControlBlock& block) {
  WindowState* w = Window(window);
  if (w == nullptr) return false;
  const ControlBlockPlan plan = PlanControlBlock(block, w->clientSize, user_.ScreenSize(), kScrollBarPixels, ToPixels);
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
// Boxes, menus, the file dialog, the tray

int HeadlessBackend::ShowMessageBox(OwnerWindow owner, const std::string& text, const char*, unsigned type) {
  if (Quitting()) return SafeMessageBoxAnswer(type);
  Loop& loop = PushLoop(LoopKind::MessageBox, owner);
  loop.boxText = &text;
  loop.boxType = type;
  user_.LoopStarted(loop);
  RunLoop(loop);
  const int answer = loop.answer;
  loops_.pop_back();
  return answer;
}

unsigned HeadlessBackend::TrackPopup(WindowId window, const Menu& popup, unsigned, int, int) {
  if (Window(window) == nullptr || Quitting()) return 0;
  Loop& loop = PushLoop(LoopKind::Menu, window);
  loop.menu = &popup;
  user_.LoopStarted(loop);
  RunLoop(loop);
  const unsigned chosen = loop.chosen;
  loops_.pop_back();
  return chosen;
}

bool HeadlessBackend::ShowFileOpen(WindowId owner, const FileOpenRequest& request, std::string& path) {
  if (Quitting()) return false;
  Loop& loop = PushLoop(LoopKind::FileDialog, owner);
  loop.request = &request;
  user_.LoopStarted(loop);
  RunLoop(loop);
  const bool accepted = loop.accepted;
  if (accepted) path = loop.path;
  loops_.pop_back();
  return accepted;
}

bool HeadlessBackend::ShellNotifyIcon(unsigned action, const TrayIconData& data) {
  bool succeeded = false;
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
        succeeded = true;
      }
      break;
    case NIM_MODIFY:
      if (it != trayIcons_.end()) {
        if ((data.uFlags & NIF_MESSAGE) != 0) it->callbackMessage = data.uCallbackMessage;
        if ((data.uFlags & NIF_ICON) != 0) it->icon = data.hIcon;
        if ((data.uFlags & NIF_TIP) != 0) it->tip = data.szTip;
        succeeded = true;
      }
      break;
    case NIM_DELETE:
      if (it != trayIcons_.end()) {
        trayIcons_.erase(it);
        succeeded = true;
      }
      break;
    default: break;
  }
  return succeeded;
}

void HeadlessBackend::DismissPopupMenus() {
  for (auto& loop : loops_) {
    if (loop->kind == LoopKind::Menu && !loop->done) {
      loop->chosen = 0;
      loop->done = true;
    }
  }
}

void HeadlessBackend::CancelTransientLoops() {
  for (auto& loop : loops_) {
    if (loop->kind != LoopKind::Dialog && !loop->done) Abandon(*loop);
  }
}

}  // namespace framework::headless
