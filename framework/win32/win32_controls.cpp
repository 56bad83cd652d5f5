// The system headers come first: the framework's constants step aside for the system's own.
#include <windows.h>
// clang-format off
#include <commctrl.h>
// clang-format on

#include "framework/win32/win32_backend.h"
#include "framework/win32/win32_backend_private.h"

#include <algorithm>
#include <string>
#include <vector>

#include "framework/dialog.h"

namespace framework::win32 {

// A control of the dialog: its own child, or one in the scrolling part of its added block.
HWND Control(WindowId window, int id) {
  if (window == kNoWindowId) return nullptr;
  if (HWND c = GetDlgItem(AsWindow(window), id)) return c;
  HWND block = FindWindowExA(AsWindow(window), nullptr, kBlockClass, nullptr);
  return block != nullptr ? GetDlgItem(block, id) : nullptr;
}

namespace {

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

}  // namespace

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

namespace {

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

}  // namespace

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

// ---- controls ----

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

}  // namespace framework::win32
