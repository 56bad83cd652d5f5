// The system headers come first: the framework's constants step aside for the system's own.
#include <windows.h>
// clang-format off
#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
// clang-format on

#include "framework/win32/win32_backend.h"

#include <algorithm>
#include <cstring>

#include "framework/dialog.h"
#include "framework/resource_types.h"
#include "framework/win32/dialog_template.h"

namespace framework::win32 {
namespace {

Win32Backend* g_backend = nullptr;

HWND AsWindow(WindowId window) { return reinterpret_cast<HWND>(window); }
WindowId AsId(HWND window) { return reinterpret_cast<WindowId>(window); }

// The window class of the scrolling part of a block of controls added at run time.
constexpr char kBlockClass[] = "MavrinControlBlock";

// A control of the dialog: its own child, or one in the scrolling part of its added block.
HWND Control(WindowId window, int id) {
  if (window == kNoWindowId) return nullptr;
  if (HWND c = GetDlgItem(AsWindow(window), id)) return c;
  HWND block = FindWindowExA(AsWindow(window), nullptr, kBlockClass, nullptr);
  return block != nullptr ? GetDlgItem(block, id) : nullptr;
}

// Scrolls the block's content sideways to position pos (clamped), moving its controls.
void ScrollBlockTo(HWND block, int pos) {
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_ALL;
  if (!GetScrollInfo(block, SB_HORZ, &info)) return;
  const int last = std::max(0, info.nMax - static_cast<int>(info.nPage) + 1);
  pos = std::clamp(pos, 0, last);
  if (pos == info.nPos) return;
  ScrollWindowEx(block, info.nPos - pos, 0, nullptr, nullptr, nullptr, nullptr,
                 SW_SCROLLCHILDREN | SW_INVALIDATE | SW_ERASE);
  info.fMask = SIF_POS;
  info.nPos = pos;
  SetScrollInfo(block, SB_HORZ, &info, TRUE);
}

// Brings a control of the block wholly into view, as keyboard focus moves to it.
void ScrollBlockToShow(HWND block, HWND control) {
  RECT inner{};
  RECT area{};
  GetWindowRect(control, &inner);
  MapWindowPoints(nullptr, block, reinterpret_cast<POINT*>(&inner), 2);
  GetClientRect(block, &area);
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_POS;
  GetScrollInfo(block, SB_HORZ, &info);
  if (inner.left < 0) {
    ScrollBlockTo(block, info.nPos + inner.left);
  } else if (inner.right > area.right) {
    ScrollBlockTo(block, info.nPos + static_cast<int>(inner.right - area.right));
  }
}

LRESULT CALLBACK BlockProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
      // The controls' messages are the dialog's, as if they were its own children.
      return SendMessageA(GetParent(hwnd), message, wParam, lParam);
    case WM_HSCROLL: {
      SCROLLINFO info{};
      info.cbSize = sizeof info;
      info.fMask = SIF_ALL;
      GetScrollInfo(hwnd, SB_HORZ, &info);
      const int line = std::max(1, static_cast<int>(info.nPage) / 8);
      int pos = info.nPos;
      switch (LOWORD(wParam)) {
        case SB_LINELEFT: pos -= line; break;
        case SB_LINERIGHT: pos += line; break;
        case SB_PAGELEFT: pos -= static_cast<int>(info.nPage); break;
        case SB_PAGERIGHT: pos += static_cast<int>(info.nPage); break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION: pos = info.nTrackPos; break;
        case SB_LEFT: pos = info.nMin; break;
        case SB_RIGHT: pos = info.nMax; break;
        default: break;
      }
      ScrollBlockTo(hwnd, pos);
      return 0;
    }
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL: {
      // It scrolls sideways only: the plain wheel turns it too.
      SCROLLINFO info{};
      info.cbSize = sizeof info;
      info.fMask = SIF_ALL;
      GetScrollInfo(hwnd, SB_HORZ, &info);
      const int delta = GET_WHEEL_DELTA_WPARAM(wParam);
      const int step = std::max(1, static_cast<int>(info.nPage) / 4) * delta / WHEEL_DELTA;
      ScrollBlockTo(hwnd, info.nPos + (message == WM_MOUSEWHEEL ? -step : step));
      return 0;
    }
    default: return DefWindowProcA(hwnd, message, wParam, lParam);
  }
}

