#pragma once
// The watch list's file, shared with the user: someone may edit it while the program runs (without
// a display that is the only way to change the list). The store reads the file again when it holds
// something else than the store last read or wrote there, and a save first takes such an edit in
// and then makes only the changes the program has not saved yet, so neither side's change is lost.
#include <cstdio>
#include <string>
#include <vector>

#include "settings/profile_file.h"
#include "settings/watch_list.h"

// One change of the list, as a confirmed command made it.
struct WatchListChange {
  enum class Kind { kPut, kRemove };
  Kind kind = Kind::kPut;
  // kPut: the entry for its path; kRemove: the path that goes (the mask is not looked at).
  WatchEntry entry;

  // A put overwrites the first entry with the path or appends one; a removal removes the first
  // entry with the path, if there is one.
  void ApplyTo(WatchList& list) const;
};

class WatchListStore {
 public:
  // diag: the save's lines and one line for each reload; errors: what the user must hear of.
  WatchListStore(ProfileFile& file, std::FILE* diag, std::FILE* errors);

  // Start-up: the list becomes what the file holds; empty when the file is missing or cannot be
  // read, which is said on `errors` (and such a file is never written over).
  void Load(WatchList& list);
  // When the file holds something else than this store last read or wrote, the list becomes the
  // file's content with the changes not saved yet made again on top. A file that cannot be read
  // (said once) or that is gone leaves the list as it is. True when the list was replaced.
  bool ReloadIfChanged(WatchList& list);
  // Saves the list, `change` (if any) having been made on it just now. If the file changed
  // meanwhile, its content is taken in first and only the unsaved changes are made on it. False
  // when the file keeps its previous content; the changes then wait for the next save.
  bool Save(WatchList& list, const WatchListChange* change = nullptr);
  // Why the last save failed, in the system's words.
  std::string LastError() const { return file_.LastError(); }

 private:
  // Inside a batch that found `now`: takes the file's content in, as ReloadIfChanged describes.
  bool TakeIn(WatchList& list, const std::string& now);

  ProfileFile& file_;
  std::FILE* diag_;
  std::FILE* errors_;
  std::string seen_;  // the fingerprint of what was last read or written
  std::vector<WatchListChange> pending_;
  bool unreadableSaid_ = false;
  bool goneSaid_ = false;
};
