// The system headers come first: the framework's constants step aside for the system's own.
#include <windows.h>
// clang-format off
#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
// clang-format on

#include "framework/win32/win32_backend.h"
#include "framework/win32/win32_backend_private.h"

#include <algorithm>
#include <cstring>

#include "framework/dialog.h"
#include "framework/resource_types.h"
#include "framework/win32/dialog_template.h"

namespace framework::win32 {
namespace {

Win32Backend* g_backend = nullptr;

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    // The system's own initialisation message; the framework sends its WM_INITDIALOG itself once
    // the window exists, so only the dialog object is remembered here.
    SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    return TRUE;
  }
  if (g_backend == nullptr) return FALSE;
  bool handled = false;
  const std::intptr_t result = g_backend->HandleMessage(AsId(hwnd), message, wParam, lParam, handled);
  if (!handled) return FALSE;
  SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
  return TRUE;
}

constexpr char kWakeWindowClass[] = "MavrinWake";
constexpr UINT kWakeMessage = WM_APP;

LRESULT CALLBACK WakeWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kWakeMessage) return DefWindowProcA(hwnd, message, wParam, lParam);
  auto* actions = reinterpret_cast<std::vector<std::function<void()>>*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (actions != nullptr && wParam < actions->size() && (*actions)[wParam]) (*actions)[wParam]();
  return 0;
}

bool IsListView(HWND control) {
  char name[32] = {};
  GetClassNameA(control, name, sizeof name);
  return lstrcmpiA(name, WC_LISTVIEWA) == 0;
}

HICON MakeIcon(const IconImage& image) {
  const int w = image.width;
  const int h = image.height;
  BITMAPV5HEADER header{};
  header.bV5Size = sizeof header;
  header.bV5Width = w;
  header.bV5Height = -h;  // rows top first, as the pixels are
  header.bV5Planes = 1;
  header.bV5BitCount = 32;
  header.bV5Compression = BI_BITFIELDS;
  header.bV5RedMask = 0x00FF0000;
  header.bV5GreenMask = 0x0000FF00;
  header.bV5BlueMask = 0x000000FF;
  header.bV5AlphaMask = 0xFF000000;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP color = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
  ReleaseDC(nullptr, screen);
  if (color == nullptr || bits == nullptr) return nullptr;
  auto* out = static_cast<std::uint8_t*>(bits);
  // The mask: one bit per pixel, rows padded to 16 bits; set = transparent.
  const int maskStride = ((w + 15) / 16) * 2;
  std::vector<std::uint8_t> mask(static_cast<std::size_t>(maskStride) * static_cast<std::size_t>(h), 0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const std::size_t i =
          (static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)) * 4u;
      out[i + 0] = image.rgba[i + 2];
      out[i + 1] = image.rgba[i + 1];
      out[i + 2] = image.rgba[i + 0];
      out[i + 3] = image.rgba[i + 3];
      if (image.rgba[i + 3] == 0) {
        mask[static_cast<std::size_t>(y) * static_cast<std::size_t>(maskStride) + static_cast<std::size_t>(x / 8)] |=
            static_cast<std::uint8_t>(0x80u >> (x % 8));
      }
    }
  }
  HBITMAP monochrome = CreateBitmap(w, h, 1, 1, mask.data());
  ICONINFO info{};
  info.fIcon = TRUE;
  info.hbmColor = color;
  info.hbmMask = monochrome;
  HICON icon = CreateIconIndirect(&info);
  DeleteObject(color);
  if (monochrome != nullptr) DeleteObject(monochrome);
  return icon;
}

