#include "platform/win32/win32_system.h"

// windows.h before the tool-help and process-status headers, which rely on its types.
#include <windows.h>
// clang-format off
#include <psapi.h>
#include <tlhelp32.h>
// clang-format on

#include <cstring>
#include <ctime>

#include "platform/win32/group_mask.h"
#include "platform/win32/win32_topology.h"

namespace platform {
namespace {

HANDLE AsHandle(ProcessHandle handle) { return reinterpret_cast<HANDLE>(handle); }
HWND AsWindow(WindowHandle window) { return reinterpret_cast<HWND>(window); }

// The module list holds the executable first; the rest of the room is never looked at.
constexpr DWORD kModuleSlots = 1000;
constexpr DWORD kPathBufferBytes = 4096;
constexpr int kClassBufferBytes = 128;

BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
  reinterpret_cast<std::vector<WindowHandle>*>(context)->push_back(reinterpret_cast<WindowHandle>(window));
  return TRUE;  // every top-level window is looked at
}

}  // namespace

bool Win32System::SnapshotProcesses(std::vector<ProcessEntry>& out) {
  out.clear();
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32 entry;
  std::memset(&entry, 0, sizeof entry);
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    ProcessEntry e;
    e.th32ProcessID = entry.th32ProcessID;
    static_assert(sizeof e.szExeFile == sizeof entry.szExeFile);
    std::memcpy(e.szExeFile, entry.szExeFile, sizeof e.szExeFile);
    e.szExeFile[sizeof e.szExeFile - 1] = '\0';
    out.push_back(e);
  }
  ::CloseHandle(snapshot);
  return true;
}

ProcessHandle Win32System::OpenProcess(std::uint32_t desiredAccess, ProcessId pid) {
  HANDLE handle = ::OpenProcess(desiredAccess, FALSE, pid);
  return handle != nullptr ? reinterpret_cast<ProcessHandle>(handle) : kNoProcess;
}

void Win32System::CloseHandle(ProcessHandle handle) {
  if (handle != kNoProcess) ::CloseHandle(AsHandle(handle));
}

bool Win32System::GetProcessAffinityMask(ProcessHandle handle, ProcessorSet& processMask, ProcessorSet& systemMask) {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (!::GetProcessAffinityMask(AsHandle(handle), &process, &system)) return false;
  // The masks of the program's processor group: processor n of the group is bit n.
  processMask = FromGroupMask(static_cast<std::uint64_t>(process));
  systemMask = FromGroupMask(static_cast<std::uint64_t>(system));
  return true;
}

bool Win32System::SetProcessAffinityMask(ProcessHandle handle, const ProcessorSet& mask) {
  // A set beyond the group's 64 processors is refused whole, never cut to the part that fits.
  std::uint64_t bits = 0;
  if (!ToGroupMask(mask, bits)) return false;
  return ::SetProcessAffinityMask(AsHandle(handle), static_cast<DWORD_PTR>(bits)) != FALSE;
}

bool Win32System::RewriteProcessAffinityMask(ProcessHandle handle, const ProcessorSet& currentMask) {
  return SetProcessAffinityMask(handle, currentMask);
}

bool Win32System::EveryThreadHasMask(ProcessHandle handle, const ProcessorSet& mask) {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  // Compared whole: the process has exactly the set's processors or it differs.
  return ::GetProcessAffinityMask(AsHandle(handle), &process, &system) &&
         FromGroupMask(static_cast<std::uint64_t>(process)) == mask;
}

bool Win32System::IsProcessRunning(ProcessId pid) {
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;  // there, but not ours to ask
  DWORD code = 0;
  const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  ::CloseHandle(process);
  return running;
}

std::string Win32System::GetProcessImagePath(ProcessHandle handle) {
  HMODULE modules[kModuleSlots];
  DWORD needed = 0;
  if (!EnumProcessModules(AsHandle(handle), modules, sizeof modules, &needed) || needed < sizeof(HMODULE)) return {};
  char path[kPathBufferBytes];
  const DWORD length = GetModuleFileNameExA(AsHandle(handle), modules[0], path, sizeof path);
  if (length == 0) return {};
  return std::string(path, strnlen(path, sizeof path));
}

std::uint32_t Win32System::GetProcessorCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors;
}

void Win32System::EnumTopLevelWindows(std::vector<WindowHandle>& out) {
  out.clear();
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&out));
}

std::string Win32System::WindowTitle(WindowHandle window, std::size_t bufferSize) {
  if (bufferSize == 0) return {};
  std::string buffer(bufferSize, '\0');
  const int length = GetWindowTextA(AsWindow(window), buffer.data(), static_cast<int>(bufferSize));
  if (length <= 0) return {};
  buffer.resize(strnlen(buffer.c_str(), bufferSize));
  return buffer;
}

std::string Win32System::WindowClass(WindowHandle window) {
  char name[kClassBufferBytes] = {};
  const int length = GetClassNameA(AsWindow(window), name, sizeof name);
  return length > 0 ? std::string(name, strnlen(name, sizeof name)) : std::string();
}

bool Win32System::IsWindowVisible(WindowHandle window) { return ::IsWindowVisible(AsWindow(window)) != FALSE; }

WindowHandle Win32System::WindowOwner(WindowHandle window) {
  return reinterpret_cast<WindowHandle>(GetWindow(AsWindow(window), GW_OWNER));
}

ProcessId Win32System::WindowProcessId(WindowHandle window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(AsWindow(window), &pid);
  return pid;
}

std::tm Win32System::LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_s(&local, &now) != 0) local = std::tm{};
  return local;
}

Topology Win32System::ReadProcessorTopology() { return ReadWindowsTopology(); }

}  // namespace platform
