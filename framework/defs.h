#pragma once
// Basic types and the system's constants for messages, notifications, styles and states. The
// dialogs are written with the Windows names; on Windows the system headers define them first and
// the guarded blocks below step aside, elsewhere these definitions carry the same values.
#include <cstdint>

#include "framework/message_box.h"

namespace framework {

// Message parameters and results, wide enough for a pointer as on Windows.
using WParam = std::uintptr_t;
using LParam = std::intptr_t;
using LResult = std::intptr_t;
// A window made by the backend; 0 = none. The same values as platform::WindowHandle.
using WindowId = std::uintptr_t;
inline constexpr WindowId kNoWindowId = 0;

struct Point {
  int x = 0;
  int y = 0;
};

struct Size {
  int cx = 0;
  int cy = 0;
};

// The low and high 16 bits of a message parameter, and the reverse.
constexpr unsigned LowWord(WParam value) { return static_cast<unsigned>(value & 0xFFFFu); }
constexpr unsigned HighWord(WParam value) { return static_cast<unsigned>((value >> 16) & 0xFFFFu); }
constexpr WParam MakeWParam(unsigned low, unsigned high) {
  return static_cast<WParam>((low & 0xFFFFu) | ((high & 0xFFFFu) << 16));
}

// The header every WM_NOTIFY carries; lParam points to it (or to a record that starts with it).
struct NotifyHeader {
  WindowId hwndFrom = kNoWindowId;
  std::uintptr_t idFrom = 0;
  unsigned code = 0;
};

// LVN_ITEMCHANGED and NM_RCLICK of a list view.
struct ListViewNotify {
  NotifyHeader hdr;
  int iItem = -1;
  int iSubItem = 0;
  unsigned uNewState = 0;
  unsigned uOldState = 0;
  unsigned uChanged = 0;
  Point ptAction;
};

}  // namespace framework

// ---- window messages -----------------------------------------------------------------------
#ifndef WM_NULL
#define WM_NULL 0x0000u
#define WM_DESTROY 0x0002u
#define WM_PAINT 0x000Fu
#define WM_CLOSE 0x0010u
#define WM_QUERYDRAGICON 0x0037u
#define WM_NOTIFY 0x004Eu
#define WM_NCDESTROY 0x0082u
#define WM_INITDIALOG 0x0110u
#define WM_COMMAND 0x0111u
#define WM_SYSCOMMAND 0x0112u
#define WM_TIMER 0x0113u
#define WM_MOUSEMOVE 0x0200u
#define WM_LBUTTONDOWN 0x0201u
#define WM_LBUTTONUP 0x0202u
#define WM_LBUTTONDBLCLK 0x0203u
#define WM_RBUTTONDOWN 0x0204u
#define WM_RBUTTONUP 0x0205u
#define WM_RBUTTONDBLCLK 0x0206u
#define WM_MBUTTONDOWN 0x0207u
#define WM_MBUTTONUP 0x0208u
#define WM_USER 0x0400u
#define WM_APP 0x8000u
#endif

// The desktop session is ending: asked first, then told (wParam TRUE when it really ends).
#ifndef WM_QUERYENDSESSION
#define WM_QUERYENDSESSION 0x0011u
#define WM_ENDSESSION 0x0016u
#endif

#ifndef SC_CLOSE
#define SC_MINIMIZE 0xF020u
#define SC_CLOSE 0xF060u
#endif

// ---- control notifications -----------------------------------------------------------------
#ifndef BN_CLICKED
#define BN_CLICKED 0u
#endif
#ifndef STN_CLICKED
#define STN_CLICKED 0u
#endif
#ifndef NM_RCLICK
#define NM_CLICK (0u - 2u)
#define NM_RCLICK (0u - 5u)
#endif
#ifndef LVN_ITEMCHANGED
#define LVN_ITEMCHANGED (0u - 101u)
#endif

// ---- button states and the remaining command ids -------------------------------------------
#ifndef BST_UNCHECKED
#define BST_UNCHECKED 0
#define BST_CHECKED 1
#define BST_INDETERMINATE 2
#endif
#ifndef IDABORT
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#endif
#ifndef MB_OKCANCEL
#define MB_OKCANCEL 0x00000001u
#define MB_YESNOCANCEL 0x00000003u
#define MB_ICONERROR 0x00000010u
#define MB_ICONWARNING 0x00000030u
#define MB_ICONINFORMATION 0x00000040u
#endif