void CenterOnWorkArea(HWND hwnd) {
  RECT window{};
  RECT area{};
  if (!GetWindowRect(hwnd, &window) || !SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) return;
  const int w = window.right - window.left;
  const int h = window.bottom - window.top;
  const int x = area.left + std::max(0L, (area.right - area.left - w) / 2);
  const int y = area.top + std::max(0L, (area.bottom - area.top - h) / 2);
  SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

Win32Backend::Win32Backend() : taskbarCreated_(RegisterWindowMessageA("TaskbarCreated")) {
  g_backend = this;
  RegisterBlockClass();
}

Win32Backend::~Win32Backend() {
  for (auto& made : madeIcons_) DestroyIcon(reinterpret_cast<HICON>(made.second));
  if (HWND wake = static_cast<HWND>(wakeWindow_.exchange(nullptr))) DestroyWindow(wake);
  if (g_backend == this) g_backend = nullptr;
}

Win32Backend::WindowRecord* Win32Backend::Record(WindowId window) {
  auto it = windows_.find(window);
  return it != windows_.end() ? &it->second : nullptr;
}

WindowId Win32Backend::CreateDialogWindow(CDialog& dialog, const DialogTemplate& tpl) {
  const std::vector<std::uint16_t> words = BuildDialogTemplate(tpl);
  // Dialogs made without a parent belong to the dialog that opened them, else to the main window.
  HWND owner = AsWindow(dialog.ModalOwner());
  if (owner == nullptr) {
    if (CDialog* main = MainWindow(); main != nullptr && main != &dialog) owner = AsWindow(main->GetSafeHwnd());
  }
  HWND hwnd = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), reinterpret_cast<LPCDLGTEMPLATEA>(words.data()),
                                         owner, DialogProc, reinterpret_cast<LPARAM>(&dialog));
  if (hwnd == nullptr) return kNoWindowId;
  WindowRecord record;
  record.dialog = &dialog;
  record.templateStyle = tpl.style;
  windows_[AsId(hwnd)] = record;
  return AsId(hwnd);
}

void Win32Backend::RunModalLoop(WindowId window) {
  WindowRecord* record = Record(window);
  if (record == nullptr || record->ended) return;
  HWND hwnd = AsWindow(window);
  if (!record->hidden) {
    CenterOnWorkArea(hwnd);
    ShowWindow(hwnd, SW_SHOWNORMAL);
    SetForegroundWindow(hwnd);
  }
  MSG msg;
  for (;;) {
    record = Record(window);
    if (record == nullptr || record->ended) break;
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop outside ours
      break;
    }
    if (got == -1) break;
    // The keyboard interface (Tab, Enter, Escape, mnemonics) of whichever of our dialogs has it.
    HWND root = msg.hwnd != nullptr ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (root != nullptr && Record(AsId(root)) != nullptr && IsDialogMessageA(root, &msg)) {
      // A key that moved the focus into the scrolling part of a block brings the control into view.
      HWND focus = GetFocus();
      HWND block = focus != nullptr ? GetParent(focus) : nullptr;
      char name[32] = {};
      if (block != nullptr && GetClassNameA(block, name, sizeof name) > 0 && lstrcmpA(name, kBlockClass) == 0) {
        ScrollBlockToShow(block, focus);
      }
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

void Win32Backend::EndModalLoop(WindowId window) {
  WindowRecord* record = Record(window);
  if (record == nullptr) return;
  record->ended = true;
  // Out of sight at once, as EndDialog does, even while a loop started later still runs above ours.
  ShowWindow(AsWindow(window), SW_HIDE);
  PostMessageA(AsWindow(window), WM_NULL, 0, 0);  // wakes the loop if it waits
}

void Win32Backend::DestroyDialogWindow(WindowId window) {
  if (Record(window) == nullptr) return;
  // WM_DESTROY and WM_NCDESTROY reach the dialog through the window procedure.
  DestroyWindow(AsWindow(window));
  windows_.erase(window);
}

std::intptr_t Win32Backend::HandleMessage(std::uintptr_t hwnd, unsigned message, WParam wParam, LParam lParam,
                                          bool& handled) {
  handled = false;
  if (message == taskbarCreated_ && taskbarCreated_ != 0) {
    ReAddTrayIcons();
    handled = true;
    return 0;
  }
  auto* dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrA(AsWindow(hwnd), DWLP_USER));
  if (dialog == nullptr) return 0;
  if (routedRegistered_ != 0 && message == routedRegistered_) {
    handled = true;
    return dialog == MainWindow() ? dialog->Dispatch(routedMessage_, wParam, lParam) : 0;
  }
  // Only messages the framework has a meaning for go to the dialog; everything else keeps the
  // system's dialog handling (painting, focus, the window menu's own commands, ...).
  switch (message) {
    case WM_COMMAND:
    case WM_TIMER:
    case WM_CLOSE:
    case WM_QUERYENDSESSION:
    case WM_ENDSESSION: handled = true; return dialog->Dispatch(message, wParam, lParam);
    case WM_DESTROY: handled = true; return dialog->Dispatch(message, wParam, lParam);
    case WM_NCDESTROY: {
      handled = true;
      const LResult result = dialog->Dispatch(message, wParam, lParam);
      SetWindowLongPtrA(AsWindow(hwnd), DWLP_USER, 0);
      return result;
    }
    case WM_SYSCOMMAND:
      // The program's own window-menu items, and the close box, which the framework turns into
      // Cancel; moving, sizing and the rest stay the system's.
      if ((wParam & 0xFFF0u) == SC_CLOSE || wParam < 0xF000u) {
        handled = true;
        return dialog->Dispatch(message, wParam, lParam);
      }
      return 0;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header == nullptr) return 0;
      ListViewNotify nm;
      nm.hdr.hwndFrom = AsId(header->hwndFrom);
      nm.hdr.idFrom = header->idFrom;
      nm.hdr.code = header->code;
      if (IsListView(header->hwndFrom)) {
        const UINT code = header->code;
        if (code == LVN_ITEMCHANGED || code == NM_CLICK || code == NM_RCLICK || code == NM_DBLCLK ||
            code == NM_RDBLCLK) {
          const auto* lv = reinterpret_cast<const NMLISTVIEW*>(lParam);
          nm.iItem = lv->iItem;
          nm.iSubItem = lv->iSubItem;
          nm.uNewState = lv->uNewState;
          nm.uOldState = lv->uOldState;
          nm.uChanged = lv->uChanged;
          nm.ptAction = Point{lv->ptAction.x, lv->ptAction.y};
        }
        if (code == LVN_ITEMCHANGED) {
          // The framework hears of selection and focus changes only, one per row that changed.
          const unsigned changed = (nm.uOldState ^ nm.uNewState) & (LVIS_SELECTED | LVIS_FOCUSED);
          if ((nm.uChanged & LVIF_STATE) == 0 || changed == 0 || nm.iItem < 0) return 0;
          nm.uChanged = LVIF_STATE;
        }
      }
      handled = true;
      return dialog->Dispatch(message, wParam, reinterpret_cast<LParam>(&nm));
    }
    default:
      if (message >= WM_APP && message <= 0xBFFFu) {
        handled = true;
        return dialog->Dispatch(message, wParam, lParam);
      }
      return 0;
  }
}

