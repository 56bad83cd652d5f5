#pragma once
// One observation tick: refresh the snapshot, then give every listed process of every watched
// executable the entry's mask where it differs (for any of its threads), and log what happened: one
// record per change, one per lasting refusal, none for a process that ended before it could be set.
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

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

namespace observation {

// A process to compare with the watch list.
struct Candidate {
  platform::ProcessId pid = 0;
  const std::string* exePath = nullptr;  // lower-cased
};

// What the comparison asks of each candidate (by its index).
struct Questions {
  // Whether every thread of the candidate runs with mask. Asked for each entry that names the
  // candidate's path before anything is set, so every entry is compared with the process as it was.
  std::function<bool(std::size_t candidate, const platform::ProcessorSet& mask)> hasMask;
  // Asked right before the candidate's mask is set: whether it still is the process it was, running
  // the same file. Empty: not asked.
  std::function<bool(std::size_t candidate)> stillRuns;
};

// Gives every candidate the mask of each entry that names its path where it lacks it, entries in
// list order and, within an entry, candidates in their order; entries in quickChanged are left alone
// and, with noteQuickChanged, named on out. Logs as RunObservationCycle does.
void Apply(const WatchList& watchList, const std::vector<Candidate>& candidates, const QuickChangedPaths& quickChanged,
           ActivityLog& log, platform::ISystem& system, std::FILE* out, bool noteQuickChanged,
           const Questions& questions);

}  // namespace observation