void RegisterBlockClass() {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = BlockProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = kBlockClass;
  RegisterClassExA(&wc);
}

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

HMENU BuildMenu(const Menu& menu) {
  HMENU handle = CreatePopupMenu();
  if (handle == nullptr) return nullptr;
  for (int i = 0; i < menu.ItemCount(); ++i) {
    const MenuItem* item = menu.ItemAt(i);
    if (item->IsSeparator()) {
      AppendMenuA(handle, MF_SEPARATOR, 0, nullptr);
      continue;
    }
    UINT flags = MF_STRING;
    if (item->IsGrayed()) flags |= MF_GRAYED;
    if (item->IsChecked()) flags |= MF_CHECKED;
    if (item->IsPopup()) {
      HMENU sub = BuildMenu(*item->popup);
      AppendMenuA(handle, flags | MF_POPUP, reinterpret_cast<UINT_PTR>(sub), item->text.c_str());
    } else {
      AppendMenuA(handle, flags, item->id, item->text.c_str());
      if (item->IsDefault()) SetMenuDefaultItem(handle, item->id, FALSE);
    }
  }
  return handle;
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

bool Win32Backend::AddControls(WindowId window, const ControlBlock& block) {
  if (Record(window) == nullptr) return false;
  HWND dialog = AsWindow(window);
  const HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
  const auto toPixels = [dialog](const DialogUnits& r) {
    RECT rect{r.x, r.y, r.x + r.cx, r.y + r.cy};
    MapDialogRect(dialog, &rect);
    return Pixels{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
  };
  // The largest client area whose window still fits the work area.
  const DWORD style = static_cast<DWORD>(GetWindowLongPtrA(dialog, GWL_STYLE));
  const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrA(dialog, GWL_EXSTYLE));
  RECT frame{0, 0, 0, 0};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  RECT work{0, 0, 1920, 1080};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  const Size maxClient{(work.right - work.left) - (frame.right - frame.left),
                       (work.bottom - work.top) - (frame.bottom - frame.top)};
  const int scrollBarHeight = GetSystemMetrics(SM_CYHSCROLL);
  const ControlBlockPlan plan = PlanControlBlock(block, ClientSize(window), maxClient, scrollBarHeight, toPixels);
  const Pixels area = toPixels(block.area);

  // Where a control sits in the dialog's client area now.
  const auto placeOf = [dialog](HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
  };
  const auto follow = [&](HWND control, int id) {
    RECT r = placeOf(control);
    if (ContainsId(block.followRightEdge, id)) OffsetRect(&r, plan.shift, 0);
    if (ContainsId(block.stretchToRightEdge, id)) r.right += plan.shift;
    if (r.top >= area.y + area.cy) OffsetRect(&r, 0, plan.extraHeight);
    MoveWindow(control, r.left, r.top, r.right - r.left, r.bottom - r.top, FALSE);
  };

  // The template's controls of the block, the last of which the new ones follow in tab order.
  const DialogTemplate* tpl = Record(window)->dialog->Template();
  std::vector<HWND> inBlock;
  if (tpl != nullptr) {
    for (const ControlTemplate& c : tpl->controls) {
      HWND control = c.id != -1 ? GetDlgItem(dialog, c.id) : nullptr;
      if (control == nullptr) continue;
      if (InBlockArea(block, c)) {
        inBlock.push_back(control);
      } else {
        follow(control, c.id);
      }
    }
  }
  HWND holder = dialog;
  HWND previous = inBlock.empty() ? HWND_BOTTOM : inBlock.back();
  if (plan.scrolls) {
    holder = CreateWindowExA(WS_EX_CONTROLPARENT, kBlockClass, "", WS_CHILD | WS_VISIBLE | WS_HSCROLL | WS_CLIPCHILDREN,
                             plan.viewport.x, plan.viewport.y, plan.viewport.cx, plan.viewport.cy + scrollBarHeight,
                             dialog, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (holder == nullptr) return false;
    SetWindowPos(holder, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMin = 0;
    info.nMax = plan.contentWidth - 1;
    info.nPage = static_cast<UINT>(plan.viewport.cx);
    info.nPos = 0;
    SetScrollInfo(holder, SB_HORZ, &info, FALSE);
    for (HWND control : inBlock) {
      const RECT r = placeOf(control);
      SetParent(control, holder);
      MoveWindow(control, r.left - area.x, r.top - area.y, r.right - r.left, r.bottom - r.top, FALSE);
    }
    previous = HWND_BOTTOM;
    if (!inBlock.empty()) previous = inBlock.back();
  }

  const auto make = [&](const AddedControl& a, HWND parent, int dx, int dy) -> HWND {
    const char* cls = "BUTTON";
    if (a.kind == ControlKind::Edit) cls = "EDIT";
    if (a.kind == ControlKind::StaticText) cls = "STATIC";
    if (a.kind == ControlKind::ListView) cls = WC_LISTVIEWA;
    const Pixels r = toPixels(a.rect);
    HWND control =
        CreateWindowExA(0, cls, a.text.c_str(), a.style | WS_CHILD, r.x - dx, r.y - dy, r.cx, r.cy, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(a.id)), GetModuleHandleA(nullptr), nullptr);
    if (control == nullptr) return nullptr;
    if (font != nullptr) SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    // Tab order is the order of the children.
    SetWindowPos(control, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    previous = control;
    return control;
  };
  bool made = true;
  for (const AddedControl& a : block.blockControls) {
    made = make(a, holder, holder == dialog ? 0 : area.x, holder == dialog ? 0 : area.y) != nullptr && made;
  }
  if (holder != dialog) previous = holder;
  for (const AddedControl& a : block.otherControls) {
    if (HWND control = make(a, dialog, 0, 0)) {
      follow(control, a.id);
    } else {
      made = false;
    }
  }

  RECT outer{0, 0, plan.client.cx, plan.client.cy};
  AdjustWindowRectEx(&outer, style, FALSE, exStyle);
  SetWindowPos(dialog, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  return made;
}

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

void Win32Backend::EnableControl(WindowId window, int id, bool enable) {
  if (HWND c = Control(window, id)) EnableWindow(c, enable ? TRUE : FALSE);
}

bool Win32Backend::IsControlEnabled(WindowId window, int id) {
  HWND c = Control(window, id);
  return c != nullptr && IsWindowEnabled(c) != FALSE;
}

std::string Win32Backend::ControlText(WindowId window, int id) {
  HWND c = Control(window, id);
  return c != nullptr ? WindowCaption(AsId(c)) : std::string();
}

void Win32Backend::SetControlText(WindowId window, int id, const std::string& text) {
  if (HWND c = Control(window, id)) SetWindowTextA(c, text.c_str());
}

void Win32Backend::FocusControl(WindowId window, int id) {
  if (HWND c = Control(window, id)) SendMessageA(AsWindow(window), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(c), TRUE);
}

int Win32Backend::ButtonCheck(WindowId window, int id) {
  HWND c = Control(window, id);
  return c != nullptr ? static_cast<int>(SendMessageA(c, BM_GETCHECK, 0, 0)) : BST_UNCHECKED;
}

void Win32Backend::SetButtonCheck(WindowId window, int id, int state) {
  if (state != BST_UNCHECKED && state != BST_CHECKED && state != BST_INDETERMINATE) return;
  if (HWND c = Control(window, id)) SendMessageA(c, BM_SETCHECK, static_cast<WPARAM>(state), 0);
}

// ---- list views ----

int Win32Backend::LvInsertColumn(WindowId window, int id, int column, const std::string& heading, int format,
                                 int width) {
  HWND list = Control(window, id);
  if (list == nullptr || column < 0) return -1;
  LVCOLUMNA col{};
  col.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
  col.fmt = format;
  col.cx = width;
  col.pszText = const_cast<char*>(heading.c_str());
  col.iSubItem = column;
  return static_cast<int>(
      SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&col)));
}

int Win32Backend::LvColumnCount(WindowId window, int id) {
  HWND list = Control(window, id);
  if (list == nullptr) return 0;
  auto header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
  return header != nullptr ? static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
}

int Win32Backend::LvInsertItem(WindowId window, int id, int row, const std::string& text, int image) {
  HWND list = Control(window, id);
  if (list == nullptr || row < 0) return -1;
  LVITEMA item{};
  item.mask = LVIF_TEXT | LVIF_IMAGE;
  item.iItem = row;
  item.iImage = image >= 0 ? image : I_IMAGENONE;
  item.pszText = const_cast<char*>(text.c_str());
  return static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

bool Win32Backend::LvSetItemText(WindowId window, int id, int row, int subItem, const std::string& text) {
  HWND list = Control(window, id);
  if (list == nullptr || row < 0 || row >= LvItemCount(window, id) || subItem < 0) return false;
  if (subItem > 0 && subItem >= LvColumnCount(window, id)) return false;
  LVITEMA item{};
  item.iSubItem = subItem;
  item.pszText = const_cast<char*>(text.c_str());
  return SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)) != FALSE;
}

std::string Win32Backend::LvItemText(WindowId window, int id, int row, int subItem) {
  HWND list = Control(window, id);
  if (list == nullptr || row < 0 || row >= LvItemCount(window, id) || subItem < 0) return {};
  for (std::size_t size = 256; size <= (1u << 20); size *= 4) {
    std::string buffer(size, '\0');
    LVITEMA item{};
    item.iSubItem = subItem;
    item.pszText = buffer.data();
    item.cchTextMax = static_cast<int>(size);
    const auto n = static_cast<std::size_t>(
        SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
    if (n + 1 < size) {
      buffer.resize(strnlen(buffer.c_str(), n));
      return buffer;
    }
  }
  return {};
}

int Win32Backend::LvItemImage(WindowId window, int id, int row) {
  HWND list = Control(window, id);
  if (list == nullptr || row < 0) return -1;
  LVITEMA item{};
  item.mask = LVIF_IMAGE;
  item.iItem = row;
  if (!SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return -1;
  return item.iImage >= 0 ? item.iImage : -1;
}

int Win32Backend::LvItemCount(WindowId window, int id) {
  HWND list = Control(window, id);
  return list != nullptr ? static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)) : 0;
}

bool Win32Backend::LvSetItemState(WindowId window, int id, int row, unsigned state, unsigned mask) {
  HWND list = Control(window, id);
  if (list == nullptr) return false;
  auto setOne = [list, state, mask](int i) {
    LVITEMA item{};
    item.stateMask = mask;
    item.state = state;
    return SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item)) != FALSE;
  };
  if (row == -1) {
    // Row by row, so that each row whose state changes is reported on its own; the count is read
    // afresh each time, since a notification may change the list.
    for (int i = 0; i < LvItemCount(window, id); ++i) setOne(i);
    return true;
  }
  if (row < 0 || row >= LvItemCount(window, id)) return false;
  return setOne(row);
}

