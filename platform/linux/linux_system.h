#pragma once
// The real system on Linux: processes from procfs, masks through sched_*affinity, windows through
// X11, the local time of the C library.
#include "platform/linux/proc_processes.h"
#include "platform/linux/sysfs_topology.h"
#include "platform/linux/x11_windows.h"
#include "platform/system.h"

namespace platform {

class LinuxSystem final : public ISystem {
 public:
  // displayName: the X display whose windows are listed; nullptr = $DISPLAY.
  explicit LinuxSystem(const char* displayName = nullptr) : windows_(displayName) {}

  bool SnapshotProcesses(std::vector<ProcessEntry>& out) override { return processes_.SnapshotProcesses(out); }
  ProcessHandle OpenProcess(std::uint32_t desiredAccess, ProcessId pid) override {
    return processes_.OpenProcess(desiredAccess, pid);
  }
  void CloseHandle(ProcessHandle handle) override { processes_.CloseHandle(handle); }
  bool GetProcessAffinityMask(ProcessHandle handle, ProcessorSet& processMask, ProcessorSet& systemMask) override {
    return processes_.GetProcessAffinityMask(handle, processMask, systemMask);
  }
  bool SetProcessAffinityMask(ProcessHandle handle, const ProcessorSet& mask) override {
    return processes_.SetProcessAffinityMask(handle, mask);
  }
  bool RewriteProcessAffinityMask(ProcessHandle handle, const ProcessorSet& currentMask) override {
    return processes_.RewriteProcessAffinityMask(handle, currentMask);
  }
  bool EveryThreadHasMask(ProcessHandle handle, const ProcessorSet& mask) override {
    return processes_.EveryThreadHasMask(handle, mask);
  }
  bool IsProcessRunning(ProcessId pid) override { return processes_.IsProcessRunning(pid); }
  std::string GetProcessImagePath(ProcessHandle handle) override { return processes_.GetProcessImagePath(handle); }
  std::uint32_t GetProcessorCount() override { return processes_.GetProcessorCount(); }

  void EnumTopLevelWindows(std::vector<WindowHandle>& out) override { windows_.EnumTopLevelWindows(out); }
  std::string WindowTitle(WindowHandle window, std::size_t bufferSize) override {
    return windows_.WindowTitle(window, bufferSize);
  }
  std::string WindowClass(WindowHandle window) override { return windows_.WindowClass(window); }
  bool IsWindowVisible(WindowHandle window) override { return windows_.IsWindowVisible(window); }
  WindowHandle WindowOwner(WindowHandle window) override { return windows_.WindowOwner(window); }
  ProcessId WindowProcessId(WindowHandle window) override { return windows_.WindowProcessId(window); }
  std::vector<std::uint8_t> WindowIcon(WindowHandle window, int size) override {
    return windows_.WindowIcon(window, size);
  }
  bool ListsOnlySomeWindows() override { return X11Windows::WaylandSession(); }

  std::tm LocalNow() override;

  Topology ReadProcessorTopology() override { return ReadSysfsTopology(); }

  void FollowIds(const AllocatedIds* ids) { processes_.FollowIds(ids); }

 private:
  ProcProcesses processes_;
  X11Windows windows_;
};

}  // namespace platform