// ---- window styles -------------------------------------------------------------------------
#ifndef WS_POPUP
#define WS_OVERLAPPED 0x00000000u
#define WS_POPUP 0x80000000u
#define WS_CHILD 0x40000000u
#define WS_VISIBLE 0x10000000u
#define WS_DISABLED 0x08000000u
#define WS_CAPTION 0x00C00000u
#define WS_BORDER 0x00800000u
#define WS_SYSMENU 0x00080000u
#define WS_GROUP 0x00020000u
#define WS_MINIMIZEBOX 0x00020000u
#define WS_TABSTOP 0x00010000u
#define WS_EX_TOPMOST 0x00000008u
#define WS_EX_TOOLWINDOW 0x00000080u
#define WS_EX_APPWINDOW 0x00040000u
#endif
#ifndef DS_MODALFRAME
#define DS_SETFONT 0x40u
#define DS_MODALFRAME 0x80u
#define DS_FIXEDSYS 0x0008u
#define DS_SHELLFONT (DS_SETFONT | DS_FIXEDSYS)
#endif
#ifndef BS_PUSHBUTTON
#define BS_PUSHBUTTON 0x0u
#define BS_DEFPUSHBUTTON 0x1u
#define BS_CHECKBOX 0x2u
#define BS_AUTOCHECKBOX 0x3u
#define BS_3STATE 0x5u
#define BS_AUTO3STATE 0x6u
#define BS_TYPEMASK 0xFu
#endif
#ifndef ES_AUTOHSCROLL
#define ES_LEFT 0x0u
#define ES_AUTOHSCROLL 0x80u
#define ES_READONLY 0x800u
#endif
#ifndef SS_LEFT
#define SS_LEFT 0x0u
#define SS_ICON 0x3u
#define SS_NOPREFIX 0x80u
#define SS_NOTIFY 0x100u
#define SS_SUNKEN 0x1000u
#endif

// ---- list views ----------------------------------------------------------------------------
#ifndef LVS_REPORT
#define LVS_REPORT 0x0001u
#define LVS_SINGLESEL 0x0004u
#define LVS_SHOWSELALWAYS 0x0008u
#define LVS_ALIGNLEFT 0x0800u
#define LVS_NOSORTHEADER 0x8000u
#endif
#ifndef LVS_EX_FULLROWSELECT
#define LVS_EX_FULLROWSELECT 0x00000020u
#endif
#ifndef LVCFMT_LEFT
#define LVCFMT_LEFT 0x0000
#define LVCFMT_RIGHT 0x0001
#define LVCFMT_CENTER 0x0002
#endif
#ifndef LVIS_FOCUSED
#define LVIS_FOCUSED 0x0001u
#define LVIS_SELECTED 0x0002u
#endif
#ifndef LVIF_STATE
#define LVIF_TEXT 0x0001u
#define LVIF_IMAGE 0x0002u
#define LVIF_STATE 0x0008u
#endif
#ifndef LVNI_SELECTED
#define LVNI_ALL 0x0000u
#define LVNI_FOCUSED 0x0001u
#define LVNI_SELECTED 0x0002u
#endif
#ifndef LVSIL_SMALL
#define LVSIL_NORMAL 0
#define LVSIL_SMALL 1
#endif
#ifndef ILC_MASK
#define ILC_MASK 0x0001u
#define ILC_COLORDDB 0x00FEu
#endif

// ---- menus ---------------------------------------------------------------------------------
#ifndef MF_STRING
#define MF_STRING 0x0000u
#define MF_BYCOMMAND 0x0000u
#define MF_ENABLED 0x0000u
#define MF_UNCHECKED 0x0000u
#define MF_GRAYED 0x0001u
#define MF_DISABLED 0x0002u
#define MF_CHECKED 0x0008u
#define MF_POPUP 0x0010u
#define MF_BYPOSITION 0x0400u
#define MF_SEPARATOR 0x0800u
#endif
#ifndef MFS_CHECKED
#define MFS_ENABLED 0x0000u
#define MFS_UNCHECKED 0x0000u
#define MFS_GRAYED 0x0003u
#define MFS_DISABLED MFS_GRAYED
#define MFS_CHECKED 0x0008u
#define MFS_DEFAULT 0x1000u
#endif
#ifndef TPM_RIGHTBUTTON
#define TPM_LEFTALIGN 0x0000u
#define TPM_RIGHTBUTTON 0x0002u
#define TPM_RETURNCMD 0x0100u
#endif

// ---- the file-open dialog ------------------------------------------------------------------
#ifndef OFN_HIDEREADONLY
#define OFN_READONLY 0x00000001u
#define OFN_OVERWRITEPROMPT 0x00000002u
#define OFN_HIDEREADONLY 0x00000004u
#define OFN_NOCHANGEDIR 0x00000008u
#define OFN_PATHMUSTEXIST 0x00000800u
#define OFN_FILEMUSTEXIST 0x00001000u
#define OFN_EXPLORER 0x00080000u
#endif

// ---- icons ---------------------------------------------------------------------------------
#ifndef ICON_SMALL
#define ICON_SMALL 0
#define ICON_BIG 1
#endif