unsigned Win32Backend::LvItemState(WindowId window, int id, int row, unsigned mask) {
  HWND list = Control(window, id);
  if (list == nullptr || row < 0 || row >= LvItemCount(window, id)) return 0;
  return static_cast<unsigned>(SendMessageA(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), mask)) & mask;
}

int Win32Backend::LvNextItem(WindowId window, int id, int start, unsigned flags) {
  HWND list = Control(window, id);
  if (list == nullptr || start < -1) return -1;
  return static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(start), MAKELPARAM(flags, 0)));
}

bool Win32Backend::LvDeleteAllItems(WindowId window, int id) {
  HWND list = Control(window, id);
  return list != nullptr && SendMessageA(list, LVM_DELETEALLITEMS, 0, 0) != FALSE;
}

bool Win32Backend::LvEnsureVisible(WindowId window, int id, int row, bool partialOk) {
  HWND list = Control(window, id);
  if (list == nullptr || row < 0 || row >= LvItemCount(window, id)) return false;
  return SendMessageA(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), partialOk ? TRUE : FALSE) != FALSE;
}

bool Win32Backend::LvIsItemVisible(WindowId window, int id, int row) {
  HWND list = Control(window, id);
  if (list == nullptr || row < 0 || row >= LvItemCount(window, id)) return false;
  const int top = static_cast<int>(SendMessageA(list, LVM_GETTOPINDEX, 0, 0));
  const int perPage = static_cast<int>(SendMessageA(list, LVM_GETCOUNTPERPAGE, 0, 0));
  return row >= top && row < top + std::max(1, perPage);
}

