#pragma once
// DialogContext: what the dialogs need of the running program, and nothing more. The application
// object implements it; a dialog test can hand a dialog a small one of its own instead of starting
// the whole program.
#include <cstdio>
#include <string>

#include "engine/observation_cycle.h"
#include "engine/system_snapshot.h"
#include "platform/system.h"
#include "settings/watch_list.h"

class DialogContext {
 public:
  virtual ~DialogContext() = default;

  virtual platform::ISystem& System() = 0;
  // The processes and windows the lists show; the dialogs refresh it themselves.
  virtual SystemSnapshot& Snapshot() = 0;
  // The executables re-assigned by hand in this run, which observation leaves alone.
  virtual QuickChangedPaths& GetQuickChangedPaths() = 0;
  // Changed only through the two confirmed commands below, which save an accepted change at once.
  virtual const WatchList& GetWatchList() = 0;
  // Adds candidate, or overwrites the entry of its path, after asking; note is added to the question.
  virtual bool AddToWatchList(const WatchEntry& candidate, const std::string& note) = 0;
  // Deletes entry index after asking.
  virtual bool DeleteFromWatchList(int index) = 0;
  // Where the dialogs' diagnostic lines go; nullptr: nowhere.
  virtual std::FILE* Diagnostics() = 0;
  // One About box at a time: brings the shown one forward, or runs a new one.
  virtual void ShowAbout() = 0;
};
