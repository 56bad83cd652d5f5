#include "engine/system_snapshot.h"

#include <algorithm>
#include <cstring>

#include "base/text.h"
#include "res/texts.h"

namespace {

// Title and class are read as into the 128-byte buffers of the window calls.
constexpr std::size_t kWindowTextBuffer = 128;

bool IsLowerAsciiLetter(char c) { return c >= 'a' && c <= 'z'; }

}  // namespace

bool ComesBefore(const ProcessInfo& a, const ProcessInfo& b) {
  const char* nameA = a.entry.szExeFile;
  const char* nameB = b.entry.szExeFile;
  bool lowerA = IsLowerAsciiLetter(nameA[0]);
  bool lowerB = IsLowerAsciiLetter(nameB[0]);
  if (lowerA != lowerB) return lowerA;
  std::size_t lengthA = NameLength(nameA, sizeof a.entry.szExeFile);
  std::size_t lengthB = NameLength(nameB, sizeof b.entry.szExeFile);
  int order = std::memcmp(nameA, nameB, std::min(lengthA, lengthB));  // compares unsigned bytes
  return order != 0 ? order < 0 : lengthA < lengthB;
}

std::string GetProcessExePath(platform::IProcessApi& processes, platform::ProcessHandle process) {
  return processes.GetProcessImagePath(process);
}

bool SystemSnapshot::Refresh() {
  RefreshWindows();
  RefreshProcesses();
  return true;
}

void SystemSnapshot::RefreshWindows() {
  windows.clear();
  windows.shrink_to_fit();
  std::vector<platform::WindowHandle> all;
  system_.EnumTopLevelWindows(all);
  for (platform::WindowHandle window : all) {
    std::string title = system_.WindowTitle(window, kWindowTextBuffer);
    std::string className = system_.WindowClass(window);
    if (className.size() >= kWindowTextBuffer) className.resize(kWindowTextBuffer - 1);
    if (!system_.IsWindowVisible(window)) continue;
    if (system_.WindowOwner(window) != platform::kNoWindow) continue;
    if (title.empty()) continue;
    if (className == "Progman") continue;
    windows.push_back(WindowInfo{window});
  }
}

void SystemSnapshot::RefreshProcesses() {
  std::vector<platform::ProcessEntry> entries;
  bool haveSnapshot = system_.SnapshotProcesses(entries);
  std::uint32_t processorCount = system_.GetProcessorCount();

  processes.clear();
  processes.shrink_to_fit();
  if (!haveSnapshot) return;
  processes.reserve(entries.size());
  for (const platform::ProcessEntry& entry : entries) {
    platform::ProcessHandle handle = system_.OpenProcess(platform::kListRights, entry.th32ProcessID);
    if (handle == platform::kNoProcess) continue;
    platform::ProcessorSet processMask;
    platform::ProcessorSet systemMask;
    // Only a process whose mask the program could actually set is listed.
    if (system_.GetProcessAffinityMask(handle, processMask, systemMask) &&
        system_.RewriteProcessAffinityMask(handle, processMask)) {
      std::string path = GetProcessExePath(system_, handle);
      if (!path.empty()) {
        ProcessInfo& info = processes.emplace_back();
        info.cpuCount = static_cast<std::int32_t>(processMask.CountBelow(processorCount));
        info.affinityMask = processMask;
        info.entry = entry;
        info.exePath = std::move(ToLowerAscii(path));
      }
    }
    system_.CloseHandle(handle);
  }
  // Sorting positions instead of the entries moves a few bytes per step, not a whole record.
  std::vector<std::uint32_t> order(processes.size());
  for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [this](std::uint32_t a, std::uint32_t b) { return ComesBefore(processes[a], processes[b]); });
  std::vector<ProcessInfo> sorted;
  sorted.reserve(processes.size());
  for (std::uint32_t i : order) sorted.push_back(std::move(processes[i]));
  processes = std::move(sorted);
}

int SystemSnapshot::FindProcessByWindow(platform::WindowHandle window) const {
  platform::ProcessId pid = system_.WindowProcessId(window);
  for (std::size_t i = 0; i < processes.size(); ++i) {
    if (processes[i].entry.th32ProcessID == pid) return static_cast<int>(i);
  }
  return -1;
}

bool SystemSnapshot::SetProcessorEnabled(int processor, int index, bool enable) {
  if (index < 0 || static_cast<std::size_t>(index) >= processes.size()) return false;
  if (processor < 0 || static_cast<unsigned>(processor) >= platform::ProcessorSet::kCapacity) return false;
  platform::ProcessorSet set = processes[static_cast<std::size_t>(index)].affinityMask;
  set.Assign(static_cast<unsigned>(processor), enable);
  return SetProcessors(index, set);
}

bool SystemSnapshot::SetProcessors(int index, const platform::ProcessorSet& set) {
  if (index < 0 || static_cast<std::size_t>(index) >= processes.size()) return false;
  const ProcessInfo& info = processes[static_cast<std::size_t>(index)];
  platform::ProcessHandle handle = system_.OpenProcess(platform::kSetRights, info.entry.th32ProcessID);
  if (handle == platform::kNoProcess) {
    // Shown when a process picked from the list can no longer be opened.
    messageBoxes_.ShowMessageBox(0, res::Text(res::TextId::kProcessUnavailable), nullptr, MB_OK);
    return false;
  }
  bool accepted = system_.SetProcessAffinityMask(handle, set);
  system_.CloseHandle(handle);
  return accepted;
}