void Win32Backend::LvSetExtendedStyle(WindowId window, int id, unsigned style) {
  if (HWND list = Control(window, id)) SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, static_cast<LPARAM>(style));
}

unsigned Win32Backend::LvExtendedStyle(WindowId window, int id) {
  HWND list = Control(window, id);
  return list != nullptr ? static_cast<unsigned>(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0)) : 0u;
}

void Win32Backend::LvSetSmallImages(WindowId window, int id, const std::vector<Icon>& icons) {
  HWND list = Control(window, id);
  if (list == nullptr) return;
  HIMAGELIST images = nullptr;
  if (!icons.empty()) {
    images = ImageList_Create(16, 16, ILC_COLORDDB | ILC_MASK, 1, 1);
    // Every icon takes its index, even one the system cannot draw, so rows keep their pictures.
    for (const Icon& icon : icons) ImageList_ReplaceIcon(images, -1, reinterpret_cast<HICON>(IconHandle(icon)));
  }
  auto previous =
      reinterpret_cast<HIMAGELIST>(SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images)));
  if (previous != nullptr && previous != images) ImageList_Destroy(previous);
}

// ---- menus, boxes, shell ----

unsigned Win32Backend::TrackPopup(WindowId window, const Menu& popup, unsigned flags, int x, int y) {
  if (Quitting()) return 0;
  HMENU menu = BuildMenu(popup);
  if (menu == nullptr) return 0;
  HWND owner = AsWindow(window);
  // A menu opened from the notification area closes on a click elsewhere only when its owner is
  // the foreground window.
  SetForegroundWindow(owner);
  const BOOL chosen = TrackPopupMenu(menu, flags | TPM_RETURNCMD | TPM_NONOTIFY, x, y, 0, owner, nullptr);
  PostMessageA(owner, WM_NULL, 0, 0);
  DestroyMenu(menu);
  return chosen > 0 ? static_cast<unsigned>(chosen) : 0u;
}

