#include "framework/dialog.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "framework/backend.h"
#include "framework/resource_provider.h"
#include "framework/resource_types.h"

namespace framework {
namespace {

CDialog* g_mainWindow = nullptr;
bool g_quitting = false;
// Dialogs whose modal run is going on, outermost first, and the dialogs handling a message now,
// innermost last.
std::vector<CDialog*> g_running;
std::vector<CDialog*> g_dispatching;

WindowId WindowOf(CDialog* dialog) {
  return dialog != nullptr && dialog->HasWindow() && !dialog->IsEnding() ? dialog->GetSafeHwnd() : kNoWindowId;
}

std::string& AppNameStorage() {
  static std::string name;
  return name;
}

}  // namespace

CDialog::CDialog(int templateId) : templateId_(templateId) {}

CDialog::~CDialog() {
  if (g_mainWindow == this) g_mainWindow = nullptr;
  std::erase(g_running, this);
  std::erase(g_dispatching, this);
}

const DialogTemplate* CDialog::Template() const { return Resources().FindDialogTemplate(templateId_); }

const MessageMap* CDialog::GetThisMessageMap() {
  static constexpr MessageEntry kEntries[] = {
      MapCommand<&CDialog::OnOkCommand>(IDOK, BN_CLICKED),
      MapCommand<&CDialog::OnCancelCommand>(IDCANCEL, BN_CLICKED),
  };
  static constexpr MessageMap kMap{nullptr, kEntries};
  return &kMap;
}

int CDialog::DoModal() {
  if (HasWindow() || g_quitting) return -1;
  const DialogTemplate* tpl = Template();
  if (tpl == nullptr) return -1;
  ending_ = false;
  result_ = -1;
  owner_ = this != g_mainWindow ? DefaultOwner() : kNoWindowId;
  const WindowId window = Backend().CreateDialogWindow(*this, *tpl);
  if (window == kNoWindowId) return -1;
  window_ = window;
  g_running.push_back(this);
  Dispatch(WM_INITDIALOG, 0, 0);
  if (!ending_) Backend().RunModalLoop(window);
  Backend().DestroyDialogWindow(window);
  std::erase(g_running, this);
  window_ = kNoWindowId;
  owner_ = kNoWindowId;
  added_.clear();
  ending_ = false;
  return result_;
}

bool CDialog::AddControls(const ControlBlock& block) {
  if (!HasWindow()) return false;
  for (const auto* controls : {&block.blockControls, &block.otherControls}) {
    for (const AddedControl& c : *controls) {
      if (c.id == -1 || HasControl(c.id)) return false;  // every added control is addressed by a new id
    }
  }
  if (!Backend().AddControls(window_, block)) return false;
  for (const auto* controls : {&block.blockControls, &block.otherControls}) {
    for (const AddedControl& c : *controls) {
      added_.push_back(ControlTemplate{c.id, c.kind, "", c.rect.x, c.rect.y, c.rect.cx, c.rect.cy, c.style, 0, 0});
    }
  }
  return true;
}

const ControlTemplate* CDialog::FindControl(int id) const {
  if (id == -1) return nullptr;
  if (const DialogTemplate* tpl = Template()) {
    if (const ControlTemplate* c = FindControlTemplate(*tpl, id)) return c;
  }
  for (const ControlTemplate& c : added_) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

void CDialog::EndDialog(int result) {
  result_ = result;
  if (!HasWindow()) return;
  const bool wasEnding = ending_;
  ending_ = true;
  if (!wasEnding) Backend().EndModalLoop(window_);
}

LResult CDialog::Dispatch(unsigned message, WParam wParam, LParam lParam) {
  const unsigned savedMessage = currentMessage_;
  const WParam savedWParam = currentWParam_;
  const LParam savedLParam = currentLParam_;
  currentMessage_ = message;
  currentWParam_ = wParam;
  currentLParam_ = lParam;
  g_dispatching.push_back(this);

  LResult result = 0;
  if (message == WM_INITDIALOG) {
    result = OnInitDialog() ? 1 : 0;
  } else if (message == WM_COMMAND) {
    if (!OnCommand(wParam, lParam)) result = DefaultHandling(message, wParam, lParam);
  } else if (message == WM_NOTIFY) {
    LResult answer = 0;
    if (OnNotify(wParam, lParam, &answer)) {
      result = answer;
    } else {
      result = DefaultHandling(message, wParam, lParam);
    }
  } else if (const MessageEntry* entry = FindMessageEntry(GetMessageMap(), message, wParam, lParam)) {
    entry->invoke(*this, wParam, lParam, result);
  } else {
    result = DefaultHandling(message, wParam, lParam);
  }

  // Handlers may have run nested loops that ended other dialogs; this one is the last pushed.
  if (auto it = std::find(g_dispatching.rbegin(), g_dispatching.rend(), this); it != g_dispatching.rend()) {
    g_dispatching.erase(std::next(it).base());
  }
  currentMessage_ = savedMessage;
  currentWParam_ = savedWParam;
  currentLParam_ = savedLParam;
  return result;
}

bool CDialog::OnInitDialog() {
  DoDataExchange();
  return true;
}

bool CDialog::OnCommand(WParam wParam, LParam lParam) {
  const MessageEntry* entry = FindMessageEntry(GetMessageMap(), WM_COMMAND, wParam, lParam);
  if (entry == nullptr) return false;
  LResult ignored = 0;
  entry->invoke(*this, wParam, lParam, ignored);
  return true;
}

bool CDialog::OnNotify(WParam wParam, LParam lParam, LResult* result) {
  if (lParam == 0) return false;
  const MessageEntry* entry = FindMessageEntry(GetMessageMap(), WM_NOTIFY, wParam, lParam);
  if (entry == nullptr) return false;
  LResult answer = 0;
  entry->invoke(*this, wParam, lParam, answer);
  if (result != nullptr) *result = answer;
  return true;
}

LResult CDialog::Default() { return DefaultHandling(currentMessage_, currentWParam_, currentLParam_); }

LResult CDialog::DefaultHandling(unsigned message, WParam wParam, LParam) {
  switch (message) {
    case WM_CLOSE:
      // The close box acts as the Cancel button, unless the dialog has already chosen its result.
      if (HasWindow() && !ending_) Dispatch(WM_COMMAND, MakeWParam(IDCANCEL, BN_CLICKED), 0);
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0u) == SC_CLOSE) Dispatch(WM_CLOSE, 0, 0);
      return 0;
    default: return 0;
  }
}

