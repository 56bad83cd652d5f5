#pragma once
// Static message tables. Each dialog class lists, in one constant array, which window messages,
// commands and control notifications go to which of its member functions, and chains to its base
// class's table. Entries are made by the Map... templates below from a pointer to the handler; a
// handler whose signature does not fit its kind of entry is a compile error.
//
//   const framework::MessageMap* CMyDlg::GetThisMessageMap() {
//     static constexpr framework::MessageEntry kEntries[] = {
//         framework::MapTimer<&CMyDlg::OnTimer>(),
//         framework::MapMessage<&CMyDlg::OnTrayNotify>(WM_TRAY_NOTIFY),
//         framework::MapClicked<&CMyDlg::OnBnClickedNew>(IDC_BUTTON_NEW),
//         framework::MapCommandRange<&CMyDlg::OnCpuBox>(IDC_CPU0, IDC_CPU7),
//         framework::MapNotify<&CMyDlg::OnRClickList>(NM_RCLICK, IDC_PROCESS_LIST),
//     };
//     static constexpr framework::MessageMap kMap{&CDialog::GetThisMessageMap, kEntries};
//     return &kMap;
//   }
#include <cstdint>
#include <span>
#include <type_traits>

#include "framework/defs.h"

namespace framework {

class CDialog;

enum class EntryKind {
  Message,       // a window message
  Command,       // WM_COMMAND with one id and one notification code (menus and BN_CLICKED: 0)
  CommandRange,  // WM_COMMAND with an id in [firstId, lastId] and the notification code
  Notify,        // WM_NOTIFY with one control id and one notification code
  NotifyRange,   // WM_NOTIFY with a control id in [firstId, lastId]
};

struct MessageEntry {
  EntryKind kind = EntryKind::Message;
  unsigned message = 0;  // Message: the message; otherwise the notification code
  unsigned firstId = 0;
  unsigned lastId = 0;
  // Runs the handler. For Notify entries lParam points to the NotifyHeader; result receives the
  // handler's answer.
  void (*invoke)(CDialog& dialog, WParam wParam, LParam lParam, LResult& result) = nullptr;
};

struct MessageMap {
  const MessageMap* (*base)() = nullptr;  // the base class's table; nullptr ends the chain
  std::span<const MessageEntry> entries;
};

namespace map_detail {

template <class T>
struct Member;
template <class C, class R, class... A>
struct Member<R (C::*)(A...)> {
  using Class = C;
};

template <auto H>
using ClassOf = typename Member<decltype(H)>::Class;

template <auto H, class Signature>
inline constexpr bool kIs = std::is_same_v<decltype(H), Signature>;

template <auto H>
ClassOf<H>& Self(CDialog& dialog) {
  static_assert(std::is_base_of_v<CDialog, ClassOf<H>>, "message handlers are members of a dialog class");
  return static_cast<ClassOf<H>&>(dialog);
}

}  // namespace map_detail

// A window message. The handler is one of
//   LResult (D::*)(WParam, LParam)   -- its result is the message's result
//   void (D::*)(WParam, LParam)      -- result 0
//   void (D::*)()                    -- result 0
template <auto H>
constexpr MessageEntry MapMessage(unsigned message) {
  using D = map_detail::ClassOf<H>;
  static_assert(map_detail::kIs<H, LResult (D::*)(WParam, LParam)> || map_detail::kIs<H, void (D::*)(WParam, LParam)> ||
                    map_detail::kIs<H, void (D::*)()>,
                "MapMessage: the handler must be LResult(WParam, LParam), void(WParam, LParam) or void()");
  MessageEntry e;
  e.kind = EntryKind::Message;
  e.message = message;
  e.invoke = [](CDialog& dialog, WParam w, LParam l, LResult& result) {
    D& self = map_detail::Self<H>(dialog);
    if constexpr (map_detail::kIs<H, LResult (D::*)(WParam, LParam)>) {
      result = (self.*H)(w, l);
    } else if constexpr (map_detail::kIs<H, void (D::*)(WParam, LParam)>) {
      (self.*H)(w, l);
      result = 0;
    } else {
      (self.*H)();
      result = 0;
    }
  };
  return e;
}

// WM_TIMER; the handler receives the timer id: void (D::*)(std::uintptr_t).
template <auto H>
constexpr MessageEntry MapTimer() {
  using D = map_detail::ClassOf<H>;
  static_assert(map_detail::kIs<H, void (D::*)(std::uintptr_t)>, "MapTimer: the handler must be void(std::uintptr_t)");
  MessageEntry e;
  e.kind = EntryKind::Message;
  e.message = WM_TIMER;
  e.invoke = [](CDialog& dialog, WParam w, LParam, LResult& result) {
    (map_detail::Self<H>(dialog).*H)(static_cast<std::uintptr_t>(w));
    result = 0;
  };
  return e;
}

// WM_SYSCOMMAND; the handler receives the command id and lParam: void (D::*)(unsigned, LParam).
template <auto H>
constexpr MessageEntry MapSysCommand() {
  using D = map_detail::ClassOf<H>;
  static_assert(map_detail::kIs<H, void (D::*)(unsigned, LParam)>,
                "MapSysCommand: the handler must be void(unsigned, LParam)");
  MessageEntry e;
  e.kind = EntryKind::Message;
  e.message = WM_SYSCOMMAND;
  e.invoke = [](CDialog& dialog, WParam w, LParam l, LResult& result) {
    (map_detail::Self<H>(dialog).*H)(static_cast<unsigned>(w), l);
    result = 0;
  };
  return e;
}

// WM_COMMAND from a menu item or accelerator (notification code 0): void (D::*)().
template <auto H>
constexpr MessageEntry MapCommand(unsigned id, unsigned code = 0) {
  using D = map_detail::ClassOf<H>;
  static_assert(map_detail::kIs<H, void (D::*)()>, "MapCommand: the handler must be void()");
  MessageEntry e;
  e.kind = EntryKind::Command;
  e.message = code;
  e.firstId = id;
  e.lastId = id;
  e.invoke = [](CDialog& dialog, WParam, LParam, LResult& result) {
    (map_detail::Self<H>(dialog).*H)();
    result = 0;
  };
  return e;
}

// A control notification sent through WM_COMMAND (BN_CLICKED, STN_CLICKED, ...): void (D::*)().
template <auto H>
constexpr MessageEntry MapControl(unsigned code, unsigned id) {
  return MapCommand<H>(id, code);
}

// BN_CLICKED of a button, check box or clickable static: void (D::*)().
template <auto H>
constexpr MessageEntry MapClicked(unsigned id) {
  return MapCommand<H>(id, BN_CLICKED);
}

// WM_COMMAND with an id in [firstId, lastId]; the handler receives the id: void (D::*)(unsigned).
template <auto H>
constexpr MessageEntry MapCommandRange(unsigned firstId, unsigned lastId, unsigned code = 0) {
  using D = map_detail::ClassOf<H>;
  static_assert(map_detail::kIs<H, void (D::*)(unsigned)>, "MapCommandRange: the handler must be void(unsigned)");
  MessageEntry e;
  e.kind = EntryKind::CommandRange;
  e.message = code;
  e.firstId = firstId;
  e.lastId = lastId;
  e.invoke = [](CDialog& dialog, WParam w, LParam, LResult& result) {
    (map_detail::Self<H>(dialog).*H)(LowWord(w));
    result = 0;
  };
  return e;
}

// WM_NOTIFY with code from control id: void (D::*)(const NotifyHeader&, LResult&). result starts at 0.
template <auto H>
constexpr MessageEntry MapNotify(unsigned code, unsigned id) {
  using D = map_detail::ClassOf<H>;
  static_assert(map_detail::kIs<H, void (D::*)(const NotifyHeader&, LResult&)>,
                "MapNotify: the handler must be void(const NotifyHeader&, LResult&)");
  MessageEntry e;
  e.kind = EntryKind::Notify;
  e.message = code;
  e.firstId = id;
  e.lastId = id;
  e.invoke = [](CDialog& dialog, WParam, LParam l, LResult& result) {
    result = 0;
    (map_detail::Self<H>(dialog).*H)(*reinterpret_cast<const NotifyHeader*>(l), result);
  };
  return e;
}

// WM_NOTIFY with code from a control id in [firstId, lastId]; same handler shape as MapNotify.
template <auto H>
constexpr MessageEntry MapNotifyRange(unsigned code, unsigned firstId, unsigned lastId) {
  MessageEntry e = MapNotify<H>(code, firstId);
  e.kind = EntryKind::NotifyRange;
  e.lastId = lastId;
  return e;
}

// The first entry of map or its bases that takes the message, or nullptr. For WM_COMMAND and
// WM_NOTIFY the id and code come from the parameters (for WM_NOTIFY lParam must be valid).
const MessageEntry* FindMessageEntry(const MessageMap* map, unsigned message, WParam wParam, LParam lParam);

}  // namespace framework
