#include "engine/observation_cycle.h"

void RunObservationCycle(const WatchList& watchList, SystemSnapshot& snapshot, const QuickChangedPaths& quickChanged,
                         ActivityLog& log, std::FILE* out) {
  if (out != nullptr) std::fputs("observing...\n", out);
  snapshot.Refresh();
  log.ForgetEndedProcesses(snapshot.processes);
  platform::ISystem& system = snapshot.System();

  for (std::size_t e = 0; e < watchList.Count(); ++e) {
    const WatchEntry& entry = watchList[e];
    if (quickChanged.count(entry.exePath) != 0) {
      if (out != nullptr) std::fprintf(out, " %s is quick changed. so don't care it.\n", EscapeForLog(entry.exePath).c_str());
      continue;
    }
    // Every entry is compared with the mask read at the start of the tick, so two entries for
    // one path both act on a process that has neither mask.
    for (const ProcessInfo& process : snapshot.processes) {
      if (process.exePath != entry.exePath) continue;
      if (process.affinityMask == entry.affinityMask) continue;
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
      } else {
        log.RecordFailure(pid, entry.affinityMask, entry.exePath);
      }
    }
  }
}
