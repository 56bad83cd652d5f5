#include "settings/watch_list.h"

#include <algorithm>
#include <atomic>
#include <functional>

#include "base/text.h"

std::size_t WatchList::HashOf(std::string_view path) { return std::hash<std::string_view>{}(path); }

void WatchList::Unindex(std::size_t index) {
  auto [first, last] = byPath_.equal_range(HashOf(entries_[index].exePath));
  for (auto it = first; it != last; ++it) {
    if (it->second == index) {
      byPath_.erase(it);
      return;
    }
  }
}

void WatchList::Changed() {
  // Counted over every list, so that no two states of any lists share a number.
  static std::atomic<std::uint64_t> counter{0};
  revision_ = ++counter;
}

void WatchList::Append(const WatchEntry& entry) {
  Changed();
  entries_.push_back(entry);
  byPath_.emplace(HashOf(entry.exePath), entries_.size() - 1);
}

bool WatchList::Replace(std::size_t index, const WatchEntry& entry) {
  if (index >= entries_.size()) return false;
  Changed();
  Unindex(index);
  entries_[index] = entry;
  byPath_.emplace(HashOf(entry.exePath), index);
  return true;
}

bool WatchList::Remove(std::size_t index) {
  if (index >= entries_.size()) return false;
  Changed();
  Unindex(index);
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
  for (auto& [hash, at] : byPath_) {
    if (at > index) --at;
  }
  return true;
}

void WatchList::Clear() {
  Changed();
  std::vector<WatchEntry>().swap(entries_);
  std::unordered_multimap<std::size_t, std::size_t>().swap(byPath_);
}

void WatchList::FindAll(std::string_view path, std::vector<std::size_t>& indexes) const {
  indexes.clear();
  auto [first, last] = byPath_.equal_range(HashOf(path));
  for (auto it = first; it != last; ++it) {
    if (entries_[it->second].exePath == path) indexes.push_back(it->second);
  }
  if (indexes.size() > 1) std::sort(indexes.begin(), indexes.end());
}

int WatchList::FindWatchEntry(const char* path) const {
  if (path == nullptr) return -1;
  std::string query(path);
  ToLowerAscii(query);
  std::vector<std::size_t> found;
  FindAll(query, found);
  return found.empty() ? -1 : static_cast<int>(found.front());
}
