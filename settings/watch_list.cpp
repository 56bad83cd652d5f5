#include "settings/watch_list.h"

#include <cstring>

#include "settings/text.h"

bool WatchList::Replace(std::size_t index, const WatchEntry& entry) {
  if (index >= entries_.size()) return false;
  entries_[index] = entry;
  return true;
}

bool WatchList::Remove(std::size_t index) {
  if (index >= entries_.size()) return false;
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
  return true;
}

void WatchList::Clear() {
  std::vector<WatchEntry>().swap(entries_);
}

int WatchList::FindWatchEntry(const char* path) const {
  if (path == nullptr) return -1;
  std::string query(path);
  ToLowerAscii(query);
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].exePath == query) return static_cast<int>(i);
  }
  return -1;
}
