#include "framework/message_map.h"

namespace framework {

const MessageEntry* FindMessageEntry(const MessageMap* map, unsigned message, WParam wParam, LParam lParam) {
  unsigned id = 0;
  unsigned code = 0;
  EntryKind single = EntryKind::Message;
  EntryKind range = EntryKind::Message;
  if (message == WM_COMMAND) {
    id = LowWord(wParam);
    code = HighWord(wParam);
    single = EntryKind::Command;
    range = EntryKind::CommandRange;
  } else if (message == WM_NOTIFY) {
    const auto* header = reinterpret_cast<const NotifyHeader*>(lParam);
    if (header == nullptr) return nullptr;
    id = static_cast<unsigned>(header->idFrom);
    code = header->code;
    single = EntryKind::Notify;
    range = EntryKind::NotifyRange;
  }
  // A chain longer than this is a table that names itself as its own base.
  int depth = 0;
  for (; map != nullptr && depth < 64; map = map->base != nullptr ? map->base() : nullptr, ++depth) {
    for (const MessageEntry& e : map->entries) {
      if (single == EntryKind::Message) {
        if (e.kind == EntryKind::Message && e.message == message) return &e;
        continue;
      }
      if (e.kind != single && e.kind != range) continue;
      if (e.message != code) continue;
      if (id >= e.firstId && id <= e.lastId) return &e;
    }
  }
  return nullptr;
}

}  // namespace framework
