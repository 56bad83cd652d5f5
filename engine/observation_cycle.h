#pragma once
// One observation tick: refresh the snapshot, then give every listed process of every watched
// executable the entry's mask where it differs (for any of its threads), and log what happened: one
// record per change, one per lasting refusal, none for a process that ended before it could be set.
#include <cstdio>
#include <set>
#include <string>

#include "engine/activity_log.h"
#include "engine/system_snapshot.h"
#include "settings/watch_list.h"

// Executable paths (lower-cased) whose process the user re-assigned by hand during this run;
// the cycle leaves them alone until the program ends.
using QuickChangedPaths = std::set<std::string>;

// Writes "observing...\n" and the other progress lines to out (nullptr: nowhere). The log's
// records go to the log's own file and console stream.
void RunObservationCycle(const WatchList& watchList, SystemSnapshot& snapshot, const QuickChangedPaths& quickChanged,
                         ActivityLog& log, std::FILE* out = stdout);
