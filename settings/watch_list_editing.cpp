#include "settings/watch_list_editing.h"

#include <string>

#include "framework/defs.h"
#include "res/texts.h"

namespace {

bool Confirm(WatchListEditing& editing, const std::string& text) {
  return editing.boxes.ShowMessageBox(0, text, res::Text(res::TextId::kEditingCaption), MB_YESNO) == IDYES;
}

void Tell(WatchListEditing& editing, res::TextId text) {
  editing.boxes.ShowMessageBox(0, res::Text(text), res::Text(res::TextId::kEditingCaption), MB_OK);
}

// Saves the change; a change that did not reach the disk is told instead of `done` (if any).
void NotifyChanged(WatchListEditing& editing, const WatchListChange& change, const res::TextId* done) {
  std::string why;
  if (!editing.changed || editing.changed(change, why)) {
    if (done != nullptr) Tell(editing, *done);
    return;
  }
  editing.boxes.ShowMessageBox(0, res::Fill(res::TextId::kWatchListNotSaved, {why}),
                               res::Text(res::TextId::kEditingCaption), MB_OK | MB_ICONWARNING);
}

constexpr res::TextId kChanged = res::TextId::kWatchListChanged;
constexpr res::TextId kAdded = res::TextId::kWatchListAdded;

}  // namespace

bool AddOrUpdateWatchEntry(WatchListEditing& editing, const WatchEntry& candidate, const std::string& note) {
  const unsigned processors = editing.processorCount ? editing.processorCount() : 0;
  const WatchEntry proposed = candidate;  // the caller's entry may change while the box is open
  const int index = editing.list.FindWatchEntry(proposed.exePath.c_str());

  if (index >= 0) {
    const WatchEntry stored = editing.list.At(static_cast<std::size_t>(index));
    std::string text = res::Fill(res::TextId::kConfirmOverwrite, {stored.exePath});
    text += ProcessorLines(stored.affinityMask, processors);
    text += res::Text(res::TextId::kConfirmOverwriteWith);
    text += ProcessorLines(proposed.affinityMask, processors);
    text += note;
    if (!Confirm(editing, text)) return false;
    // Another command may have run while the box was open: overwrite the entry where it is now, and
    // leave the list alone when it is gone.
    const int now = editing.list.FindWatchEntry(proposed.exePath.c_str());
    if (now < 0) return false;
    editing.list.Replace(static_cast<std::size_t>(now), proposed);
    NotifyChanged(editing, WatchListChange{WatchListChange::Kind::kPut, proposed}, &kChanged);
    return true;
  }

  std::string text = res::Fill(res::TextId::kConfirmAdd, {proposed.exePath});
  text += ProcessorLines(proposed.affinityMask, processors);
  text += note;
  if (!Confirm(editing, text)) return false;
  // If the same path was added meanwhile, the list keeps one entry for it, with the confirmed mask.
  const int now = editing.list.FindWatchEntry(proposed.exePath.c_str());
  if (now >= 0) {
    editing.list.Replace(static_cast<std::size_t>(now), proposed);
  } else {
    editing.list.Append(proposed);
  }
  NotifyChanged(editing, WatchListChange{WatchListChange::Kind::kPut, proposed}, &kAdded);
  return true;
}

bool DeleteWatchEntry(int index, WatchListEditing& editing) {
  if (index < 0 || static_cast<std::size_t>(index) >= editing.list.Count()) return false;
  const std::string path = editing.list.At(static_cast<std::size_t>(index)).exePath;
  const std::string text = res::Fill(res::TextId::kConfirmDelete, {path});
  if (!Confirm(editing, text)) return false;

  // The list may have changed while the box was open: delete the entry the user saw, wherever it is
  // now, and nothing when it is gone.
  std::size_t target = editing.list.Count();
  if (static_cast<std::size_t>(index) < editing.list.Count() &&
      editing.list.At(static_cast<std::size_t>(index)).exePath == path) {
    target = static_cast<std::size_t>(index);
  } else {
    const int moved = editing.list.FindWatchEntry(path.c_str());
    if (moved >= 0) target = static_cast<std::size_t>(moved);
  }
  if (target >= editing.list.Count()) return false;
  editing.list.Remove(target);
  NotifyChanged(editing, WatchListChange{WatchListChange::Kind::kRemove, WatchEntry{path, 0}}, nullptr);
  return true;
}
