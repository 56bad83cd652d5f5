#include "platform/linux/proc_reading.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/linux/proc_processes.h"

namespace platform {

namespace {

constexpr char kDeletedSuffix[] = " (deleted)";
constexpr std::size_t kDeletedSuffixLength = sizeof(kDeletedSuffix) - 1;

// The executable link of a process whose main thread has ended (pthread_exit in main): its own
// link reads as nothing, but every live thread's does. `tid` is the thread it came from. Only a
// process with more threads than its ended leader is looked into, which no kernel thread is.
bool ReadExeOfLiveThread(int procFd, ProcessId pid, std::string& link, pid_t& tid) {
  char task[32];
  std::snprintf(task, sizeof(task), "%u/task", static_cast<unsigned>(pid));
  struct stat st {};
  // The task directory has a link for each thread besides its own two.
  if (fstatat(procFd, task, &st, 0) != 0 || st.st_nlink <= 3) return false;
  bool found = false;
  ForEachThread(procFd, task, [&](pid_t thread, int taskFd) {
    char exe[32];
    std::snprintf(exe, sizeof(exe), "%d/exe", thread);
    found = static_cast<ProcessId>(thread) != pid && ReadLink(taskFd, exe, link) && !link.empty();
    if (found) tid = thread;
    return !found;
  });
  return found;
}

}  // namespace

bool ParseProcessId(const char* name, ProcessId& pid) {
  if (*name == '\0') return false;
  std::uint64_t value = 0;
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + static_cast<unsigned>(*p - '0');
    if (value > 0xFFFFFFFFu) return false;
  }
  pid = static_cast<ProcessId>(value);
  return pid != 0;
}

bool ReadLink(int dirFd, const char* name, std::string& out) {
  char small[512];
  ssize_t n = readlinkat(dirFd, name, small, sizeof(small));
  if (n < 0) return false;
  if (static_cast<std::size_t>(n) < sizeof(small)) {
    out.assign(small, static_cast<std::size_t>(n));
    return true;
  }
  for (std::size_t size = 4096; size <= (std::size_t{1} << 20); size *= 4) {
    out.resize(size);
    n = readlinkat(dirFd, name, out.data(), size);
    if (n < 0) return false;
    if (static_cast<std::size_t>(n) < size) {
      out.resize(static_cast<std::size_t>(n));
      return true;
    }
  }
  return false;
}

bool ReadExecutablePath(int procFd, ProcessId pid, std::string& path, pid_t& liveThread, bool* forGood) {
  liveThread = 0;
  if (forGood != nullptr) *forGood = false;
  char exeName[32];
  std::snprintf(exeName, sizeof(exeName), "%u/exe", static_cast<unsigned>(pid));
  const bool read = ReadLink(procFd, exeName, path);
  if (!read || path.empty()) {
    // An ended main thread's link cannot be found (as a kernel thread's); no rights or no process at
    // all is something else.
    if (!read && errno != ENOENT) return false;
    if (!ReadExeOfLiveThread(procFd, pid, path, liveThread)) {
      // No thread left that could run a file: only a thread that lives on could start one.
      if (forGood != nullptr) *forGood = true;
      return false;
    }
  }
  if (path.size() > kDeletedSuffixLength &&
      path.compare(path.size() - kDeletedSuffixLength, kDeletedSuffixLength, kDeletedSuffix) == 0) {
    char procExe[64];
    if (liveThread != 0) {
      std::snprintf(procExe, sizeof(procExe), "/proc/%u/task/%d/exe", static_cast<unsigned>(pid), liveThread);
    } else {
      std::snprintf(procExe, sizeof(procExe), "/proc/%u/exe", static_cast<unsigned>(pid));
    }
    path = ExePathFromLink(path, procExe);
  }
  return true;
}

AllocatedIds::AllocatedIds(int procFd) {
  std::string self;
  char own[16];
  std::snprintf(own, sizeof own, "%d", static_cast<int>(getpid()));
  if (procFd < 0 || !ReadLink(procFd, "self", self) || self != own) return;
  fd_ = openat(procFd, "sys/kernel/ns_last_pid", O_RDONLY | O_CLOEXEC);
  ProcessId probe = 0;
  if (fd_ >= 0 && !Read(probe)) {
    close(fd_);
    fd_ = -1;
  }
}

AllocatedIds::~AllocatedIds() {
  if (fd_ >= 0) close(fd_);
}

bool AllocatedIds::Read(ProcessId& last) {
  ++reads_;
  char text[24];
  const ssize_t n = fd_ >= 0 ? pread(fd_, text, sizeof text - 1, 0) : -1;
  unsigned long value = 0;
  char* end = text;
  if (n > 0) {
    text[n] = '\0';
    value = std::strtoul(text, &end, 10);
  }
  if (n <= 0 || end == text || value > 0x7FFFFFFFul) {
    ++moves_;
    haveLast_ = false;
    return false;
  }
  if (!haveLast_ || value != last_) ++moves_;
  haveLast_ = true;
  last_ = static_cast<ProcessId>(value);
  last = last_;
  return true;
}

}  // namespace platform
