#include "engine/observation_cycle.h"

#include <algorithm>
#include <vector>

namespace {

// One thing the tick does for an entry: a process to compare, or the note that the entry's path is
// quick changed.
struct Step {
  std::size_t entry;
  std::size_t process;
};
constexpr std::size_t kQuickChanged = static_cast<std::size_t>(-1);

}  // namespace

void RunObservationCycle(const WatchList& watchList, SystemSnapshot& snapshot, const QuickChangedPaths& quickChanged,
                         ActivityLog& log, std::FILE* out) {
  if (out != nullptr) std::fputs("observing...\n", out);
  snapshot.Refresh();
  log.ForgetEndedProcesses(snapshot.processes);
  platform::ISystem& system = snapshot.System();
  const std::vector<ProcessInfo>& processes = snapshot.processes;

  // Each process is looked up once by its path, so the length of the list costs nothing here. The
  // steps are then taken in the order of the entries and, within an entry, of the processes, as a
  // walk over the whole list would take them.
  std::vector<Step> steps;
  std::vector<std::size_t> entries;
  for (std::size_t p = 0; p < processes.size(); ++p) {
    watchList.FindAll(processes[p].exePath, entries);
    if (entries.empty() || quickChanged.count(processes[p].exePath) != 0) continue;
    for (std::size_t e : entries) steps.push_back(Step{e, p});
  }
  for (const std::string& path : quickChanged) {
    watchList.FindAll(path, entries);
    for (std::size_t e : entries) steps.push_back(Step{e, kQuickChanged});
  }
  if (steps.empty()) return;
  std::stable_sort(steps.begin(), steps.end(), [](const Step& a, const Step& b) { return a.entry < b.entry; });

  // A process whose main thread had an entry's mask at the refresh may still have a thread that set
  // its own. That is read once per process, before this tick changes anything, so that every entry
  // is compared with the process as it was at the start of the tick.
  enum : unsigned char { kUnread, kUniform, kMixed };
  std::vector<unsigned char> threads(processes.size(), kUnread);
  for (const Step& step : steps) {
    if (step.process == kQuickChanged || threads[step.process] != kUnread) continue;
    const ProcessInfo& process = processes[step.process];
    if (process.affinityMask != watchList[step.entry].affinityMask) continue;
    bool uniform = false;
    const platform::ProcessHandle handle = system.OpenProcess(platform::kQueryRights, process.entry.th32ProcessID);
    if (handle != platform::kNoProcess) {
      uniform = system.EveryThreadHasMask(handle, process.affinityMask);
      system.CloseHandle(handle);
    }
    threads[step.process] = uniform ? kUniform : kMixed;
  }

  for (const Step& step : steps) {
    const WatchEntry& entry = watchList[step.entry];
    if (step.process == kQuickChanged) {
      if (out != nullptr) std::fprintf(out, " %s is quick changed. so don't care it.\n", EscapeForLog(entry.exePath).c_str());
      continue;
    }
    const ProcessInfo& process = processes[step.process];
    if (process.affinityMask == entry.affinityMask && threads[step.process] == kUniform) continue;
    const platform::ProcessId pid = process.entry.th32ProcessID;
    bool accepted = false;
    platform::ProcessHandle handle = system.OpenProcess(platform::kSetRights, pid);
    if (handle != platform::kNoProcess) {
      accepted = system.SetProcessAffinityMask(handle, entry.affinityMask);
      system.CloseHandle(handle);
    }
    if (accepted) {
      log.ForgetFailure(pid, entry.affinityMask, entry.exePath);
      log.RecordChange(entry.affinityMask, entry.exePath);
    } else if (system.IsProcessRunning(pid)) {
      // A process that ended meanwhile refused nothing: it gets no record.
      log.RecordFailure(pid, entry.affinityMask, entry.exePath);
    }
  }
}