bool Win32Backend::PostToWindow(WindowId window, unsigned message, WParam wParam, LParam lParam) {
  if (Record(window) == nullptr) return false;
  return PostMessageA(AsWindow(window), message, wParam, lParam) != FALSE;
}

std::uintptr_t Win32Backend::IconHandle(const Icon& icon) {
  if (icon.IsNull()) return 0;
  if (icon.Handle() != 0) return icon.Handle();
  for (const auto& made : madeIcons_) {
    if (made.first.SameAs(icon)) return made.second;
  }
  HICON handle = MakeIcon(*icon.Image());
  if (handle == nullptr) return 0;
  madeIcons_.emplace_back(icon, reinterpret_cast<std::uintptr_t>(handle));
  return reinterpret_cast<std::uintptr_t>(handle);
}

void Win32Backend::SetWindowIcon(WindowId window, const Icon& icon, bool big) {
  if (Record(window) == nullptr) return;
  SendMessageA(AsWindow(window), WM_SETICON, big ? ICON_BIG : ICON_SMALL, static_cast<LPARAM>(IconHandle(icon)));
}

std::uint32_t Win32Backend::WindowStyleEx(WindowId window) {
  return static_cast<std::uint32_t>(GetWindowLongPtrA(AsWindow(window), GWL_EXSTYLE));
}

