#pragma once
// The system services the observation engine needs, shaped after the Windows calls they stand for so
// that the Win32 layer maps one to one. platform/linux/ is the real Linux implementation,
// platform/fake/ an in-memory one for tests, platform/win32/ the Windows one.
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "platform/processor_set.h"
#include "platform/topology.h"
#include "platform/types.h"

namespace platform {

// The part of the system's process record (PROCESSENTRY32) the program carries along.
struct ProcessEntry {
  ProcessId th32ProcessID = 0;
  // File name of the executable in the case the system reports it, zero-terminated.
  char szExeFile[260] = {};
};

class IProcessApi {
 public:
  virtual ~IProcessApi() = default;
  // CreateToolhelp32Snapshot + Process32First/Process32Next. False: no snapshot could be taken.
  virtual bool SnapshotProcesses(std::vector<ProcessEntry>& out) = 0;
  // OpenProcess (not inheritable). kNoProcess on failure.
  virtual ProcessHandle OpenProcess(std::uint32_t desiredAccess, ProcessId pid) = 0;
  virtual void CloseHandle(ProcessHandle handle) = 0;
  // The process's processors, and the system's (those it may be given).
  virtual bool GetProcessAffinityMask(ProcessHandle handle, ProcessorSet& processMask, ProcessorSet& systemMask) = 0;
  // Gives the whole process the set. Fails, changing nothing, for the empty set, a processor not
  // online, or one the system's calls cannot address (on Windows, any outside the program's group of
  // 64): a set is never cut to fit.
  virtual bool SetProcessAffinityMask(ProcessHandle handle, const ProcessorSet& mask) = 0;
  // The listing probe: writes back the set the process already has and must change nothing.
  virtual bool RewriteProcessAffinityMask(ProcessHandle handle, const ProcessorSet& currentMask) = 0;
  // Whether every thread of the process runs with exactly this mask. Linux keeps a mask per thread,
  // and a thread may set its own; Windows keeps one per process, which is then compared. False also
  // when the threads cannot be read. Costs a read per thread: asked only of watched processes.
  virtual bool EveryThreadHasMask(ProcessHandle handle, const ProcessorSet& mask) = 0;
  // Whether the process still runs: false once it has ended, also while nobody has collected it.
  virtual bool IsProcessRunning(ProcessId pid) = 0;
  // EnumProcessModules + GetModuleFileNameExA of the first module: the executable's full path,
  // empty when it cannot be read.
  virtual std::string GetProcessImagePath(ProcessHandle handle) = 0;
  // dwNumberOfProcessors: asked afresh at every use, never cached by callers.
  virtual std::uint32_t GetProcessorCount() = 0;
};

class IWindowApi {
 public:
  virtual ~IWindowApi() = default;
  // EnumWindows: every top-level window, in the system's order (top of the stack first).
  virtual void EnumTopLevelWindows(std::vector<WindowHandle>& out) = 0;
  // GetWindowTextA into a buffer of bufferSize bytes: at most bufferSize - 1 bytes of the title.
  virtual std::string WindowTitle(WindowHandle window, std::size_t bufferSize) = 0;
  // GetClassNameA.
  virtual std::string WindowClass(WindowHandle window) = 0;
  virtual bool IsWindowVisible(WindowHandle window) = 0;
  // GetWindow(GW_OWNER); kNoWindow when it has none.
  virtual WindowHandle WindowOwner(WindowHandle window) = 0;
  // GetWindowThreadProcessId; 0 when the system gives none.
  virtual ProcessId WindowProcessId(WindowHandle window) = 0;
  // The window's own icon (the picture it hands the window manager) scaled to size by size pixels,
  // RGBA, rows top first; empty when it brings none (then the program's file icon stands in).
  virtual std::vector<std::uint8_t> WindowIcon(WindowHandle window, int size) = 0;
  // True when the desktop has windows this list can never show (a Wayland session lists only its
  // X11 windows): an empty list then says nothing about the desktop.
  virtual bool ListsOnlySomeWindows() = 0;
};

class IClock {
 public:
  virtual ~IClock() = default;
  // The current calendar time converted to local time.
  virtual std::tm LocalNow() = 0;
};

class ITopologyApi {
 public:
  virtual ~ITopologyApi() = default;
  // How the machine's processors are built (core types, SMT siblings, L3 caches, NUMA nodes), read
  // afresh at every call: the dialogs' processor presets come from it.
  virtual Topology ReadProcessorTopology() = 0;
};

// Everything the engine asks of the system, in one place.
class ISystem : public IProcessApi, public IWindowApi, public IClock, public ITopologyApi {};

}  // namespace platform
