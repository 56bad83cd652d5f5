#pragma once
// Processes on Linux: procfs for the list and the executable paths, sched_getaffinity and
// sched_setaffinity for the masks. Shaped after the Windows process calls so that the portable
// engine sees the same behaviour on both systems.
#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/system.h"

namespace platform {

// The processors that are online, as a 32-bit mask (processors 32 and up are not addressable).
// Read from /sys/devices/system/cpu/online; falls back to the first sysconf(_SC_NPROCESSORS_ONLN).
AffinityMask OnlineProcessorMask();

// The executable path behind a /proc/PID/exe link text: the kernel's " (deleted)" marker of a
// removed file is taken off. `linkText` is what readlink gave; `procExe` names the link itself so
// that a file whose real name ends in " (deleted)" keeps it.
std::string ExePathFromLink(const std::string& linkText, const char* procExe);

class ProcProcesses final : public IProcessApi {
 public:
  ProcProcesses();
  ~ProcProcesses() override;
  ProcProcesses(const ProcProcesses&) = delete;
  ProcProcesses& operator=(const ProcProcesses&) = delete;

  // The numeric entries of /proc whose executable link can be read. szExeFile is the file-name
  // part of that path in its original case. th32ParentProcessID and cntThreads stay 0: nothing
  // reads them, and filling them would cost a /proc/PID/stat read per process.
  bool SnapshotProcesses(std::vector<ProcessEntry>& out) override;
  // The handle holds the /proc/PID directory of the process open. Setting a mask through it is
  // bound to that process: it fails once the process has ended, even if its id was reused.
  ProcessHandle OpenProcess(std::uint32_t desiredAccess, ProcessId pid) override;
  void CloseHandle(ProcessHandle handle) override;
  // The main thread's mask, cut to 32 bits; systemMask is the online processors.
  bool GetProcessAffinityMask(ProcessHandle handle, AffinityMask& processMask, AffinityMask& systemMask) override;
  // Every thread of the process (threads that appear meanwhile included) gets the mask. Fails,
  // changing nothing, for 0, a processor that is not online, or a thread that refuses it.
  bool SetProcessAffinityMask(ProcessHandle handle, AffinityMask mask) override;
  // Writes the main thread's own full mask back to the main thread: proves the right to set it
  // and changes nothing. currentMask is not needed for that.
  bool RewriteProcessAffinityMask(ProcessHandle handle, AffinityMask currentMask) override;
  // The executable path; " (deleted)" is taken off. Right after a snapshot the path that the
  // snapshot read is used instead of reading the link a second time.
  std::string GetProcessImagePath(ProcessHandle handle) override;
  std::uint32_t GetProcessorCount() override;

 private:
  struct Opened {
    ProcessId pid = 0;
    int dirFd = -1;
  };
  const Opened* Find(ProcessHandle handle) const;
  bool StillRunning(const Opened& opened) const;
  std::string ReadExePath(int dirFd, ProcessId pid) const;

  int procFd_ = -1;
  std::size_t cpuSetBytes_ = 0;
  std::unordered_map<ProcessHandle, Opened> opened_;
  // Paths read by the latest snapshot, in ascending pid order (the order /proc lists them).
  std::vector<std::pair<ProcessId, std::string>> snapshotPaths_;
  std::chrono::steady_clock::time_point snapshotTime_{};
};

}  // namespace platform
