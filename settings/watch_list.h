#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/processor_set.h"

// One executable to keep on chosen processors. exePath is always lower-cased (ToLowerAscii).
struct WatchEntry {
  std::string exePath;
  // The processors its processes may run on (a 32-bit mask converts to it).
  platform::ProcessorSet affinityMask;

  friend bool operator==(const WatchEntry&, const WatchEntry&) = default;
};

// The watch list: insertion-ordered, addressed by zero-based index, never sorted. Uniqueness of
// paths is the editing commands' duty; a hand-edited file may hold duplicates, lookups find the first.
// Entries are indexed by path, so a lookup costs the same with ten entries or a hundred thousand.
class WatchList {
 public:
  std::size_t Count() const { return entries_.size(); }
  bool Empty() const { return entries_.empty(); }
  // Read-only view of entry i; i must be below Count().
  const WatchEntry& At(std::size_t i) const { return entries_[i]; }
  const WatchEntry& operator[](std::size_t i) const { return entries_[i]; }

  void Append(const WatchEntry& entry);
  // Out-of-range indexes change nothing and report false: callers hold indexes that a nested
  // message loop may have made stale.
  bool Replace(std::size_t index, const WatchEntry& entry);
  // Moves every later entry one place forward, which costs a pass over the index.
  bool Remove(std::size_t index);
  void Clear();

  // Index of the first entry whose path equals the lower-cased query, or -1.
  int FindWatchEntry(const char* path) const;
  // The indexes, ascending, of every entry whose path is byte for byte `path` (no case rule
  // applied: process paths come lower-cased already). One hash lookup.
  void FindAll(std::string_view path, std::vector<std::size_t>& indexes) const;

  // Changes with every change of the list and only then (a copy has its original's): who follows
  // the list compares it instead of the entries.
  std::uint64_t Revision() const { return revision_; }

  std::vector<WatchEntry>::const_iterator begin() const { return entries_.begin(); }
  std::vector<WatchEntry>::const_iterator end() const { return entries_.end(); }

  friend bool operator==(const WatchList& a, const WatchList& b) { return a.entries_ == b.entries_; }

 private:
  static std::size_t HashOf(std::string_view path);
  void Unindex(std::size_t index);
  void Changed();

  std::vector<WatchEntry> entries_;
  // Hash of a path -> index of an entry with that path (equal hashes may stand for other paths).
  std::unordered_multimap<std::size_t, std::size_t> byPath_;
  std::uint64_t revision_ = 0;
};
