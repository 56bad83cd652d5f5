#pragma once
// The running processes as the program last saw them, kept up to date at little cost, so that a
// tick need not read every process's executable again, and word when a watched executable is
// started, so that its process is pinned at once instead of on the next tick. The Linux edition
// has both (platform/linux/proc_table.h, platform/linux/inotify_exec_watch.h); where the system
// offers neither, every tick looks at every process.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/types.h"

namespace platform {

struct TableProcess {
  ProcessId pid = 0;
  // Tells the processes that had the same id over time apart.
  std::uint64_t identity = 0;
  // The full executable path as the system reports it (not lower-cased).
  std::string exePath;
};

// What one update found.
struct TableChanges {
  // Processes new to the table, and known ones that run another executable now.
  std::vector<TableProcess> started;
  // Processes that ended, or whose id now belongs to another process (which is then in started).
  std::vector<ProcessId> ended;
};

class IProcessTable {
 public:
  enum class Look {
    // The processes started since the last update.
    kNew,
    // kNew, and every process first seen in the last second read again: right after a watched file
    // was opened, the one that started it may be among them.
    kRecent,
    // kNew, and now and then a share of the known processes read again, so that over a round of
    // some tens of updates each is read once and the processes that ended are taken out: the
    // periodic look at every process, in slices so that no update holds up an exec event for long.
    kRound,
    // Every process's executable read again; processes that ended are taken out.
    kEverything,
  };

  virtual ~IProcessTable() = default;
  // Brings the table up to date as far as look asks; changes receives what it found. Processes that
  // cannot be read (other users', kernel threads) are never reported. Between kEverything updates a
  // process that ended may linger, and an exec within a process seen before may go unnoticed.
  virtual void Update(Look look, TableChanges& changes) = 0;
  // The executable path of process pid read afresh, if pid still is the process `identity`. False
  // once it has ended, its id belongs to another process, or the path cannot be read.
  virtual bool CurrentPath(ProcessId pid, std::uint64_t identity, std::string& exePath) = 0;
  // Every process the table knows and could read.
  virtual void ForEach(const std::function<void(const TableProcess&)>& visit) const = 0;
};

class IExecWatch {
 public:
  struct Events {
    // The watched paths (as given to Watch) whose file was opened: started, or merely read.
    std::vector<std::string> opened;
    // Something may have started without word (events were lost, a file was replaced and is
    // watched anew): only a look at every process tells.
    bool lookAtEverything = false;
  };

  virtual ~IExecWatch() = default;
  // From now on watches these paths: lower-cased, as the watch list holds them, whatever the case
  // of the files on disk. Each file is watched where it is and again when it is replaced, moved or
  // created; a path that can never name an executable (relative, through a symbolic link) is left.
  virtual void Watch(const std::vector<std::string>& paths) = 0;
  // False when some path could not be watched (or not all the places it may appear): then a
  // process the table already knows may start it unseen, which only a look at every process finds.
  virtual bool Complete() const = 0;
  // What happened since the last call, without waiting.
  virtual Events Take() = 0;
};

}  // namespace platform