void Win32Backend::SetWindowStyleEx(WindowId window, std::uint32_t exStyle) {
  SetWindowLongPtrA(AsWindow(window), GWL_EXSTYLE, static_cast<LONG_PTR>(exStyle));
  SetWindowPos(AsWindow(window), nullptr, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

void Win32Backend::HideWindow(WindowId window) {
  WindowRecord* record = Record(window);
  if (record == nullptr) return;
  record->hidden = true;
  SetWindowPos(AsWindow(window), HWND_TOP, 0, 0, 0, 0, SWP_HIDEWINDOW);
}

bool Win32Backend::SetForeground(WindowId window) { return SetForegroundWindow(AsWindow(window)) != FALSE; }

bool Win32Backend::BringToFront(WindowId window) {
  if (Record(window) == nullptr) return false;
  HWND hwnd = AsWindow(window);
  if (IsIconic(hwnd)) ShowWindow(hwnd, SW_RESTORE);
  return SetForegroundWindow(hwnd) != FALSE;
}

bool Win32Backend::IsMinimized(WindowId window) { return IsIconic(AsWindow(window)) != FALSE; }

Size Win32Backend::ClientSize(WindowId window) {
  RECT r{};
  if (!GetClientRect(AsWindow(window), &r)) return {};
  return Size{r.right - r.left, r.bottom - r.top};
}

std::string Win32Backend::WindowCaption(WindowId window) {
  const int n = GetWindowTextLengthA(AsWindow(window));
  if (n <= 0) return {};
  std::string text(static_cast<std::size_t>(n) + 1, '\0');
  const int got = GetWindowTextA(AsWindow(window), text.data(), n + 1);
  text.resize(static_cast<std::size_t>(std::max(0, got)));
  return text;
}

void Win32Backend::SetWindowCaption(WindowId window, const std::string& text) {
  SetWindowTextA(AsWindow(window), text.c_str());
}

void Win32Backend::AppendSystemMenu(WindowId window, unsigned id, const std::string& text) {
  HMENU menu = GetSystemMenu(AsWindow(window), FALSE);
  if (menu == nullptr) return;
  if (id == 0 && text.empty()) {
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  } else {
    AppendMenuA(menu, MF_STRING, id, text.c_str());
  }
}

bool Win32Backend::SetTimer(WindowId window, std::uintptr_t id, unsigned milliseconds) {
  if (Record(window) == nullptr) return false;
  SetLastError(ERROR_SUCCESS);
  const UINT_PTR made = ::SetTimer(AsWindow(window), id, milliseconds, nullptr);
  return made != 0 || GetLastError() == ERROR_SUCCESS;
}

bool Win32Backend::KillTimer(WindowId window, std::uintptr_t id) { return ::KillTimer(AsWindow(window), id) != FALSE; }

// ---- ending nested loops, waking the loop ----

void Win32Backend::CancelTransientLoops() {
  EndMenu();
  // The system's boxes and the file dialog are dialogs of this thread that are not ours: each is
  // asked to end with every answer a box may have; the first it knows ends it, and the program's
  // side reads the end of the program as the safe answer anyway.
  struct Search {
    Win32Backend* backend;
    std::vector<HWND> found;
  } search{this, {}};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND hwnd, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        char name[16] = {};
        GetClassNameA(hwnd, name, sizeof name);
        if (std::strcmp(name, "#32770") == 0 && s->backend->Record(AsId(hwnd)) == nullptr) s->found.push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  for (HWND hwnd : search.found) {
    for (WPARAM answer : {IDCANCEL, IDNO, IDOK}) PostMessageA(hwnd, WM_COMMAND, answer, 0);
  }
}

int Win32Backend::AddAsyncAction(std::function<void()> action) {
  if (asyncActions_.size() >= 256 || !action) return -1;
  if (wakeWindow_.load() == nullptr) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = WakeWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kWakeWindowClass;
    RegisterClassA(&windowClass);  // fails harmlessly when a second backend registered it first
    HWND wake =
        CreateWindowExA(0, kWakeWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance, nullptr);
    if (wake == nullptr) return -1;
    SetWindowLongPtrA(wake, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&asyncActions_));
    wakeWindow_.store(wake);
  }
  asyncActions_.push_back(std::move(action));
  asyncCount_.store(static_cast<int>(asyncActions_.size()));
  return static_cast<int>(asyncActions_.size()) - 1;
}

bool Win32Backend::TriggerAsync(int slot) {
  HWND wake = static_cast<HWND>(wakeWindow_.load());
  if (wake == nullptr || slot < 0 || slot >= asyncCount_.load()) return false;
  return PostMessageA(wake, kWakeMessage, static_cast<WPARAM>(slot), 0) != FALSE;
}

void Win32Backend::RouteRegisteredMessage(const char* name, unsigned message) {
  routedRegistered_ = RegisterWindowMessageA(name);
  routedMessage_ = message;
}

}  // namespace framework::win32
