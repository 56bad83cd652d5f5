#pragma once
// The Windows edition's system services: the tool-help process list, the process and process-status
// calls for masks and executable paths, the window calls for the top-level windows, local time.
#include "platform/system.h"

namespace platform {

class Win32System final : public ISystem {
 public:
  bool SnapshotProcesses(std::vector<ProcessEntry>& out) override;
  ProcessHandle OpenProcess(std::uint32_t desiredAccess, ProcessId pid) override;
  void CloseHandle(ProcessHandle handle) override;
  bool GetProcessAffinityMask(ProcessHandle handle, ProcessorSet& processMask, ProcessorSet& systemMask) override;
  bool SetProcessAffinityMask(ProcessHandle handle, const ProcessorSet& mask) override;
  bool RewriteProcessAffinityMask(ProcessHandle handle, const ProcessorSet& currentMask) override;
  // The process's mask stands for its threads: Windows keeps one per process.
  bool EveryThreadHasMask(ProcessHandle handle, const ProcessorSet& mask) override;
  bool IsProcessRunning(ProcessId pid) override;
  std::string GetProcessImagePath(ProcessHandle handle) override;
  std::uint32_t GetProcessorCount() override;

  void EnumTopLevelWindows(std::vector<WindowHandle>& out) override;
  std::string WindowTitle(WindowHandle window, std::size_t bufferSize) override;
  std::string WindowClass(WindowHandle window) override;
  bool IsWindowVisible(WindowHandle window) override;
  WindowHandle WindowOwner(WindowHandle window) override;
  ProcessId WindowProcessId(WindowHandle window) override;
  // The settings dialog shows the executable's icon from the shell here, as the system's lists do.
  std::vector<std::uint8_t> WindowIcon(WindowHandle, int) override { return {}; }
  bool ListsOnlySomeWindows() override { return false; }

  std::tm LocalNow() override;

  Topology ReadProcessorTopology() override;
};

}  // namespace platform
