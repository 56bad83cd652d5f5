#pragma once
// An in-memory system for tests: processes and windows that tests set up, every step of which can
// be made to fail, processes that can vanish between any two calls (through beforeCall), and a
// record of the calls made.
#include <cstdint>
#include <ctime>
#include <functional>
#include <list>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/system.h"

namespace platform {

enum class FakeCall {
  kSnapshot,
  kOpen,
  kClose,
  kGetMask,
  kSetMask,
  kRewrite,
  kThreadMasks,
  kIsRunning,
  kImagePath,
  kProcessorCount,
  kEnumWindows,
  kWindowTitle,
  kWindowClass,
  kIsVisible,
  kWindowOwner,
  kWindowProcessId,
  kLocalNow,
  kTopology,
};

struct FakeCallRecord {
  FakeCall call;
  ProcessId pid = 0;         // the process the call was about (through its handle), 0 if none
  WindowHandle window = 0;   // the window the call was about
  ProcessorSet mask;         // the set passed to set/rewrite
  std::uint32_t access = 0;  // the rights asked of OpenProcess
};

struct FakeProcess {
  ProcessId pid = 0;
  std::string exeFile;    // szExeFile
  std::string imagePath;  // what GetProcessImagePath answers
  ProcessorSet mask;
  // The masks of its other threads; a set gives every thread the mask.
  std::vector<ProcessorSet> threadMasks;
  bool failOpen = false;
  bool failGetMask = false;
  bool failSetMask = false;  // SetProcessAffinityMask refuses every mask
  bool failRewrite = false;
  bool failThreadMasks = false;  // its threads cannot be read
  bool failImagePath = false;
};

struct FakeWindow {
  WindowHandle handle = kNoWindow;
  std::string title;
  std::string className;
  bool visible = true;
  WindowHandle owner = kNoWindow;
  ProcessId pid = 0;
  bool failTitle = false;  // GetWindowTextA gives nothing
  bool failClass = false;
  bool failVisible = false;
  bool failOwner = false;
  bool failProcessId = false;
  std::vector<std::uint8_t> icon;  // what WindowIcon answers (at any size asked)
};

class FakeSystem final : public ISystem {
 public:
  // dwNumberOfProcessors (up to ProcessorSet::kCapacity); sets naming a processor at or above it
  // are refused.
  std::uint32_t processorCount = 4;
  // What ListsOnlySomeWindows answers: a Wayland session, say.
  bool onlySomeWindows = false;
  bool failSnapshot = false;
  std::tm now{};
  // What ReadProcessorTopology answers; unset: processorCount processors, each a core of its own,
  // nothing else known (a machine on which only "all processors" means something).
  std::optional<Topology> topology;
  // Called before every call with the record of that call; may change the fake (remove a
  // process, say) to simulate what happens between two steps.
  std::function<void(const FakeCallRecord&)> beforeCall;

  // A process started from path; its szExeFile is the part after the last '\' or '/'.
  FakeProcess& AddProcess(ProcessId pid, const std::string& path, const ProcessorSet& mask);
  FakeProcess* FindProcess(ProcessId pid);
  // The process ends: later calls through handles to it fail.
  bool RemoveProcess(ProcessId pid);
  FakeWindow& AddWindow(WindowHandle handle, const std::string& title, const std::string& className, ProcessId pid);
  FakeWindow* FindWindow(WindowHandle handle);
  bool RemoveWindow(WindowHandle handle);

  const std::vector<FakeCallRecord>& Calls() const { return calls_; }
  std::size_t CountCalls(FakeCall call) const;
  std::size_t CountCalls(FakeCall call, ProcessId pid) const;
  void ClearCalls() { calls_.clear(); }
  // Handles opened and not yet closed.
  std::size_t OpenHandleCount() const { return handles_.size(); }

  bool SnapshotProcesses(std::vector<ProcessEntry>& out) override;
  ProcessHandle OpenProcess(std::uint32_t desiredAccess, ProcessId pid) override;
  void CloseHandle(ProcessHandle handle) override;
  bool GetProcessAffinityMask(ProcessHandle handle, ProcessorSet& processMask, ProcessorSet& systemMask) override;
  bool SetProcessAffinityMask(ProcessHandle handle, const ProcessorSet& mask) override;
  bool RewriteProcessAffinityMask(ProcessHandle handle, const ProcessorSet& currentMask) override;
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
  std::vector<std::uint8_t> WindowIcon(WindowHandle window, int size) override;
  bool ListsOnlySomeWindows() override { return onlySomeWindows; }

  std::tm LocalNow() override;

  Topology ReadProcessorTopology() override;

 private:
  void Note(FakeCall call, ProcessId pid, WindowHandle window = kNoWindow, const ProcessorSet& mask = {},
            std::uint32_t access = 0);
  ProcessId PidOf(ProcessHandle handle) const;
  // The live process behind a handle, nullptr once it has ended or for a bad handle.
  FakeProcess* ProcessOf(ProcessHandle handle);
  ProcessorSet SystemMask() const;

  std::list<FakeProcess> processes_;
  std::list<FakeWindow> windows_;
  std::map<ProcessHandle, ProcessId> handles_;
  ProcessHandle nextHandle_ = 100;
  std::vector<FakeCallRecord> calls_;
};

}  // namespace platform
