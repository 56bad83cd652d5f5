#pragma once
// Observation where the system keeps a process table and reports watched executables starting (the
// Linux edition). A tick does only the work that can change its result: it brings the table up to
// date (new processes only, with a look at every process now and then), and reads the masks of the
// processes that match an entry, every thread of each. When a watched file is started, the process
// that started it is pinned at once, within milliseconds of its start rather than on the next tick.
// Wherever a start could go unseen, the next look reads every process's executable, as a full
// tick does.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/activity_log.h"
#include "engine/observation_cycle.h"
#include "platform/process_table.h"
#include "platform/system.h"
#include "settings/watch_list.h"

class IncrementalObservation {
 public:
  // Time, for the waits after an exec event: microseconds of a steady clock, and a sleep. The
  // system's edition gives it (the portable core includes no clock or thread header).
  struct Clock {
    std::function<std::int64_t()> nowUs;
    std::function<void(std::int64_t)> sleepUs;
  };

  // watch may be nullptr: then every tick reads every process's executable.
  IncrementalObservation(platform::ISystem& system, platform::IProcessTable& table, platform::IExecWatch* watch,
                         Clock clock);

  // Keeps the watches and the matching processes in step with the list; a list that changed is
  // followed by a look at every process. Tick and HandleExecEvents call it first.
  void Follow(const WatchList& watchList);
  // One tick: writes "observing...\n" (and the notes of quick-changed entries) to out, then gives
  // every process of every entry the entry's mask where any of its threads lacks it, one record per
  // change, as RunObservationCycle does.
  void Tick(const WatchList& watchList, const QuickChangedPaths& quickChanged, ActivityLog& log, std::FILE* out);
  // Takes the watch's events and pins the processes that started a watched file.
  void HandleExecEvents(const WatchList& watchList, const QuickChangedPaths& quickChanged, ActivityLog& log);
  // While observation is held back (paused, the settings dialog open): the events are taken and
  // dropped, and the next tick reads every process's executable.
  void DropExecEvents();
  // The next tick reads every process's executable (start-up, resume).
  void LookAtEverythingNext() { everythingDue_ = true; }

 private:
  struct Watched {
    std::uint64_t identity = 0;
    std::string exePath;  // lower-cased
  };

  // A look at every process, when the last one was long enough ago.
  bool EverythingAllowed(std::int64_t nowUs) const;
  void Update(platform::IProcessTable::Look look, const WatchList& watchList,
              std::vector<platform::ProcessId>* matched);
  // Gives the processes their entries' masks (all watched ones when pids is nullptr).
  void Pin(const WatchList& watchList, const std::vector<platform::ProcessId>* pids,
           const QuickChangedPaths& quickChanged, ActivityLog& log, std::FILE* out);

  platform::ISystem& system_;
  platform::IProcessTable& table_;
  platform::IExecWatch* watch_;
  Clock clock_;
  // The processes whose executable an entry names, by id.
  std::map<platform::ProcessId, Watched> watched_;
  bool following_ = false;
  std::uint64_t revision_ = 0;
  bool everythingDue_ = true;
  std::int64_t lastEverythingUs_ = 0;
  bool lookedAtEverything_ = false;
  std::int64_t lastFruitlessUs_ = 0;
  bool hadFruitless_ = false;
  platform::TableChanges changes_;
  std::vector<std::size_t> entries_;
};
