#include "settings/watch_list_store.h"

#include "settings/settings_file.h"

void WatchListChange::ApplyTo(WatchList& list) const {
  const int at = list.FindWatchEntry(entry.exePath.c_str());
  if (kind == Kind::kRemove) {
    if (at >= 0) list.Remove(static_cast<std::size_t>(at));
  } else if (at >= 0) {
    list.Replace(static_cast<std::size_t>(at), entry);
  } else {
    list.Append(entry);
  }
}

WatchListStore::WatchListStore(ProfileFile& file, std::FILE* diag, std::FILE* errors)
    : file_(file), diag_(diag), errors_(errors) {}

void WatchListStore::Load(WatchList& list) {
  const bool readable = file_.BeginBatch();
  ReadWatchList(list, file_, errors_);
  seen_ = file_.Fingerprint();
  file_.DiscardBatch();
  unreadableSaid_ = !readable;
  if (!readable && errors_ != nullptr) {
    std::fprintf(errors_,
                 "mavrin: cannot read %s (%s); starting with an empty watch list, and the file is not written over\n",
                 file_.Path().c_str(), file_.LastError().c_str());
    std::fflush(errors_);
  }
}

bool WatchListStore::TakeIn(WatchList& list, const std::string& now) {
  if (now.empty()) {
    if (!unreadableSaid_ && errors_ != nullptr) {
      std::fprintf(errors_, "mavrin: cannot read %s (%s); the watch list stays as it is\n", file_.Path().c_str(),
                   file_.LastError().c_str());
      std::fflush(errors_);
    }
    unreadableSaid_ = true;
    return false;  // seen_ stays: once it can be read, it is taken in
  }
  unreadableSaid_ = false;
  if (now == ProfileFile::kMissingFile) {
    // Nothing to take in: the next save writes the list there again.
    if (!goneSaid_ && diag_ != nullptr)
      std::fprintf(diag_, "%s is gone; the watch list stays as it is\n", file_.Path().c_str());
    goneSaid_ = true;
    return false;
  }
  goneSaid_ = false;
  WatchList fresh;
  ReadWatchList(fresh, file_, errors_);
  for (const WatchListChange& change : pending_) change.ApplyTo(fresh);
  list = std::move(fresh);
  seen_ = now;
  if (diag_ != nullptr) std::fprintf(diag_, "reloaded %s: %zu entries\n", file_.Path().c_str(), list.Count());
  return true;
}

bool WatchListStore::ReloadIfChanged(WatchList& list) {
  file_.BeginBatch();
  const std::string now = file_.Fingerprint();
  const bool replaced = now != seen_ && TakeIn(list, now);
  file_.DiscardBatch();
  return replaced;
}

bool WatchListStore::Save(WatchList& list, const WatchListChange* change) {
  if (change != nullptr) pending_.push_back(*change);
  file_.BeginBatch();
  const std::string now = file_.Fingerprint();
  if (now != seen_) TakeIn(list, now);
  if (!WriteWatchList(list, file_, diag_, errors_)) return false;
  seen_ = file_.Fingerprint();
  pending_.clear();
  goneSaid_ = false;
  return true;
}
