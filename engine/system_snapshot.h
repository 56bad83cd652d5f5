#pragma once
// The program's picture of the running system: the processes whose mask it can change, with
// their executable paths and masks, and the visible top-level application windows. Menus and
// dialogs address both lists by position, so their order matters.
#include <cstdint>
#include <string>
#include <vector>

#include "framework/message_box.h"
#include "platform/system.h"

struct ProcessInfo {
  // Processors of affinityMask among the first N (N asked of the system at the refresh).
  std::int32_t cpuCount = 0;
  // The processors read at the refresh; not updated when the program changes them later.
  platform::ProcessorSet affinityMask;
  platform::ProcessEntry entry;
  // Full executable path, lower-cased by ToLowerAscii; never empty in a listed entry.
  std::string exePath;
};

struct WindowInfo {
  platform::WindowHandle hwnd = platform::kNoWindow;
};

class SystemSnapshot {
 public:
  SystemSnapshot(platform::ISystem& system, framework::IMessageBoxes& messageBoxes)
      : system_(system), messageBoxes_(messageBoxes) {}

  // Rebuilds windows, then processes, from the system. Always true: what cannot be read is
  // left out.
  bool Refresh();
  // Index of the first listed process that owns the window, or -1. Reads the list only.
  int FindProcessByWindow(platform::WindowHandle window) const;
  // Switches processor on or off in the set read at the last refresh of process index and gives
  // the process the result, every other processor as it was. True if the system accepted it. A process that cannot be
  // opened is reported with a message box; a refused mask is not.
  bool SetProcessorEnabled(int processor, int index, bool enable);
  // Gives process index exactly the processors of set, with the same reports.
  bool SetProcessors(int index, const platform::ProcessorSet& set);

  platform::ISystem& System() const { return system_; }

  std::vector<ProcessInfo> processes;
  std::vector<WindowInfo> windows;

 private:
  void RefreshWindows();
  void RefreshProcesses();

  platform::ISystem& system_;
  framework::IMessageBoxes& messageBoxes_;
};

// The full path of the open process's main executable; empty when it cannot be read.
std::string GetProcessExePath(platform::IProcessApi& processes, platform::ProcessHandle process);

// The order of SystemSnapshot::processes by szExeFile: names that begin with a lower-case ASCII
// letter first, then byte by byte (unsigned, a prefix first).
bool ComesBefore(const ProcessInfo& a, const ProcessInfo& b);
