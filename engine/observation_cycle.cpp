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

namespace observation {

void Apply(const WatchList& watchList, const std::vector<Candidate>& candidates, const QuickChangedPaths& quickChanged,
           ActivityLog& log, platform::ISystem& system, std::FILE* out, bool noteQuickChanged,
           const Questions& questions) {
  // Each process is looked up once by its path, so the length of the list costs nothing here. The
  // steps are then taken in the order of the entries and, within an entry, of the processes, as a
  // walk over the whole list would take them.
  std::vector<Step> steps;
  std::vector<std::size_t> entries;
  for (std::size_t p = 0; p < candidates.size(); ++p) {
    const std::string& path = *candidates[p].exePath;
    watchList.FindAll(path, entries);
    if (entries.empty() || quickChanged.count(path) != 0) continue;
    for (std::size_t e : entries) steps.push_back(Step{e, p});
  }
  if (noteQuickChanged) {
    for (const std::string& path : quickChanged) {
      watchList.FindAll(path, entries);
      for (std::size_t e : entries) steps.push_back(Step{e, kQuickChanged});
    }
  }
  if (steps.empty()) return;
  std::stable_sort(steps.begin(), steps.end(), [](const Step& a, const Step& b) { return a.entry < b.entry; });

  std::vector<unsigned char> has(steps.size(), 0);
  for (std::size_t i = 0; i < steps.size(); ++i) {
    if (steps[i].process != kQuickChanged) {
      has[i] = questions.hasMask(steps[i].process, watchList[steps[i].entry].affinityMask) ? 1 : 0;
    }
  }

  for (std::size_t i = 0; i < steps.size(); ++i) {
    const Step& step = steps[i];
    const WatchEntry& entry = watchList[step.entry];
    if (step.process == kQuickChanged) {
      if (out != nullptr)
        std::fprintf(out, " %s is quick changed. so don't care it.\n", EscapeForLog(entry.exePath).c_str());
      continue;
    }
    if (has[i] != 0) continue;
    if (questions.stillRuns && !questions.stillRuns(step.process)) continue;
    const platform::ProcessId pid = candidates[step.process].pid;
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

}  // namespace observation

void RunObservationCycle(const WatchList& watchList, SystemSnapshot& snapshot, const QuickChangedPaths& quickChanged,
                         ActivityLog& log, std::FILE* out) {
  if (out != nullptr) std::fputs("observing...\n", out);
  snapshot.Refresh();
  log.ForgetEndedProcesses(snapshot.processes);
  platform::ISystem& system = snapshot.System();
  const std::vector<ProcessInfo>& processes = snapshot.processes;
  std::vector<observation::Candidate> candidates;
  candidates.reserve(processes.size());
  for (const ProcessInfo& process : processes) candidates.push_back({process.entry.th32ProcessID, &process.exePath});

  // A process whose main thread had an entry's mask at the refresh may still have a thread that set
  // its own. That is read once per process.
  enum : unsigned char { kUnread, kUniform, kMixed };
  std::vector<unsigned char> threads(processes.size(), kUnread);
  observation::Questions questions;
  questions.hasMask = [&](std::size_t p, const platform::ProcessorSet& mask) {
    const ProcessInfo& process = processes[p];
    if (process.affinityMask != mask) return false;
    if (threads[p] == kUnread) {
      bool uniform = false;
      const platform::ProcessHandle handle = system.OpenProcess(platform::kQueryRights, process.entry.th32ProcessID);
      if (handle != platform::kNoProcess) {
        uniform = system.EveryThreadHasMask(handle, process.affinityMask);
        system.CloseHandle(handle);
      }
      threads[p] = uniform ? kUniform : kMixed;
    }
    return threads[p] == kUniform;
  };
  observation::Apply(watchList, candidates, quickChanged, log, system, out, true, questions);
}
