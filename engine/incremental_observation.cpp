#include "engine/incremental_observation.h"

#include <algorithm>

#include "base/text.h"

namespace {

using Look = platform::IProcessTable::Look;

// Looks at every process asked for by events come at most this often, so that a file that is read
// again and again costs no more than a full tick would. A little under a tick's period, so that a
// tick that comes a little early is not refused.
constexpr std::int64_t kEverythingGapUs = 900'000;
// How long a process that opened a watched file may take to show it as its executable: the kernel
// opens the file well before it switches the process over.
constexpr std::int64_t kExecWaitUs = 25'000;
constexpr std::int64_t kFirstPauseUs = 100;
constexpr std::int64_t kLongestPauseUs = 2'000;

}  // namespace

IncrementalObservation::IncrementalObservation(platform::ISystem& system, platform::IProcessTable& table,
                                               platform::IExecWatch* watch, Clock clock)
    : system_(system), table_(table), watch_(watch), clock_(std::move(clock)) {}

void IncrementalObservation::Follow(const WatchList& watchList) {
  if (following_ && watchList.Revision() == revision_) return;
  following_ = true;
  revision_ = watchList.Revision();
  if (watch_ != nullptr) {
    std::vector<std::string> paths;
    paths.reserve(watchList.Count());
    for (const WatchEntry& entry : watchList) paths.push_back(entry.exePath);
    watch_->Watch(paths);
  }
  // Whatever started while a new entry was not watched yet had no event.
  everythingDue_ = true;
  watched_.clear();
  table_.ForEach([&](const platform::TableProcess& process) {
    std::string path = ToLowerAsciiCopy(process.exePath);
    watchList.FindAll(path, entries_);
    if (!entries_.empty()) watched_[process.pid] = Watched{process.identity, std::move(path)};
  });
}

bool IncrementalObservation::EverythingAllowed(std::int64_t nowUs) const {
  return !lookedAtEverything_ || nowUs - lastEverythingUs_ >= kEverythingGapUs;
}

void IncrementalObservation::Update(Look look, const WatchList& watchList, std::vector<platform::ProcessId>* matched) {
  table_.Update(look, changes_);
  if (look == Look::kEverything) {
    lookedAtEverything_ = true;
    lastEverythingUs_ = clock_.nowUs();
    everythingDue_ = false;
  }
  for (platform::ProcessId pid : changes_.ended) watched_.erase(pid);
  for (const platform::TableProcess& process : changes_.started) {
    std::string path = ToLowerAsciiCopy(process.exePath);
    watchList.FindAll(path, entries_);
    if (entries_.empty()) {
      watched_.erase(process.pid);
      continue;
    }
    watched_[process.pid] = Watched{process.identity, std::move(path)};
    if (matched != nullptr) matched->push_back(process.pid);
  }
}

void IncrementalObservation::Tick(const WatchList& watchList, const QuickChangedPaths& quickChanged, ActivityLog& log,
                                  std::FILE* out) {
  if (out != nullptr) std::fputs("observing...\n", out);
  Follow(watchList);
  const std::int64_t now = clock_.nowUs();
  // A path that is not watched may be started by a process seen before, unseen but for a full look.
  const bool complete = watch_ != nullptr && watch_->Complete();
  const bool everything = (everythingDue_ || !complete) && EverythingAllowed(now);
  // Otherwise the round reads every process again over some tens of ticks, which finds what no event
  // told of (an exec within a process seen before, of a file that was not watched at that moment).
  Update(everything ? Look::kEverything : Look::kRound, watchList, nullptr);
  log.ForgetFailuresUnless([this](platform::ProcessId pid, const std::string& path) {
    auto it = watched_.find(pid);
    return it != watched_.end() && it->second.exePath == path;
  });
  Pin(watchList, nullptr, quickChanged, log, out);
}

