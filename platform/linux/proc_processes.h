#pragma once
// Processes on Linux: procfs for the list and the executable paths, sched_getaffinity and
// sched_setaffinity for the masks. Shaped after the Windows process calls so that the portable
// engine sees the same behaviour on both systems.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/linux/cpu_set_buffer.h"
#include "platform/linux/proc_reading.h"
#include "platform/system.h"

namespace platform {

// The processors that are online: /sys/devices/system/cpu/online, else the cpuN folders, else the
// first sysconf(_SC_NPROCESSORS_ONLN).
ProcessorSet OnlineProcessorSet();

// The executable path behind a /proc/PID/exe link text: the kernel's " (deleted)" marker of a
// removed file is taken off. `linkText` is what readlink gave; `procExe` names the link itself so
// that a file whose real name ends in " (deleted)" keeps it.
std::string ExePathFromLink(const std::string& linkText, const char* procExe);

// A thread's processors in the kernel's form: a cpu_set_t buffer of a size fixed at construction
// (PossibleCpuSetBytes: the processors the machine can have).
class CpuSet {
 public:
  explicit CpuSet(std::size_t bytes);
  std::size_t Bytes() const { return words_.size() * sizeof(unsigned long); }
  bool Read(pid_t tid);         // sched_getaffinity
  bool Write(pid_t tid) const;  // sched_setaffinity
  // The processors held; false when some lie beyond what a ProcessorSet can hold.
  bool Get(ProcessorSet& out) const;
  // False, changing nothing, when set names a processor the buffer cannot hold.
  bool Put(const ProcessorSet& set);
  friend bool operator==(const CpuSet&, const CpuSet&) = default;

 private:
  std::vector<unsigned long> words_;
};

class ProcProcesses final : public IProcessApi {
 public:
  // cpuSetBytes: the size of the kernel buffers the sets travel in, the machine's by default.
  explicit ProcProcesses(std::size_t cpuSetBytes = PossibleCpuSetBytes());
  ~ProcProcesses() override;
  ProcProcesses(const ProcProcesses&) = delete;
  ProcProcesses& operator=(const ProcProcesses&) = delete;

  // The numeric entries of /proc whose executable link can be read, through a live thread when the
  // main thread has ended (its own link then reads as nothing). szExeFile is the file-name
  // part of that path in its original case.
  bool SnapshotProcesses(std::vector<ProcessEntry>& out) override;
  // Fails for a process that no longer exists. The handle holds no system resource.
  ProcessHandle OpenProcess(std::uint32_t desiredAccess, ProcessId pid) override;
  void CloseHandle(ProcessHandle handle) override;
  // The main thread's processors (a live thread's once the main thread has ended); fails for a
  // process that may run on processors beyond what a set holds. systemMask is the online
  // processors (as read at most a second ago).
  bool GetProcessAffinityMask(ProcessHandle handle, ProcessorSet& processMask, ProcessorSet& systemMask) override;
  // Every thread of the process (threads that appear meanwhile included) gets the set. Fails,
  // changing nothing, for the empty set, a processor that is not online, or a thread that refuses
  // it. While it works the process is pinned through its /proc directory, so a process that ends
  // meanwhile makes it fail rather than reach a newcomer under the same id.
  bool SetProcessAffinityMask(ProcessHandle handle, const ProcessorSet& mask) override;
  // Writes the main thread's own processors back to it (a live thread's, as above): proves the
  // right to set them and changes nothing. currentMask is not needed for that.
  bool RewriteProcessAffinityMask(ProcessHandle handle, const ProcessorSet& currentMask) override;
  // Every thread's processors are exactly the set's; an ended main thread counts as one of them,
  // since a set reaches it too.
  bool EveryThreadHasMask(ProcessHandle handle, const ProcessorSet& mask) override;
  // False for a process that is gone or a zombie; a process whose main thread has ended runs while
  // another thread does.
  bool IsProcessRunning(ProcessId pid) override;
  // The executable path; " (deleted)" is taken off. Right after a snapshot the path that the
  // snapshot read is used instead of reading the link a second time.
  std::string GetProcessImagePath(ProcessHandle handle) override;
  std::uint32_t GetProcessorCount() override;

  // Reads of the id allocated last, made by whoever looks for new processes (the process table,
  // each tick): a thread check after a read that found it unmoved since the last check knows the
  // threads without asking the kernel to count them. Must outlive this object's checks.
  void FollowIds(const AllocatedIds* ids) { ids_ = ids; }

 private:
  bool Find(ProcessHandle handle, ProcessId& pid) const;
  // The thread that stands for the process in mask reads: the main thread, or for a process whose
  // main thread has ended the live thread the latest snapshot read its executable through.
  pid_t ThreadOf(ProcessId pid) const;
  struct TaskDir;
  // The task directory of pid, held open; fresh: opened by this call rather than held before.
  TaskDir* KeptTaskDir(ProcessId pid, bool& fresh);
  void DropTaskDir(ProcessId pid);
  void NoteThreadsKnown(TaskDir& dir) const;

  int procFd_ = -1;
  std::size_t cpuSetBytes_ = 0;
  // The full mask last read, and through which handle: the listing probe writes exactly that
  // back. Read at open, it stands for GetProcessAffinityMask only if that is the next call.
  CpuSet lastRead_;
  ProcessHandle lastReadHandle_ = kNoProcess;
  bool lastReadAtOpen_ = false;
  std::unordered_map<ProcessHandle, ProcessId> opened_;
  ProcessHandle nextHandle_ = 1;
  // Paths read by the latest snapshot, in ascending pid order (the order /proc lists them).
  std::vector<std::pair<ProcessId, std::string>> snapshotPaths_;
  std::chrono::steady_clock::time_point snapshotTime_{};
  // Processes of the latest snapshot whose main thread has ended, with the live thread used instead.
  std::unordered_map<ProcessId, pid_t> liveThreads_;
  ProcessorSet online_;
  std::chrono::steady_clock::time_point onlineTime_{};
  // The task directories of the processes whose threads were checked lately. Every watched process
  // has them checked every tick, and opening the directory costs more than listing it does.
  struct TaskDir {
    ProcessId pid = 0;
    int fd = -1;
    std::uint64_t used = 0;
    // Every thread of the last complete listing. While the kernel counts as many threads and each
    // of these still answers, they are the threads: the directory need not be listed again.
    std::vector<pid_t> tids;
    // The reads and moves of the ids at the last check that knew every thread.
    std::uint64_t checkedAtRead = 0;
    std::uint64_t movesAtCheck = 0;
  };
  std::vector<TaskDir> taskDirs_;
  std::size_t taskDirRoom_ = 0;
  std::uint64_t taskDirUses_ = 0;
  const AllocatedIds* ids_ = nullptr;
};

}  // namespace platform
