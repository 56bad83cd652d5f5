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
#include <string>
#include <vector>

#include "framework/dialog.h"

namespace framework::win32 {
namespace {

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

}  // namespace

// ---- menus, boxes, the file dialog, the notification area ----

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
