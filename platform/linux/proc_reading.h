#pragma once
// Reading procfs, shared by the process layer and the process table: ids, links, the threads of a
// process, a process's executable path.
#include <dirent.h>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace platform {

// A directory name that is a process or thread id (decimal, 1 to 2^32-1).
bool ParseProcessId(const char* name, ProcessId& pid);

// readlinkat into a string of whatever length the link has; false when it cannot be read.
bool ReadLink(int dirFd, const char* name, std::string& out);

// Reads the directory fd on from where it stands, straight from the kernel into a buffer of Size
// bytes on the stack (threads and new processes are listed every tick; a directory stream would add
// an allocation and three calls to each listing), and calls visit(id, entry) for each entry whose
// name is an id, until visit returns false. procfs fills a read until the next entry does not
// fit: a read that left `room` unfilled was the last, and asking again would only walk the list
// once more. False when the first read fails.
template <std::size_t Size, class Visit>
bool ReadIdEntries(int fd, std::size_t room, Visit visit) {
  alignas(dirent64) char buffer[Size];
  for (bool first = true;; first = false) {
    const ssize_t length = getdents64(fd, buffer, sizeof buffer);
    if (length <= 0) return !(first && length < 0);
    for (ssize_t at = 0; at < length;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      at += entry->d_reclen;
      ProcessId id = 0;
      if (ParseProcessId(entry->d_name, id) && !visit(id, *entry)) return true;
    }
    if (static_cast<std::size_t>(length) + room <= sizeof buffer) return true;
  }
}

// Calls visit(tid, taskFd) for each thread listed in the open task directory taskFd, from its
// start, until visit returns false. False when the process has ended: a directory held open past
// its process's end lists nothing, even once the id is reused.
template <class Visit>
bool ListThreads(int taskFd, Visit visit) {
  if (lseek(taskFd, 0, SEEK_SET) != 0) return false;
  return ReadIdEntries<4096>(taskFd, 4 * sizeof(dirent64), [&](ProcessId tid, const dirent64&) {
    return visit(static_cast<pid_t>(tid), taskFd);
  });
}

// As ListThreads, for the task directory `task` below dirFd. False when it cannot be opened (the
// process has ended).
template <class Visit>
bool ForEachThread(int dirFd, const char* task, Visit visit) {
  const int taskFd = openat(dirFd, task, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (taskFd < 0) return false;
  ListThreads(taskFd, visit);
  close(taskFd);
  return true;
}

// The executable path of process pid, read below procFd (the /proc directory): its exe link, or for
// a process whose main thread has ended (its own link then reads as nothing) a live thread's, whose
// id goes into liveThread (0 otherwise). The kernel's " (deleted)" marker of a removed file is taken
// off. False when it cannot be read: kernel threads, other users' processes, a process that ended.
// forGood (when given) is then set where no executable can ever be read for this process: a kernel
// thread, or a process that has ended or is ending, none of which runs anything again.
bool ReadExecutablePath(int procFd, ProcessId pid, std::string& path, pid_t& liveThread, bool* forGood = nullptr);

// The id the kernel allocated last (kernel.ns_last_pid), read through a descriptor held open. Every
// process and every thread takes a new id as it starts, in this pid namespace as in any below it:
// an unchanged id between two reads says that nothing started in between. Followed only where
// /proc is of this process's namespace, which /proc/self shows.
class AllocatedIds {
 public:
  explicit AllocatedIds(int procFd);
  ~AllocatedIds();
  AllocatedIds(const AllocatedIds&) = delete;
  AllocatedIds& operator=(const AllocatedIds&) = delete;

  bool Followed() const { return fd_ >= 0; }
  // False when it cannot be read; that counts as a move.
  bool Read(ProcessId& last);
  // Reads so far, and how many of them found the id moved (or could not read it).
  std::uint64_t Reads() const { return reads_; }
  std::uint64_t Moves() const { return moves_; }

 private:
  int fd_ = -1;
  bool haveLast_ = false;
  ProcessId last_ = 0;
  std::uint64_t reads_ = 0;
  std::uint64_t moves_ = 0;
};

}  // namespace platform
