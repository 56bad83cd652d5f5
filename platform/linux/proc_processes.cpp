#include "platform/linux/proc_processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/linux/proc_reading.h"

namespace platform {

namespace {

constexpr char kDeletedSuffix[] = " (deleted)";
constexpr std::size_t kDeletedSuffixLength = sizeof(kDeletedSuffix) - 1;
// A path from a snapshot older than this is read again instead.
constexpr auto kSnapshotPathLifetime = std::chrono::seconds(1);
constexpr auto kOnlineMaskLifetime = std::chrono::seconds(1);

// How many task directories may be held open: a quarter of the descriptors this process may have,
// so that the rest of the program never runs short of them.
std::size_t KeptTaskDirRoom() {
  rlimit files{};
  const rlim_t soft = getrlimit(RLIMIT_NOFILE, &files) == 0 ? files.rlim_cur : 1024;
  return static_cast<std::size_t>(std::clamp<rlim_t>(soft / 4, 16, 1024));
}

// Thread ids listed in /proc/PID/task of the pinned process; false once the process has ended.
bool ListThreads(int dirFd, std::vector<pid_t>& tids) {
  tids.clear();
  ForEachThread(dirFd, "task", [&tids](pid_t tid, int) {
    tids.push_back(tid);
    return true;
  });
  return !tids.empty();
}

// The /proc/PID directory of one process, open for as long as the object lives.
class PinnedProcess {
 public:
  PinnedProcess(int procFd, ProcessId pid) {
    char name[16];
    std::snprintf(name, sizeof(name), "%u", static_cast<unsigned>(pid));
    if (procFd >= 0) fd_ = openat(procFd, name, O_PATH | O_DIRECTORY | O_CLOEXEC);
  }
  ~PinnedProcess() {
    if (fd_ >= 0) close(fd_);
  }
  PinnedProcess(const PinnedProcess&) = delete;
  PinnedProcess& operator=(const PinnedProcess&) = delete;
  int DirFd() const { return fd_; }
  // Lookups below the directory of an ended process fail, also once its id is reused.
  bool Running() const { return fd_ >= 0 && faccessat(fd_, "stat", F_OK, AT_SYMLINK_NOFOLLOW) == 0; }