int Win32Backend::ShowMessageBox(OwnerWindow owner, const std::string& text, const char* caption, unsigned type) {
  if (Quitting()) return SafeMessageBoxAnswer(type);
  const int answer = MessageBoxA(reinterpret_cast<HWND>(owner), text.c_str(), caption, type);
  // A box closed because the program ends agreed to nothing, whichever button closed it.
  return Quitting() ? SafeMessageBoxAnswer(type) : answer;
}

bool Win32Backend::ShowFileOpen(WindowId owner, const FileOpenRequest& request, std::string& path) {
  std::string filter;
  for (const auto& [description, pattern] : request.filters) {
    filter += description;
    filter += '\0';
    filter += pattern;
    filter += '\0';
  }
  filter += '\0';
  std::vector<char> file(32768, '\0');
  std::strncpy(file.data(), request.initialName.c_str(), file.size() - 1);
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = AsWindow(owner);
  ofn.lpstrFilter = request.filters.empty() ? nullptr : filter.c_str();
  ofn.nFilterIndex = static_cast<DWORD>(std::max(1, request.filterIndex));
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrTitle = request.title.empty() ? nullptr : request.title.c_str();
  ofn.lpstrDefExt = request.defaultExtension.empty() ? nullptr : request.defaultExtension.c_str();
  ofn.Flags = request.flags | OFN_EXPLORER;
  if (Quitting() || !GetOpenFileNameA(&ofn) || Quitting()) return false;
  path.assign(file.data());
  return true;
}