bool CDialog::PostToSelf(unsigned message, WParam wParam, LParam lParam) {
  return HasWindow() && Backend().PostToWindow(window_, message, wParam, lParam);
}

void CDialog::SetIcon(const Icon& icon, bool big) {
  if (HasWindow()) Backend().SetWindowIcon(window_, icon, big);
}

void CDialog::ModifyStyleEx(std::uint32_t remove, std::uint32_t add) {
  if (!HasWindow()) return;
  const std::uint32_t before = Backend().WindowStyleEx(window_);
  const std::uint32_t after = (before & ~remove) | add;
  if (after != before) Backend().SetWindowStyleEx(window_, after);
}

std::uint32_t CDialog::StyleEx() const { return HasWindow() ? Backend().WindowStyleEx(window_) : 0u; }

void CDialog::HideWindow() {
  if (HasWindow()) Backend().HideWindow(window_);
}

bool CDialog::SetForeground() { return HasWindow() && Backend().SetForeground(window_); }

bool CDialog::BringToFront() { return HasWindow() && Backend().BringToFront(window_); }

bool CDialog::SetTimer(std::uintptr_t id, unsigned milliseconds) {
  return HasWindow() && Backend().SetTimer(window_, id, milliseconds);
}

bool CDialog::KillTimer(std::uintptr_t id) { return HasWindow() && Backend().KillTimer(window_, id); }

Size CDialog::ClientSize() const { return HasWindow() ? Backend().ClientSize(window_) : Size{}; }

bool CDialog::IsMinimized() const { return HasWindow() && Backend().IsMinimized(window_); }

std::string CDialog::Caption() const { return HasWindow() ? Backend().WindowCaption(window_) : std::string(); }

void CDialog::SetCaption(const std::string& text) {
  if (HasWindow()) Backend().SetWindowCaption(window_, text);
}

void CDialog::AppendSystemMenuSeparator() {
  if (HasWindow()) Backend().AppendSystemMenu(window_, 0, std::string());
}

void CDialog::AppendSystemMenuItem(unsigned id, const std::string& text) {
  if (HasWindow() && id != 0) Backend().AppendSystemMenu(window_, id, text);
}

void CDialog::TrackPopup(const Menu& popup, unsigned flags, int x, int y) {
  if (!HasWindow() || g_quitting) return;
  const WindowId window = window_;
  const unsigned chosen = Backend().TrackPopup(window, popup, flags, x, y);
  // The choice arrives like any other command, after the tracking loop has returned.
  if (chosen != 0 && HasWindow() && window_ == window) {
    Backend().PostToWindow(window, WM_COMMAND, MakeWParam(chosen, 0), 0);
  }
}

int CDialog::ShowMessageBox(const std::string& text, const char* caption, unsigned type) {
  return Backend().ShowMessageBox(window_, text, caption, type);
}

void SetMainWindow(CDialog* dialog) { g_mainWindow = dialog; }

WindowId DefaultOwner() {
  for (auto it = g_dispatching.rbegin(); it != g_dispatching.rend(); ++it) {
    if (const WindowId window = WindowOf(*it)) return window;
  }
  return WindowOf(g_mainWindow);
}

void BeginQuit() {
  if (g_quitting) return;
  g_quitting = true;
  // Innermost first, each as its own Cancel would end it; their loops return as the stack unwinds.
  const std::vector<CDialog*> running = g_running;
  for (auto it = running.rbegin(); it != running.rend(); ++it) {
    if (*it != g_mainWindow && std::find(g_running.begin(), g_running.end(), *it) != g_running.end() &&
        (*it)->HasWindow() && !(*it)->IsEnding()) {
      (*it)->EndDialog(IDCANCEL);
    }
  }
  Backend().CancelTransientLoops();
}

bool Quitting() { return g_quitting; }

void EndQuit() { g_quitting = false; }
CDialog* MainWindow() { return g_mainWindow; }

void SetApplicationName(const std::string& name) { AppNameStorage() = name; }
const std::string& ApplicationName() { return AppNameStorage(); }

std::string LoadStringResource(int id) {
  const char* text = Resources().FindString(id);
  return text != nullptr ? std::string(text) : std::string();
}

int NextAutoCheckState(int state, bool threeState) {
  if (threeState) {
    if (state == BST_UNCHECKED) return BST_CHECKED;
    if (state == BST_CHECKED) return BST_INDETERMINATE;
    return BST_UNCHECKED;
  }
  return state == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
}

}  // namespace framework
