#pragma once
// The two confirmed commands that change the watch list: add-or-overwrite and delete. Both ask the
// user first, in message boxes without an owner window, captioned with the program's name in lower
// case as the confirmations have always been.
#include <functional>
#include <string>

#include "framework/message_box.h"
#include "platform/processor_set_text.h"
#include "settings/watch_list.h"
#include "settings/watch_list_store.h"

// What the commands need around the list.
struct WatchListEditing {
  WatchList& list;
  framework::IMessageBoxes& boxes;
  // The processor count the system reports, asked afresh at every use.
  std::function<unsigned()> processorCount;
  // Runs after every accepted change with what changed (the program saves the list there, so a
  // killed program loses nothing). False when the change could not be saved, `why` then says why
  // in the system's words. May be empty.
  std::function<bool(const WatchListChange& change, std::string& why)> changed;
};

// Puts candidate (exePath already lower-cased) on the list: asks to overwrite the entry with the
// same path, or to add it. note (may be empty) ends the question, for what the user should know
// about the candidate. True when the list was changed.
bool AddOrUpdateWatchEntry(WatchListEditing& editing, const WatchEntry& candidate, const std::string& note = {});
// Asks to delete entry index and removes it on Yes. False for an index out of range or a No.
bool DeleteWatchEntry(int index, WatchListEditing& editing);

// The processor lines of a confirmation: one line per processor of the machine saying whether the
// set has it; above 16 processors one line per run of equal state ("\n  CPU 8-15 = OFF").
using platform::ProcessorLines;
