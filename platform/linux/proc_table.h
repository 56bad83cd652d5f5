#pragma once
// IProcessTable over procfs. New processes are found through the id the kernel allocated last
// (kernel.ns_last_pid): only the ids allocated since the last look are looked at, so a look at a
// quiet system costs one read. Where that cannot be followed (a /proc of another pid namespace, a
// wrap of the ids, a span longer than the table), /proc is listed instead, and only entries it has
// not seen have their executable link read. A reused id shows in the inode of /proc/PID, which
// changes with the process and stays across an exec.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/linux/proc_reading.h"
#include "platform/process_table.h"

namespace platform {

// A steady clock in microseconds, and a pause, for the waits that follow an exec event.
std::int64_t SteadyMicroseconds();
void PauseMicroseconds(std::int64_t microseconds);

class ProcTable final : public IProcessTable {
 public:
  ProcTable();
  ~ProcTable() override;
  ProcTable(const ProcTable&) = delete;
  ProcTable& operator=(const ProcTable&) = delete;

  void Update(Look look, TableChanges& changes) override;
  bool CurrentPath(ProcessId pid, std::uint64_t identity, std::string& exePath) override;
  void ForEach(const std::function<void(const TableProcess&)>& visit) const override;

  // Whether new processes are found by their ids (false: by listing /proc every time).
  bool FollowsIds() const { return ids_.Followed(); }
  // The ids each update reads: whoever checks threads between updates may learn from them that no
  // thread started since.
  const AllocatedIds& Ids() const { return ids_; }
  // How often /proc was listed so far.
  long Listings() const { return listings_; }

 private:
  struct Known {
    std::uint64_t inode = 0;
    std::string path;  // empty: it cannot be read
    bool settled = false;  // it never runs another file: a kernel thread, a process that ends
    std::int64_t firstSeenMs = 0;
    std::uint32_t listing = 0;  // the last listing that showed it
  };

  // One id allocated since the last look. nearTop: so recently allocated that its process may not
  // be visible yet; an id without one then gets another look next time.
  void Probe(ProcessId pid, bool nearTop, std::int64_t nowMs, TableChanges& changes);
  // The processes with ids from..to, listed from where the first of them would be: under churn
  // most ids allocated since the last look are threads or have ended, and a listing passes them by
  // where a probe would ask after each. False when the place is not known (then probe).
  bool Scan(ProcessId from, ProcessId to, std::int64_t nowMs, TableChanges& changes);
  void FinishScan(ProcessId to);
  // Every process in /proc; reread: read every link again, not only those of processes not seen.
  void List(bool reread, std::int64_t nowMs, TableChanges& changes);
  // The process now at pid with this inode: read when new or when asked to, and reported.
  void Saw(ProcessId pid, std::uint64_t inode, bool reread, std::int64_t nowMs, TableChanges& changes);
  // pid once more: taken out when it has ended, else as Saw with reread.
  void LookAgain(ProcessId pid, std::int64_t nowMs, TableChanges& changes);
  void Forget(ProcessId pid, TableChanges& changes);

  int procFd_ = -1;
  AllocatedIds ids_;
  // /proc, held open for listings and scans.
  int listFd_ = -1;
  // Where process 0 would be in a listing of /proc (0: not learnt yet, -1: listings do not tell).
  off_t scanOffset_ = 0;
  // Where the next scan starts at the latest (0: just past the last id).
  ProcessId rescanFrom_ = 0;
  bool haveLastPid_ = false;
  ProcessId lastPid_ = 0;
  std::unordered_map<ProcessId, Known> known_;
  // (when it was first seen, pid), the last second's.
  std::deque<std::pair<std::int64_t, ProcessId>> recent_;
  // Ids just below the last allocated one that showed no process yet.
  std::vector<ProcessId> recheck_;
  // The round kRound works through: the processes known at its start.
  std::vector<ProcessId> round_;
  std::size_t roundAt_ = 0;
  std::size_t roundShare_ = 0;
  // kRound updates since the round started; the first one starts a round.
  std::size_t roundClock_ = SIZE_MAX;
  std::uint32_t listing_ = 0;
  long listings_ = 0;
};

}  // namespace platform