 private:
  int fd_ = -1;
};

}  // namespace

ProcessorSet OnlineProcessorSet() {
  ProcessorSet online = OnlineProcessors();
  if (online.Empty()) {
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    online = ProcessorSet::FirstN(count < 1 ? 1u : static_cast<unsigned>(count));
  }
  return online;
}

std::string ExePathFromLink(const std::string& linkText, const char* procExe) {
  if (linkText.size() <= kDeletedSuffixLength ||
      linkText.compare(linkText.size() - kDeletedSuffixLength, kDeletedSuffixLength, kDeletedSuffix) != 0) {
    return linkText;
  }
  // A file may really be called "x (deleted)": keep the suffix when that file is the executable.
  struct stat named {};
  struct stat running {};
  if (procExe != nullptr && stat(linkText.c_str(), &named) == 0 && stat(procExe, &running) == 0 &&
      named.st_dev == running.st_dev && named.st_ino == running.st_ino) {
    return linkText;
  }
  return linkText.substr(0, linkText.size() - kDeletedSuffixLength);
}

CpuSet::CpuSet(std::size_t bytes) : words_((bytes + sizeof(unsigned long) - 1) / sizeof(unsigned long), 0UL) {}

bool CpuSet::Read(pid_t tid) {
  return sched_getaffinity(tid, Bytes(), reinterpret_cast<cpu_set_t*>(words_.data())) == 0;
}

bool CpuSet::Write(pid_t tid) const {
  return sched_setaffinity(tid, Bytes(), reinterpret_cast<const cpu_set_t*>(words_.data())) == 0;
}

bool CpuSet::Get(ProcessorSet& out) const {
  bool lost = false;
  out = LoadCpuSet(reinterpret_cast<const cpu_set_t*>(words_.data()), Bytes(), &lost);
  return !lost;
}

bool CpuSet::Put(const ProcessorSet& set) {
  return StoreCpuSet(set, reinterpret_cast<cpu_set_t*>(words_.data()), Bytes());
}

ProcProcesses::ProcProcesses(std::size_t cpuSetBytes) : cpuSetBytes_(cpuSetBytes), lastRead_(cpuSetBytes_) {
  procFd_ = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  taskDirRoom_ = KeptTaskDirRoom();
}

ProcProcesses::~ProcProcesses() {
  for (const TaskDir& dir : taskDirs_) close(dir.fd);
  if (procFd_ >= 0) close(procFd_);
}

ProcProcesses::TaskDir* ProcProcesses::KeptTaskDir(ProcessId pid, bool& fresh) {
  ++taskDirUses_;
  for (TaskDir& dir : taskDirs_) {
    if (dir.pid == pid) {
      dir.used = taskDirUses_;
      fresh = false;
      return &dir;
    }
  }
  fresh = true;
  char task[32];
  std::snprintf(task, sizeof(task), "%u/task", static_cast<unsigned>(pid));
  const int fd = openat(procFd_, task, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  // Every tick checks every watched process in turn: with more of them than there is room for,
  // each would push out the one needed next, and every directory would be opened every tick. So
  // the room is a good part of the descriptors this process may hold; one that ended goes when
  // others need the room.
  if (taskDirs_.size() >= taskDirRoom_) {
    auto oldest = std::min_element(taskDirs_.begin(), taskDirs_.end(),
                                   [](const TaskDir& a, const TaskDir& b) { return a.used < b.used; });
    close(oldest->fd);
    *oldest = TaskDir{pid, fd, taskDirUses_, {}};
    return &*oldest;
  }
  taskDirs_.push_back(TaskDir{pid, fd, taskDirUses_, {}});
  return &taskDirs_.back();
}

void ProcProcesses::NoteThreadsKnown(TaskDir& dir) const {
  if (ids_ == nullptr) return;
  dir.checkedAtRead = ids_->Reads();
  dir.movesAtCheck = ids_->Moves();
}

void ProcProcesses::DropTaskDir(ProcessId pid) {
  for (auto it = taskDirs_.begin(); it != taskDirs_.end(); ++it) {
    if (it->pid == pid) {
      close(it->fd);
      taskDirs_.erase(it);
      return;
    }
  }
}

bool ProcProcesses::SnapshotProcesses(std::vector<ProcessEntry>& out) {
  lastReadAtOpen_ = false;
  out.clear();
  snapshotPaths_.clear();
  liveThreads_.clear();
  if (procFd_ < 0) return false;
  int listFd = openat(procFd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listFd < 0) return false;
  DIR* dir = fdopendir(listFd);
  if (dir == nullptr) {
    close(listFd);
    return false;
  }
  std::string path;
  while (const dirent* entry = readdir(dir)) {
    ProcessId pid = 0;
    if (!ParseProcessId(entry->d_name, pid)) continue;
    // Kernel threads have no executable, other users' processes cannot be read: left out.
    pid_t liveThread = 0;
    if (!ReadExecutablePath(procFd_, pid, path, liveThread)) continue;
    if (liveThread != 0) liveThreads_.emplace(pid, liveThread);
    ProcessEntry& processEntry = out.emplace_back();
    processEntry.th32ProcessID = pid;
    std::size_t slash = path.rfind('/');
    std::string_view name =
        slash == std::string::npos ? std::string_view(path) : std::string_view(path).substr(slash + 1);
    std::size_t length = std::min(name.size(), sizeof(processEntry.szExeFile) - 1);
    std::memcpy(processEntry.szExeFile, name.data(), length);
    processEntry.szExeFile[length] = '\0';
    snapshotPaths_.emplace_back(pid, std::move(path));
  }
  closedir(dir);
  if (!std::is_sorted(snapshotPaths_.begin(), snapshotPaths_.end(),
                      [](const auto& a, const auto& b) { return a.first < b.first; })) {
    std::sort(snapshotPaths_.begin(), snapshotPaths_.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
  }
  snapshotTime_ = std::chrono::steady_clock::now();
  return true;
}

ProcessHandle ProcProcesses::OpenProcess(std::uint32_t /*desiredAccess*/, ProcessId pid) {
  if (pid == 0 || pid > 0x7FFFFFFFu) return kNoProcess;
  // Whether it still exists. Reading its mask is the cheapest way to ask (cheaper than kill 0)
  // and needs no rights over the process; a mask read that the very next call asks for is
  // handed out from here instead of being read twice.
  lastReadHandle_ = kNoProcess;
  bool read = lastRead_.Read(ThreadOf(pid));
  if (!read && errno == ESRCH) return kNoProcess;
  ProcessHandle handle = nextHandle_++;
  if (nextHandle_ <= 0) nextHandle_ = 1;
  opened_[handle] = pid;
  if (read) {
    lastReadHandle_ = handle;
    lastReadAtOpen_ = true;
  }
  return handle;
}

void ProcProcesses::CloseHandle(ProcessHandle handle) {
  opened_.erase(handle);
  if (handle == lastReadHandle_) lastReadHandle_ = kNoProcess;
}

pid_t ProcProcesses::ThreadOf(ProcessId pid) const {
  if (!liveThreads_.empty()) {
    auto it = liveThreads_.find(pid);
    if (it != liveThreads_.end()) return it->second;
  }
  return static_cast<pid_t>(pid);
}

bool ProcProcesses::Find(ProcessHandle handle, ProcessId& pid) const {
  auto it = opened_.find(handle);
  if (it == opened_.end()) return false;
  pid = it->second;
  return true;
}

bool ProcProcesses::GetProcessAffinityMask(ProcessHandle handle, ProcessorSet& processMask, ProcessorSet& systemMask) {
  ProcessId pid = 0;
  if (!Find(handle, pid)) return false;
  if (!(lastReadAtOpen_ && handle == lastReadHandle_)) {
    if (!lastRead_.Read(ThreadOf(pid))) {
      lastReadHandle_ = kNoProcess;
      return false;
    }
    lastReadHandle_ = handle;
  }
  lastReadAtOpen_ = false;
  // A process allowed on processors no set can name would lose them to any set we give it: such
  // a process is not ours to change.
  if (!lastRead_.Get(processMask)) return false;
  // Reading /sys costs more than the rest of the call; processors come and go rarely, and a
  // set is checked against a fresh reading whenever it is given.
  auto now = std::chrono::steady_clock::now();
  if (online_.Empty() || now - onlineTime_ > kOnlineMaskLifetime) {
    online_ = OnlineProcessorSet();
    onlineTime_ = now;
  }
  systemMask = online_;
  return true;
}

bool ProcProcesses::RewriteProcessAffinityMask(ProcessHandle handle, const ProcessorSet& /*currentMask*/) {
  ProcessId pid = 0;
  if (!Find(handle, pid)) return false;
  // The main thread's buffer exactly as just read through this handle goes back to the main
  // thread only.
  if (handle != lastReadHandle_) {
    if (!lastRead_.Read(ThreadOf(pid))) return false;
    lastReadHandle_ = handle;
  }
  lastReadAtOpen_ = false;
  return lastRead_.Write(ThreadOf(pid));
}

bool ProcProcesses::SetProcessAffinityMask(ProcessHandle handle, const ProcessorSet& mask) {
  lastReadHandle_ = kNoProcess;
  ProcessId pid = 0;
  if (!Find(handle, pid)) return false;
  // Linux would quietly narrow a set that names absent processors; this call refuses it.
  if (mask.Empty() || !OnlineProcessorSet().Contains(mask)) return false;
  // The /proc/PID directory, held open, stands for this very process while its threads are
  // set: listed through it, a process that has ended shows no threads, even if its id is reused.
  PinnedProcess pinned(procFd_, pid);
  if (!pinned.Running()) return false;

  CpuSet target(cpuSetBytes_);
  if (!target.Put(mask)) return false;
  std::vector<std::pair<pid_t, CpuSet>> changed;  // previous masks, to undo a partial change
  std::vector<pid_t> seen;
  std::vector<pid_t> tids;
  bool ok = true;
  // Threads started while we work inherit the mask of their creator, which may not have been
  // set yet; listing again until a pass finds nothing new to set catches them.
  constexpr int kMaxPasses = 16;
  int pass = 0;
  for (; pass < kMaxPasses && ok; ++pass) {
    if (!ListThreads(pinned.DirFd(), tids)) {
      ok = false;
      break;
    }
    bool setAny = false;
    for (pid_t tid : tids) {
      if (std::find(seen.begin(), seen.end(), tid) != seen.end()) continue;
      seen.push_back(tid);
      CpuSet before(cpuSetBytes_);
      if (!before.Read(tid)) {
        if (errno == ESRCH) continue;  // the thread ended meanwhile
        ok = false;
        break;
      }
      if (before == target) continue;
      if (!target.Write(tid)) {
        if (errno == ESRCH) continue;
        ok = false;
        break;
      }
      changed.emplace_back(tid, before);
      setAny = true;
      // A cpuset may narrow what was asked for; that is a refusal, not a success.
      CpuSet after(cpuSetBytes_);
      if (after.Read(tid) && !(after == target)) {
        ok = false;
        break;
      }
    }
    if (!setAny) break;
  }
  if (pass == kMaxPasses) ok = false;
  if (ok && !pinned.Running()) ok = false;
  if (!ok) {
    for (auto& [tid, before] : changed) before.Write(tid);
  }
  return ok;
}

bool ProcProcesses::EveryThreadHasMask(ProcessHandle handle, const ProcessorSet& mask) {
  ProcessId pid = 0;
  if (!Find(handle, pid) || procFd_ < 0) return false;
  CpuSet target(cpuSetBytes_);
  if (!target.Put(mask)) return false;
  // The thread read as the process was opened, just before: a differing mask answers at once, and
  // an equal one is not read again.
  const pid_t readAtOpen = handle == lastReadHandle_ && lastReadAtOpen_ ? ThreadOf(pid) : 0;
  if (readAtOpen != 0 && !(lastRead_ == target)) return false;
  CpuSet thread(cpuSetBytes_);
  // 1: the thread has the mask; 0: it has another, or cannot be read; -1: it has ended.
  auto answer = [&](pid_t tid) {
    if (!thread.Read(tid)) return errno == ESRCH ? -1 : 0;
    return thread == target ? 1 : 0;
  };
  for (;;) {
    bool fresh = false;
    TaskDir* dir = KeptTaskDir(pid, fresh);
    if (dir == nullptr) return false;
    // No id allocated since the last check, in a read made after it: no thread started. Else the
    // directory counts its process's threads (two links more): with the count unchanged and every
    // known thread still there, no thread came or went, and listing them again would cost more
    // than the count does.
    const bool known = !fresh && !dir->tids.empty();
    const bool quiet = known && ids_ != nullptr && ids_->Followed() && ids_->Reads() > dir->checkedAtRead &&
                       ids_->Moves() == dir->movesAtCheck;
    struct stat task {};
    if (known && (quiet || (fstat(dir->fd, &task) == 0 && task.st_nlink == dir->tids.size() + 2))) {
      NoteThreadsKnown(*dir);
      bool ended = false;
      for (const pid_t tid : dir->tids) {
        if (tid == readAtOpen) continue;
        const int has = answer(tid);
        if (has == 0) return false;
        if (has < 0) {
          ended = true;
          break;
        }
      }
      if (!ended) return true;
    }
    bool every = true;
    bool any = false;
    bool seen = false;
    std::vector<pid_t> tids;
    const bool listed = ListThreads(dir->fd, [&](pid_t tid, int) {
      seen = true;
      if (tid == readAtOpen) {
        any = true;
        tids.push_back(tid);
        return true;
      }
      const int has = answer(tid);
      // A thread that ended meanwhile has no say, and no place in the count.
      if (has < 0) return true;
      any = true;
      every = has > 0;
      tids.push_back(tid);
      return every;
    });
    if (listed && seen) {
      // Only a listing that went through to its end knows every thread.
      dir->tids.clear();
      if (every && any) {
        dir->tids = std::move(tids);
        NoteThreadsKnown(*dir);
      }
      return every && any;
    }
    // Held from a process that has ended since: the id may belong to another one now.
    DropTaskDir(pid);
    if (fresh) return false;
  }
}

bool ProcProcesses::IsProcessRunning(ProcessId pid) {
  if (procFd_ < 0 || pid == 0) return false;
  char name[48];
  std::snprintf(name, sizeof(name), "%u/stat", static_cast<unsigned>(pid));
  const int fd = openat(procFd_, name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char stat[512];
  const ssize_t n = read(fd, stat, sizeof(stat) - 1);
  close(fd);
  if (n <= 0) return false;
  stat[n] = '\0';
  // "pid (name) S ...": the name may hold anything, so the state follows the last ')'.
  const char* close = std::strrchr(stat, ')');
  if (close == nullptr || close[1] != ' ') return false;
  const char state = close[2];
  if (state != 'Z' && state != 'X') return true;
  // The main thread has ended; the process runs on while another thread does.
  std::snprintf(name, sizeof(name), "%u/task", static_cast<unsigned>(pid));
  struct stat task {};
  return fstatat(procFd_, name, &task, 0) == 0 && task.st_nlink > 3;
}

std::string ProcProcesses::GetProcessImagePath(ProcessHandle handle) {
  lastReadAtOpen_ = false;
  ProcessId pid = 0;
  if (!Find(handle, pid)) return {};
  if (!snapshotPaths_.empty() && std::chrono::steady_clock::now() - snapshotTime_ < kSnapshotPathLifetime) {
    auto it = std::lower_bound(snapshotPaths_.begin(), snapshotPaths_.end(), pid,
                               [](const auto& item, ProcessId p) { return item.first < p; });
    if (it != snapshotPaths_.end() && it->first == pid) return it->second;
  }
  std::string path;
  pid_t liveThread = 0;
  if (procFd_ < 0 || !ReadExecutablePath(procFd_, pid, path, liveThread)) return {};
  return path;
}

std::uint32_t ProcProcesses::GetProcessorCount() {
  long count = sysconf(_SC_NPROCESSORS_ONLN);
  return count < 1 ? 1u : static_cast<std::uint32_t>(count);
}

}  // namespace platform
