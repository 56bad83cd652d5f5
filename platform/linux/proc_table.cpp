#include "platform/linux/proc_table.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/linux/proc_reading.h"

namespace platform {

namespace {

// What kRecent reads again.
constexpr std::int64_t kRecentMs = 1000;
// An id is allocated a little before its process can be found by it: ids this close below the last
// allocated one are looked at again when they show nothing.
constexpr ProcessId kRecheckWindow = 16;
// Updates a round of kRound takes: every known process is read again about this often, in seconds
// at one tick a second.
constexpr std::size_t kRoundUpdates = 60;
// The round reads in this many slices, one every kRoundUpdates / kRoundSlices updates. After a
// second asleep the first reads of a tick cost several times what the ones that follow do: a few
// longer slices cost far less than a few reads every tick, and a slice holds an exec event up no
// longer than a sixth of a walk does.
constexpr std::size_t kRoundSlices = 6;
// Probing an id costs about what listing one process costs: beyond a span of the table's size (and
// this much), a listing is cheaper.
constexpr std::size_t kProbeSlack = 256;

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Whether pid is a process (a thread group's leader) rather than a thread or nothing: a signal 0
// that names it as both the group and the thread reaches only a leader. EPERM: a leader we may not
// signal (another user's), which exists all the same.
bool IsProcess(ProcessId pid) {
  if (pid > 0x7FFFFFFFu) return false;
  return syscall(SYS_tgkill, static_cast<pid_t>(pid), static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace

std::int64_t SteadyMicroseconds() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void PauseMicroseconds(std::int64_t microseconds) {
  const timespec pause{static_cast<time_t>(microseconds / 1'000'000),
                       static_cast<long>(microseconds % 1'000'000) * 1000};
  nanosleep(&pause, nullptr);
}

ProcTable::ProcTable() : procFd_(open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC)), ids_(procFd_) {
  if (procFd_ >= 0) listFd_ = openat(procFd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

ProcTable::~ProcTable() {
  if (listFd_ >= 0) close(listFd_);
  if (procFd_ >= 0) close(procFd_);
}

void ProcTable::Update(Look look, TableChanges& changes) {
  changes.started.clear();
  changes.ended.clear();
  if (procFd_ < 0) return;
  const std::int64_t now = NowMs();
  ProcessId last = 0;
  const bool followed = ids_.Followed() && ids_.Read(last);
  // A wrap, or a span so long that probing it would cost more than a listing.
  // A round starts with a listing, without reading again what it knows: it takes out what ended and
  // finds whatever following the ids may have missed.
  const bool roundStarts = look == Look::kRound && roundClock_ >= kRoundUpdates;
  const bool list = look == Look::kEverything || roundStarts || !followed || !haveLastPid_ || last < lastPid_ ||
                    last - lastPid_ > known_.size() + kProbeSlack;
  if (list) {
    List(look == Look::kEverything, now, changes);
    recheck_.clear();
    rescanFrom_ = 0;
    if (followed) {
      // Those the listing may have missed for being too new.
      for (ProcessId pid = last > kRecheckWindow ? last - kRecheckWindow + 1 : 1; pid <= last; ++pid) {
        if (known_.count(pid) == 0) recheck_.push_back(pid);
      }
    }
  } else {
    std::vector<ProcessId> again;
    again.swap(recheck_);
    for (ProcessId pid : again) {
      if (pid <= lastPid_) Probe(pid, false, now, changes);
    }
    // Ids just below the last that showed nothing the last time are listed once more with the new.
    const ProcessId from = rescanFrom_ != 0 ? std::min(rescanFrom_, lastPid_ + 1) : lastPid_ + 1;
    rescanFrom_ = 0;
    if (last >= from && !Scan(from, last, now, changes)) {
      for (ProcessId pid = from; pid != 0 && pid <= last; ++pid) {
        Probe(pid, last - pid < kRecheckWindow, now, changes);
      }
    }
  }
  if (followed) {
    lastPid_ = last;
    haveLastPid_ = true;
  }

  if (roundStarts) {
    round_.clear();
    for (const auto& item : known_) round_.push_back(item.first);
    roundAt_ = 0;
    roundShare_ = (round_.size() + kRoundSlices - 1) / kRoundSlices;
    roundClock_ = 0;
  }
  if (look == Look::kRound) {
    if (roundClock_ % (kRoundUpdates / kRoundSlices) == 0) {
      for (std::size_t n = 0; n < roundShare_ && roundAt_ < round_.size(); ++n)
        LookAgain(round_[roundAt_++], now, changes);
    }
    ++roundClock_;
  }
  while (!recent_.empty() && recent_.front().first <= now - kRecentMs) recent_.pop_front();
  if (look == Look::kRecent) {
    // A reused id adds to the end while this runs; that one was read just now.
    const std::size_t count = recent_.size();
    for (std::size_t i = 0; i < count; ++i) LookAgain(recent_[i].second, now, changes);
  }
}

void ProcTable::Probe(ProcessId pid, bool nearTop, std::int64_t nowMs, TableChanges& changes) {
  char name[16];
  std::snprintf(name, sizeof name, "%u", static_cast<unsigned>(pid));
  struct stat st {};
  // Under churn most new ids have ended again by the next look, and most of the rest are threads: a
  // signal 0 settles both without the path lookup (and the dentry made and dropped) of a stat.
  if (!IsProcess(pid) || fstatat(procFd_, name, &st, 0) != 0) {
    if (nearTop) recheck_.push_back(pid);
    Forget(pid, changes);
    return;
  }
  Saw(pid, static_cast<std::uint64_t>(st.st_ino), false, nowMs, changes);
}

bool ProcTable::Scan(ProcessId from, ProcessId to, std::int64_t nowMs, TableChanges& changes) {
  if (listFd_ < 0 || scanOffset_ <= 0 || lseek(listFd_, scanOffset_ + static_cast<off_t>(from), SEEK_SET) < 0) {
    return false;
  }
  // Few at a time: past `to` come only processes from before the ids wrapped, known already.
  bool first = true;
  bool misplaced = false;
  ReadIdEntries<1024>(listFd_, 64, [&](ProcessId pid, const dirent64& entry) {
    if (first && pid < from) {
      misplaced = true;
      return false;
    }
    first = false;
    if (pid > to) return false;
    Saw(pid, static_cast<std::uint64_t>(entry.d_ino), false, nowMs, changes);
    return true;
  });
  if (misplaced) {
    // The listing does not start where the ids said it would: not to be trusted again.
    scanOffset_ = -1;
    return false;
  }
  FinishScan(to);
  return true;
}

void ProcTable::FinishScan(ProcessId to) {
  // Ids allocated just now may not show their process yet: the next scan starts at the first of
  // them that showed nothing. Once: those that show nothing again are threads or have ended.
  const ProcessId newFrom = lastPid_ + 1;
  for (ProcessId pid = std::max(newFrom, to > kRecheckWindow ? to - kRecheckWindow + 1 : 1); pid <= to; ++pid) {
    if (known_.count(pid) == 0) {
      rescanFrom_ = pid;
      return;
    }
  }
}

void ProcTable::List(bool reread, std::int64_t nowMs, TableChanges& changes) {
  ++listings_;
  ++listing_;
  if (listFd_ < 0 || lseek(listFd_, 0, SEEK_SET) != 0) return;
  // A process's place in the listing follows from its id: each entry's offset is where the next
  // one is, so that the ids allocated since the last look are listed by starting there. Learnt
  // here, and only where every pair of neighbours agrees on it.
  off_t learnt = 0;
  bool agree = scanOffset_ >= 0;
  off_t previousOffset = -1;
  // The names that are not ids all come before the first process. A listing that cannot even start
  // tells nothing of what ended.
  const bool listed = ReadIdEntries<16384>(listFd_, 256, [&](ProcessId pid, const dirent64& entry) {
    if (previousOffset >= 0) {
      const off_t offset = previousOffset - static_cast<off_t>(pid);
      if (offset <= 0 || (learnt != 0 && offset != learnt)) agree = false;
      learnt = offset;
    }
    previousOffset = entry.d_off;
    Saw(pid, static_cast<std::uint64_t>(entry.d_ino), reread, nowMs, changes);
    auto it = known_.find(pid);
    if (it != known_.end()) it->second.listing = listing_;
    return true;
  });
  if (!listed) return;
  if (!agree) {
    scanOffset_ = -1;
  } else if (learnt > 0) {
    scanOffset_ = learnt;
  }
  for (auto it = known_.begin(); it != known_.end();) {
    if (it->second.listing == listing_) {
      ++it;
      continue;
    }
    if (!it->second.path.empty()) changes.ended.push_back(it->first);
    it = known_.erase(it);
  }
}

void ProcTable::Saw(ProcessId pid, std::uint64_t inode, bool reread, std::int64_t nowMs, TableChanges& changes) {
  auto [it, isNew] = known_.try_emplace(pid);
  Known& known = it->second;
  if (!isNew && known.inode == inode && (!reread || known.settled)) return;
  if (!isNew && known.inode != inode) {
    // Another process has the id now.
    if (!known.path.empty()) changes.ended.push_back(pid);
    known = Known{};
    isNew = true;
  }
  std::string path;
  pid_t liveThread = 0;
  bool settled = false;
  if (!ReadExecutablePath(procFd_, pid, path, liveThread, &settled)) path.clear();
  known.settled = settled;
  if (isNew) {
    known.inode = inode;
    known.firstSeenMs = nowMs;
    known.listing = listing_;
    recent_.emplace_back(nowMs, pid);
  } else if (path == known.path) {
    return;
  } else if (path.empty()) {
    // It runs something we may not read now (a set-user-id program, say): as good as gone.
    changes.ended.push_back(pid);
  }
  if (!path.empty()) changes.started.push_back(TableProcess{pid, inode, path});
  known.path = std::move(path);
}

void ProcTable::LookAgain(ProcessId pid, std::int64_t nowMs, TableChanges& changes) {
  auto it = known_.find(pid);
  if (it == known_.end() || it->second.settled) return;
  // A link that reads as before needs nothing more. Had the id passed to another process, following
  // the ids (or the listing, where they cannot be followed) finds that apart from this look.
  if (!it->second.path.empty()) {
    std::string path;
    pid_t liveThread = 0;
    if (ReadExecutablePath(procFd_, pid, path, liveThread) && path == it->second.path) return;
  }
  char name[16];
  std::snprintf(name, sizeof name, "%u", static_cast<unsigned>(pid));
  struct stat st {};
  if (fstatat(procFd_, name, &st, 0) != 0) {
    Forget(pid, changes);
    return;
  }
  Saw(pid, static_cast<std::uint64_t>(st.st_ino), true, nowMs, changes);
}

void ProcTable::Forget(ProcessId pid, TableChanges& changes) {
  auto it = known_.find(pid);
  if (it == known_.end()) return;
  if (!it->second.path.empty()) changes.ended.push_back(pid);
  known_.erase(it);
}

bool ProcTable::CurrentPath(ProcessId pid, std::uint64_t identity, std::string& exePath) {
  if (procFd_ < 0) return false;
  char name[16];
  std::snprintf(name, sizeof name, "%u", static_cast<unsigned>(pid));
  struct stat before {};
  struct stat after {};
  pid_t liveThread = 0;
  // The same inode before and after: the path read in between is that process's.
  if (fstatat(procFd_, name, &before, 0) != 0 || static_cast<std::uint64_t>(before.st_ino) != identity ||
      !ReadExecutablePath(procFd_, pid, exePath, liveThread) || fstatat(procFd_, name, &after, 0) != 0 ||
      after.st_ino != before.st_ino) {
    // It has ended, or its id went to another process unseen (the id was handed out again before the
    // ids allocated since the last update): the next update looks at the id once more.
    if (known_.count(pid) != 0) recheck_.push_back(pid);
    return false;
  }
  // The caller acts on what it read; the table goes on from there.
  auto it = known_.find(pid);
  if (it != known_.end() && it->second.inode == identity) it->second.path = exePath;
  return true;
}

void ProcTable::ForEach(const std::function<void(const TableProcess&)>& visit) const {
  for (const auto& [pid, known] : known_) {
    if (!known.path.empty()) visit(TableProcess{pid, known.inode, known.path});
  }
}

}  // namespace platform