void IncrementalObservation::HandleExecEvents(const WatchList& watchList, const QuickChangedPaths& quickChanged,
                                              ActivityLog& log) {
  if (watch_ == nullptr) return;
  const platform::IExecWatch::Events events = watch_->Take();
  if (events.opened.empty() && !events.lookAtEverything) return;
  Follow(watchList);
  if (events.lookAtEverything) everythingDue_ = true;

  // The process that opened the file is either new, or one seen shortly before (forked, then it ran
  // the file); it shows the file as its executable only once the kernel has switched it over.
  std::vector<std::string> waiting = events.opened;
  const std::int64_t start = clock_.nowUs();
  // After a search that found nothing (the file was read, not started), the next one within the gap
  // looks once and does not wait: reading a watched file over and over costs little.
  const bool wait = !hadFruitless_ || start - lastFruitlessUs_ >= kEverythingGapUs;
  std::vector<platform::ProcessId> matched;
  std::int64_t pause = kFirstPauseUs;
  for (;;) {
    matched.clear();
    Update(Look::kRecent, watchList, &matched);
    if (!matched.empty()) {
      for (platform::ProcessId pid : matched) {
        const std::string& path = watched_[pid].exePath;
        waiting.erase(std::remove(waiting.begin(), waiting.end(), path), waiting.end());
      }
      Pin(watchList, &matched, quickChanged, log, nullptr);
    }
    if (waiting.empty() || !wait) break;
    const std::int64_t elapsed = clock_.nowUs() - start;
    if (elapsed >= kExecWaitUs) break;
    clock_.sleepUs(std::min(pause, kExecWaitUs - elapsed));
    pause = std::min(pause * 2, kLongestPauseUs);
  }
  if (!waiting.empty()) {
    // A known process that started the file long after it was seen, or only a read: a look at
    // every process tells.
    hadFruitless_ = true;
    lastFruitlessUs_ = start;
    everythingDue_ = true;
  }
  if (everythingDue_ && EverythingAllowed(clock_.nowUs())) {
    matched.clear();
    Update(Look::kEverything, watchList, &matched);
    if (!matched.empty()) Pin(watchList, &matched, quickChanged, log, nullptr);
  }
}

void IncrementalObservation::DropExecEvents() {
  if (watch_ == nullptr) return;
  const platform::IExecWatch::Events events = watch_->Take();
  if (!events.opened.empty() || events.lookAtEverything) everythingDue_ = true;
}

void IncrementalObservation::Pin(const WatchList& watchList, const std::vector<platform::ProcessId>* pids,
                                 const QuickChangedPaths& quickChanged, ActivityLog& log, std::FILE* out) {
  std::vector<std::map<platform::ProcessId, Watched>::iterator> items;
  if (pids == nullptr) {
    for (auto it = watched_.begin(); it != watched_.end(); ++it) items.push_back(it);
  } else {
    std::vector<platform::ProcessId> sorted = *pids;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    for (platform::ProcessId pid : sorted) {
      auto it = watched_.find(pid);
      if (it != watched_.end()) items.push_back(it);
    }
  }
  if (items.empty() && quickChanged.empty()) return;
  std::vector<observation::Candidate> candidates;
  candidates.reserve(items.size());
  for (const auto& it : items) candidates.push_back(observation::Candidate{it->first, &it->second.exePath});

  struct State {
    std::vector<std::pair<platform::ProcessorSet, bool>> answers;
    bool gone = false;
    bool checked = false;
    bool same = false;
    std::string path;  // what it runs now, when not the same
  };
  std::vector<State> states(items.size());
  observation::Questions questions;
  questions.hasMask = [&](std::size_t c, const platform::ProcessorSet& mask) {
    State& state = states[c];
    if (state.gone) return true;  // nothing to set, nothing to record
    for (const auto& [asked, every] : state.answers) {
      if (asked == mask) return every;
    }
    const platform::ProcessHandle handle = system_.OpenProcess(platform::kQueryRights, items[c]->first);
    if (handle == platform::kNoProcess) {
      state.gone = true;
      return true;
    }
    const bool every = system_.EveryThreadHasMask(handle, mask);
    system_.CloseHandle(handle);
    state.answers.emplace_back(mask, every);
    return every;
  };
  // The table may be a little behind: the id may have passed to another process, or the process
  // may have started another file; neither is given the entry's mask.
  questions.stillRuns = [&](std::size_t c) {
    State& state = states[c];
    if (state.checked) return state.same;
    state.checked = true;
    const Watched& watched = items[c]->second;
    if (!table_.CurrentPath(items[c]->first, watched.identity, state.path)) {
      state.gone = true;
      return false;
    }
    ToLowerAscii(state.path);
    state.same = state.path == watched.exePath;
    return state.same;
  };
  observation::Apply(watchList, candidates, quickChanged, log, system_, out, out != nullptr, questions);

  for (std::size_t c = 0; c < items.size(); ++c) {
    const State& state = states[c];
    if (state.gone) {
      watched_.erase(items[c]);
    } else if (state.checked && !state.same) {
      watchList.FindAll(state.path, entries_);
      if (entries_.empty()) {
        watched_.erase(items[c]);
      } else {
        items[c]->second.exePath = state.path;
      }
    }
  }
}