bool Win32Backend::ShellNotifyIcon(unsigned action, const TrayIconData& data) {
  NOTIFYICONDATAA nid;
  std::memset(&nid, 0, sizeof nid);
  nid.cbSize = NOTIFYICONDATAA_V1_SIZE;  // the first form: a 64-byte tip, nothing later
  nid.hWnd = AsWindow(data.hWnd);
  nid.uID = data.uID;
  nid.uFlags = data.uFlags;
  nid.uCallbackMessage = data.uCallbackMessage;
  nid.hIcon = reinterpret_cast<HICON>(IconHandle(data.hIcon));
  const std::size_t tip = std::min<std::size_t>(data.szTip.size(), 63);
  std::memcpy(nid.szTip, data.szTip.data(), tip);
  nid.szTip[tip] = '\0';
  const bool ok = Shell_NotifyIconA(action, &nid) != FALSE;
  if (action == NIM_ADD) trayAddFailed_ = !ok;

  auto same = [&data](const TrayIconData& d) { return d.hWnd == data.hWnd && d.uID == data.uID; };
  auto known = std::find_if(trayIcons_.begin(), trayIcons_.end(), same);
  if (action == NIM_ADD && ok) {
    if (known != trayIcons_.end()) trayIcons_.erase(known);
    trayIcons_.push_back(data);
  } else if (action == NIM_MODIFY && known != trayIcons_.end()) {
    if (data.uFlags & NIF_MESSAGE) known->uCallbackMessage = data.uCallbackMessage;
    if (data.uFlags & NIF_ICON) known->hIcon = data.hIcon;
    if (data.uFlags & NIF_TIP) known->szTip = data.szTip;
  } else if (action == NIM_DELETE && known != trayIcons_.end()) {
    trayIcons_.erase(known);
  }
  return ok;
}

void Win32Backend::ReAddTrayIcons() {
  // The shell has restarted and forgotten every icon: add ours again as they last were.
  const std::vector<TrayIconData> icons = trayIcons_;
  for (TrayIconData data : icons) {
    data.uFlags = NIF_MESSAGE | NIF_ICON | (data.szTip.empty() ? 0u : NIF_TIP);
    ShellNotifyIcon(NIM_ADD, data);
  }
}

NotificationArea Win32Backend::NotificationAreaKind() {
  return trayAddFailed_ ? NotificationArea::kNone : NotificationArea::kMouse;
}

void Win32Backend::DismissPopupMenus() { EndMenu(); }

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

Point Win32Backend::CursorPos() {
  POINT p{};
  GetCursorPos(&p);
  return Point{p.x, p.y};
}

// ---- shell ----

bool Win32Shell::OpenAddress(const std::string& address) {
  const auto result =
      reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return result > 32;
}

Icon Win32Shell::FileIcon(const std::string& path) {
  SHFILEINFOA info{};
  if (!SHGetFileInfoA(path.c_str(), 0, &info, sizeof info, SHGFI_ICON | SHGFI_SMALLICON) || info.hIcon == nullptr) {
    return Icon{};
  }
  return Icon::FromHandle(reinterpret_cast<std::uintptr_t>(info.hIcon), 16, 16,
                          [](std::uintptr_t handle) { DestroyIcon(reinterpret_cast<HICON>(handle)); });
}

}  // namespace framework::win32
