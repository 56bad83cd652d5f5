#include "platform/fake/fake_system.h"

#include <algorithm>
#include <cstring>

namespace platform {

FakeProcess& FakeSystem::AddProcess(ProcessId pid, const std::string& path, const ProcessorSet& mask) {
  FakeProcess& process = processes_.emplace_back();
  process.pid = pid;
  process.imagePath = path;
  std::size_t separator = path.find_last_of("\\/");
  process.exeFile = separator == std::string::npos ? path : path.substr(separator + 1);
  process.mask = mask;
  return process;
}

FakeProcess* FakeSystem::FindProcess(ProcessId pid) {
  for (FakeProcess& process : processes_) {
    if (process.pid == pid) return &process;
  }
  return nullptr;
}

bool FakeSystem::RemoveProcess(ProcessId pid) {
  auto it = std::find_if(processes_.begin(), processes_.end(), [pid](const FakeProcess& p) { return p.pid == pid; });
  if (it == processes_.end()) return false;
  processes_.erase(it);
  return true;
}

FakeWindow& FakeSystem::AddWindow(WindowHandle handle, const std::string& title, const std::string& className,
                                  ProcessId pid) {
  FakeWindow& window = windows_.emplace_back();
  window.handle = handle;
  window.title = title;
  window.className = className;
  window.pid = pid;
  return window;
}

FakeWindow* FakeSystem::FindWindow(WindowHandle handle) {
  for (FakeWindow& window : windows_) {
    if (window.handle == handle) return &window;
  }
  return nullptr;
}

bool FakeSystem::RemoveWindow(WindowHandle handle) {
  auto it =
      std::find_if(windows_.begin(), windows_.end(), [handle](const FakeWindow& w) { return w.handle == handle; });
  if (it == windows_.end()) return false;
  windows_.erase(it);
  return true;
}

std::size_t FakeSystem::CountCalls(FakeCall call) const {
  return static_cast<std::size_t>(
      std::count_if(calls_.begin(), calls_.end(), [call](const FakeCallRecord& r) { return r.call == call; }));
}

std::size_t FakeSystem::CountCalls(FakeCall call, ProcessId pid) const {
  return static_cast<std::size_t>(std::count_if(
      calls_.begin(), calls_.end(), [call, pid](const FakeCallRecord& r) { return r.call == call && r.pid == pid; }));
}

void FakeSystem::Note(FakeCall call, ProcessId pid, WindowHandle window, const ProcessorSet& mask,
                      std::uint32_t access) {
  FakeCallRecord record{call, pid, window, mask, access};
  if (beforeCall) beforeCall(record);
  calls_.push_back(record);
}

ProcessId FakeSystem::PidOf(ProcessHandle handle) const {
  auto it = handles_.find(handle);
  return it == handles_.end() ? 0 : it->second;
}

FakeProcess* FakeSystem::ProcessOf(ProcessHandle handle) {
  auto it = handles_.find(handle);
  return it == handles_.end() ? nullptr : FindProcess(it->second);
}

ProcessorSet FakeSystem::SystemMask() const { return ProcessorSet::FirstN(processorCount); }

bool FakeSystem::SnapshotProcesses(std::vector<ProcessEntry>& out) {
  Note(FakeCall::kSnapshot, 0);
  out.clear();
  if (failSnapshot) return false;
  for (const FakeProcess& process : processes_) {
    ProcessEntry& entry = out.emplace_back();
    entry.th32ProcessID = process.pid;
    std::size_t length = std::min(process.exeFile.size(), sizeof(entry.szExeFile) - 1);
    std::memcpy(entry.szExeFile, process.exeFile.data(), length);
    entry.szExeFile[length] = '\0';
  }
  return true;
}

ProcessHandle FakeSystem::OpenProcess(std::uint32_t desiredAccess, ProcessId pid) {
  Note(FakeCall::kOpen, pid, kNoWindow, 0, desiredAccess);
  FakeProcess* process = FindProcess(pid);
  if (process == nullptr || process->failOpen) return kNoProcess;
  ProcessHandle handle = nextHandle_++;
  handles_[handle] = pid;
  return handle;
}

void FakeSystem::CloseHandle(ProcessHandle handle) {
  Note(FakeCall::kClose, PidOf(handle));
  handles_.erase(handle);
}

bool FakeSystem::GetProcessAffinityMask(ProcessHandle handle, ProcessorSet& processMask, ProcessorSet& systemMask) {
  Note(FakeCall::kGetMask, PidOf(handle));
  FakeProcess* process = ProcessOf(handle);
  if (process == nullptr || process->failGetMask) return false;
  processMask = process->mask;
  systemMask = SystemMask();
  return true;
}

bool FakeSystem::SetProcessAffinityMask(ProcessHandle handle, const ProcessorSet& mask) {
  Note(FakeCall::kSetMask, PidOf(handle), kNoWindow, mask);
  FakeProcess* process = ProcessOf(handle);
  if (process == nullptr || process->failSetMask) return false;
  if (mask.Empty() || !SystemMask().Contains(mask)) return false;
  process->mask = mask;
  for (ProcessorSet& thread : process->threadMasks) thread = mask;
  return true;
}

bool FakeSystem::RewriteProcessAffinityMask(ProcessHandle handle, const ProcessorSet& currentMask) {
  Note(FakeCall::kRewrite, PidOf(handle), kNoWindow, currentMask);
  FakeProcess* process = ProcessOf(handle);
  return process != nullptr && !process->failRewrite && !process->failSetMask;
}

bool FakeSystem::EveryThreadHasMask(ProcessHandle handle, const ProcessorSet& mask) {
  Note(FakeCall::kThreadMasks, PidOf(handle), kNoWindow, mask);
  FakeProcess* process = ProcessOf(handle);
  if (process == nullptr || process->failThreadMasks || process->mask != mask) return false;
  return std::all_of(process->threadMasks.begin(), process->threadMasks.end(),
                     [&mask](const ProcessorSet& thread) { return thread == mask; });
}

bool FakeSystem::IsProcessRunning(ProcessId pid) {
  Note(FakeCall::kIsRunning, pid);
  return FindProcess(pid) != nullptr;
}

std::string FakeSystem::GetProcessImagePath(ProcessHandle handle) {
  Note(FakeCall::kImagePath, PidOf(handle));
  FakeProcess* process = ProcessOf(handle);
  if (process == nullptr || process->failImagePath) return {};
  return process->imagePath;
}

std::uint32_t FakeSystem::GetProcessorCount() {
  Note(FakeCall::kProcessorCount, 0);
  return processorCount;
}

void FakeSystem::EnumTopLevelWindows(std::vector<WindowHandle>& out) {
  Note(FakeCall::kEnumWindows, 0);
  out.clear();
  for (const FakeWindow& window : windows_) out.push_back(window.handle);
}

std::string FakeSystem::WindowTitle(WindowHandle window, std::size_t bufferSize) {
  Note(FakeCall::kWindowTitle, 0, window);
  FakeWindow* w = FindWindow(window);
  if (w == nullptr || w->failTitle || bufferSize == 0) return {};
  return w->title.substr(0, std::min(w->title.size(), bufferSize - 1));
}

std::string FakeSystem::WindowClass(WindowHandle window) {
  Note(FakeCall::kWindowClass, 0, window);
  FakeWindow* w = FindWindow(window);
  if (w == nullptr || w->failClass) return {};
  return w->className;
}

bool FakeSystem::IsWindowVisible(WindowHandle window) {
  Note(FakeCall::kIsVisible, 0, window);
  FakeWindow* w = FindWindow(window);
  return w != nullptr && !w->failVisible && w->visible;
}

WindowHandle FakeSystem::WindowOwner(WindowHandle window) {
  Note(FakeCall::kWindowOwner, 0, window);
  FakeWindow* w = FindWindow(window);
  if (w == nullptr || w->failOwner) return kNoWindow;
  return w->owner;
}

ProcessId FakeSystem::WindowProcessId(WindowHandle window) {
  Note(FakeCall::kWindowProcessId, 0, window);
  FakeWindow* w = FindWindow(window);
  if (w == nullptr || w->failProcessId) return 0;
  return w->pid;
}

std::tm FakeSystem::LocalNow() {
  Note(FakeCall::kLocalNow, 0);
  return now;
}

Topology FakeSystem::ReadProcessorTopology() {
  Note(FakeCall::kTopology, 0);
  if (topology) return *topology;
  Topology flat;
  flat.online = ProcessorSet::FirstN(processorCount);
  FinishTopology(flat);
  return flat;
}

}  // namespace platform

namespace platform {

std::vector<std::uint8_t> FakeSystem::WindowIcon(WindowHandle window, int) {
  const FakeWindow* w = FindWindow(window);
  return w != nullptr ? w->icon : std::vector<std::uint8_t>{};
}

}  // namespace platform
