#include "tests/support/scripted_backend.h"

#include <algorithm>

#include "res/texts.h"

namespace framework::headless {
namespace {

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

const char* Describe(LoopKind kind) {
  switch (kind) {
    case LoopKind::Dialog: return "dialog";
    case LoopKind::MessageBox: return "message box";
    case LoopKind::Menu: return "menu";
    case LoopKind::FileDialog: return "file dialog";
  }
  return "loop";
}

}  // namespace

// The user is bound before it is made; the backend does not ask it anything while being built.
ScriptedBackend::ScriptedBackend() : HeadlessBackend(user_), user_(*this) {}

// ---------------------------------------------------------------------------------------------
// The user

void ScriptedBackend::User::LoopStarted(const Loop& loop) {
  ScriptedBackend& b = backend_;
  if (loop.kind == LoopKind::Dialog) {
    WindowState* w = b.Window(loop.window);
    if (b.modalStartHandler_ && w != nullptr) b.modalStartHandler_(*w->dialog);
  } else if (b.realTime_ && b.script_.empty()) {
    nobody_.LoopStarted(loop);
  }
}

bool ScriptedBackend::User::Act(Loop& loop) {
  ScriptedBackend& b = backend_;
  if (!b.script_.empty()) {
    Action action = std::move(b.script_.front());
    b.script_.pop_front();
    action(b);
    return true;
  }
  if (b.realTime_) return false;
  std::string text = std::string("stalled: a ") + Describe(loop.kind) + " waited with an empty script";
  if (loop.kind == LoopKind::Dialog) {
    if (const WindowState* w = b.FindWindowState(loop.window))
      text += " (template " + std::to_string(w->templateId) + ")";
  }
  b.Error(text);
  b.Abandon(loop);
  return true;
}

std::int64_t ScriptedBackend::User::NowMs() const { return backend_.realTime_ ? nobody_.NowMs() : virtualNow; }

// ---------------------------------------------------------------------------------------------
// Script

void ScriptedBackend::Then(Action action) { script_.push_back(std::move(action)); }

CDialog* ScriptedBackend::UserTarget(const char* action) {
  Loop* loop = Innermost();
  if (loop == nullptr) {
    Error(std::string(action) + ": no dialog is running");
    return nullptr;
  }
  if (loop->kind != LoopKind::Dialog) {
    Error(std::string(action) + ": a message box, menu or file dialog is open");
    return nullptr;
  }
  WindowState* w = Window(loop->window);
  return w != nullptr ? w->dialog : nullptr;
}

namespace {

// The list view a user can click, or nullptr.
const ControlState* ClickableList(const WindowState* w, int listId) {
  if (w == nullptr) return nullptr;
  for (const ControlState& c : w->controls) {
    if (c.id == listId && listId != -1) return c.kind == ControlKind::ListView && c.enabled ? &c : nullptr;
  }
  return nullptr;
}

// The rows of the list now; -1 when it is gone.
int RowCount(const WindowState* w, int listId) {
  if (w == nullptr || listId == -1) return -1;
  for (const ControlState& c : w->controls) {
    if (c.id == listId) return c.kind == ControlKind::ListView ? static_cast<int>(c.rows.size()) : -1;
  }
  return -1;
}

}  // namespace

void ScriptedBackend::Click(int id) {
  Then([id](ScriptedBackend& b) {
    CDialog* d = b.UserTarget("Click");
    if (d != nullptr && !DeliverClick(*d, id)) b.Error("Click: control " + std::to_string(id) + " took no click");
  });
}

void ScriptedBackend::PressEnter() {
  Then([](ScriptedBackend& b) {
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

void ScriptedBackend::PressEscape() {
  Then([](ScriptedBackend& b) {
    CDialog* d = b.UserTarget("Escape");
    if (d != nullptr && !DeliverEscapeKey(*d)) b.Error("Escape: nothing took the key");
  });
}

void ScriptedBackend::CloseBox() {
  Then([](ScriptedBackend& b) {
    CDialog* d = b.UserTarget("CloseBox");
    if (d != nullptr && !DeliverCloseBox(*d)) b.Error("CloseBox: the window has no close box");
  });
}

void ScriptedBackend::ChooseSystemMenu(unsigned id) {
  Then([id](ScriptedBackend& b) {
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

void ScriptedBackend::SelectRow(int listId, int row) {
  Then([listId, row](ScriptedBackend& b) {
    CDialog* d = b.UserTarget("SelectRow");
    if (d == nullptr) return;
    const WindowId window = d->GetSafeHwnd();
    const ControlState* list = ClickableList(b.FindWindowState(window), listId);
    if (list == nullptr || row < 0 || row >= static_cast<int>(list->rows.size())) {
      b.Error("SelectRow: no row " + std::to_string(row) + " in list " + std::to_string(listId));
      return;
    }
    const int count = static_cast<int>(list->rows.size());
    for (int i = 0; i < count; ++i) {
      if (i != row) b.LvSetItemState(window, listId, i, 0, LVIS_SELECTED);
      if (row >= RowCount(b.FindWindowState(window), listId)) return;
    }
    b.LvSetItemState(window, listId, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  });
}

void ScriptedBackend::ClickEmptyListArea(int listId) {
  Then([listId](ScriptedBackend& b) {
    CDialog* d = b.UserTarget("ClickEmptyListArea");
    if (d == nullptr) return;
    const WindowId window = d->GetSafeHwnd();
    if (ClickableList(b.FindWindowState(window), listId) == nullptr) {
      b.Error("ClickEmptyListArea: no list " + std::to_string(listId));
      return;
    }
    b.LvSetItemState(window, listId, -1, 0, LVIS_SELECTED);
  });
}

void ScriptedBackend::RightClickRow(int listId, int row) {
  Then([listId, row](ScriptedBackend& b) {
    CDialog* d = b.UserTarget("RightClickRow");
    if (d == nullptr) return;
    const WindowId window = d->GetSafeHwnd();
    const ControlState* list = ClickableList(b.FindWindowState(window), listId);
    if (list == nullptr || row < -1 || row >= static_cast<int>(list->rows.size())) {
      b.Error("RightClickRow: no row " + std::to_string(row) + " in list " + std::to_string(listId));
      return;
    }
    if (row >= 0) {
      // The right button selects the row under it first, as the left one would.
      const int count = static_cast<int>(list->rows.size());
      for (int i = 0; i < count; ++i) {
        if (i >= RowCount(b.FindWindowState(window), listId)) return;
        if (i != row) b.LvSetItemState(window, listId, i, 0, LVIS_SELECTED);
      }
      if (row >= RowCount(b.FindWindowState(window), listId)) return;
      b.LvSetItemState(window, listId, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    }
    ListViewNotify nm;
    nm.hdr.hwndFrom = window;
    nm.hdr.idFrom = static_cast<std::uintptr_t>(listId);
    nm.hdr.code = NM_RCLICK;
    nm.iItem = row;
    nm.ptAction = b.user_.cursor;
    if (WindowState* w = b.Window(window)) w->dialog->Dispatch(WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LParam>(&nm));
  });
}

void ScriptedBackend::ChooseMenu(unsigned id) {
  Then([id](ScriptedBackend& b) {
    Loop* loop = b.Innermost();
    if (loop == nullptr || loop->kind != LoopKind::Menu || b.trackedMenus_.empty()) {
      b.Error("ChooseMenu: no menu is open");
      return;
    }
    const MenuItem* item = b.menus_[b.trackedMenus_.back()].menu.FindItem(id);
    if (item == nullptr || item->IsGrayed() || item->IsSeparator()) {
      b.Error("ChooseMenu: no choosable item " + std::to_string(id));
      loop->chosen = 0;
    } else {
      loop->chosen = id;
    }
    loop->done = true;
  });
}

void ScriptedBackend::DismissMenu() {
  Then([](ScriptedBackend& b) {
    Loop* loop = b.Innermost();
    if (loop == nullptr || loop->kind != LoopKind::Menu) {
      b.Error("DismissMenu: no menu is open");
      return;
    }
    loop->chosen = 0;
    loop->done = true;
  });
}

void ScriptedBackend::AnswerMessageBox(int answer) {
  Then([answer](ScriptedBackend& b) {
    Loop* loop = b.Innermost();
    if (loop == nullptr || loop->kind != LoopKind::MessageBox) {
      b.Error("AnswerMessageBox: no message box is open");
      return;
    }
    if (AnswerAllowed(loop->boxType, answer)) {
      loop->answer = answer;
    } else {
      b.Error("AnswerMessageBox: the box has no button " + std::to_string(answer));
      loop->answer = SafeMessageBoxAnswer(loop->boxType);
    }
    loop->done = true;
  });
}

void ScriptedBackend::AnswerFileDialog(const std::string& path) {
  Then([path](ScriptedBackend& b) {
    Loop* loop = b.Innermost();
    if (loop == nullptr || loop->kind != LoopKind::FileDialog) {
      b.Error("AnswerFileDialog: no file dialog is open");
      return;
    }
    loop->accepted = true;
    loop->path = path;
    loop->done = true;
  });
}

void ScriptedBackend::CancelFileDialog() {
  Then([](ScriptedBackend& b) {
    Loop* loop = b.Innermost();
    if (loop == nullptr || loop->kind != LoopKind::FileDialog) {
      b.Error("CancelFileDialog: no file dialog is open");
      return;
    }
    loop->done = true;
  });
}

void ScriptedBackend::AdvanceTime(std::int64_t milliseconds) {
  Then([milliseconds](ScriptedBackend& b) {
    if (b.realTime_) {
      b.Error("AdvanceTime: the clock is real");
      return;
    }
    std::int64_t& now = b.user_.virtualNow;
    const std::int64_t target = now + std::max<std::int64_t>(0, milliseconds);
    // Step from one due time to the next, so that each timer sees the clock at its own due time.
    for (;;) {
      const auto& timers = b.Timers();
      auto next =
          std::min_element(timers.begin(), timers.end(), [](const Timer& x, const Timer& y) { return x.due < y.due; });
      if (next == timers.end() || next->due > target) break;
      const std::int64_t due = next->due;
      now = std::max(now, due);
      b.FireDueTimers(due);
    }
    now = target;
  });
}

void ScriptedBackend::FireTimer(std::uintptr_t id) {
  Then([id](ScriptedBackend& b) {
    std::vector<WindowId> owners;
    for (const Timer& t : b.Timers()) {
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

void ScriptedBackend::TrayNotify(unsigned mouseMessage, unsigned iconId) {
  Then([mouseMessage, iconId](ScriptedBackend& b) {
    for (const TrayIconState& icon : b.Icons()) {
      if (icon.id == iconId) {
        b.PostToWindow(icon.owner, icon.callbackMessage, iconId, static_cast<LParam>(mouseMessage));
        return;
      }
    }
    b.Error("TrayNotify: no icon " + std::to_string(iconId));
  });
}

// ---------------------------------------------------------------------------------------------
// What was shown

const WindowState* ScriptedBackend::FindWindowState(WindowId window) const {
  auto it = WindowStates().find(window);
  return it != WindowStates().end() ? it->second.get() : nullptr;
}

const WindowState* ScriptedBackend::FindWindowByTemplate(int templateId) const {
  const WindowState* found = nullptr;
  for (const auto& [id, w] : WindowStates()) {
    if (w->templateId == templateId) found = w.get();
  }
  return found;
}

const ControlState* ScriptedBackend::FindControl(int templateId, int id) const {
  const WindowState* w = FindWindowByTemplate(templateId);
  if (w == nullptr) return nullptr;
  for (const ControlState& c : w->controls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

CDialog* ScriptedBackend::ActiveDialog() const {
  for (auto it = Loops().rbegin(); it != Loops().rend(); ++it) {
    if ((*it)->kind == LoopKind::Dialog) {
      const WindowState* w = FindWindowState((*it)->window);
      return w != nullptr ? w->dialog : nullptr;
    }
  }
  return nullptr;
}

std::vector<WindowId> ScriptedBackend::Windows() const {
  std::vector<WindowId> ids;
  for (const auto& [id, w] : WindowStates()) ids.push_back(id);
  return ids;
}

std::vector<std::uintptr_t> ScriptedBackend::TimerIds(WindowId window) const {
  std::vector<std::uintptr_t> ids;
  for (const Timer& t : Timers()) {
    if (t.window == window) ids.push_back(t.id);
  }
  return ids;
}

const Menu* ScriptedBackend::TrackedMenu() const {
  return trackedMenus_.empty() ? nullptr : &menus_[trackedMenus_.back()].menu;
}

void ScriptedBackend::SetMinimized(WindowId window, bool minimized) {
  if (WindowState* w = Window(window)) w->minimized = minimized;
}

// ---------------------------------------------------------------------------------------------
// Recordings

int ScriptedBackend::ShowMessageBox(OwnerWindow owner, const std::string& text, const char* caption, unsigned type) {
  if (Quitting()) return SafeMessageBoxAnswer(type);
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
      answer = SafeMessageBoxAnswer(type);
    }
  } else {
    answer = HeadlessBackend::ShowMessageBox(owner, text, caption, type);
  }
  boxes_[index].answer = answer;
  return answer;
}

unsigned ScriptedBackend::TrackPopup(WindowId window, const Menu& popup, unsigned flags, int x, int y) {
  if (FindWindowState(window) == nullptr || Quitting()) return 0;
  MenuRecord record;
  record.owner = window;
  record.menu = popup;
  record.flags = flags;
  record.position = Point{x, y};
  menus_.push_back(std::move(record));
  const std::size_t index = menus_.size() - 1;
  trackedMenus_.push_back(index);
  const unsigned chosen = HeadlessBackend::TrackPopup(window, popup, flags, x, y);
  trackedMenus_.pop_back();
  menus_[index].chosen = chosen;
  return chosen;
}

bool ScriptedBackend::ShowFileOpen(WindowId owner, const FileOpenRequest& request, std::string& path) {
  if (Quitting()) return false;
  FileDialogRecord record;
  record.owner = owner;
  record.request = request;
  fileDialogs_.push_back(std::move(record));
  const std::size_t index = fileDialogs_.size() - 1;
  std::optional<std::string> answer;
  if (fileHandler_) {
    answer = fileHandler_(request);
  } else {
    std::string chosen;
    if (HeadlessBackend::ShowFileOpen(owner, request, chosen)) answer = std::move(chosen);
  }
  fileDialogs_[index].accepted = answer.has_value();
  if (!answer) return false;
  fileDialogs_[index].path = *answer;
  path = *answer;
  return true;
}

bool ScriptedBackend::ShellNotifyIcon(unsigned action, const TrayIconData& data) {
  const bool succeeded = HeadlessBackend::ShellNotifyIcon(action, data);
  trayCalls_.push_back(TrayCall{action, data, succeeded});
  return succeeded;
}

bool ScriptedBackend::SetForeground(WindowId window) {
  const bool done = HeadlessBackend::SetForeground(window);
  if (done) foreground_.push_back(window);
  return done;
}

bool ScriptedBackend::BringToFront(WindowId window) {
  const bool done = HeadlessBackend::BringToFront(window);
  if (done) foreground_.push_back(window);
  return done;
}

Icon RecordingShell::FileIcon(const std::string& path) {
  auto it = icons_.find(path);
  return it != icons_.end() ? it->second : Icon{};
}

}  // namespace framework::headless
