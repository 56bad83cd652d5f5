// Soak run of the real Linux edition under process churn. The program runs without a display in a
// scratch directory with a watched list of 20 programs, while this harness starts and ends about 50
// processes a second, half of them from watched files. Afterwards:
//   - every watched process that provably ran its file through a whole tick of the program ended on
//     its entry's processor,
//   - a watched process ended on its entry's processor or on every processor, nothing else,
//   - no process of an unwatched file was touched,
//   - the log holds exactly one change record per process the program changed, none for others,
//   - resident memory after warm-up did not grow (slope in KiB/min, with a generous limit),
//   - and the program ended cleanly on SIGTERM.
// The verdicts do not depend on how busy the machine is: a process is judged by the program's own
// ticks (the "observing..." lines it prints), never by wall-clock time. Each failure names its
// check and says why; the end lists every check with how many cases it judged.
// It reports the processes handled, the memory slope and the program's processor time per second.
// Exit 0: passed; 1: failed; 77: this machine cannot run it (one processor).
//
// Usage: mavrin_soak --program PATH --child PATH [--minutes N] [--rate PER_SECOND] [--max-slope KIB]
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <thread>

#include "bench/program_harness.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using harness::ReadFile;
using harness::StatusField;

namespace {

constexpr int kWatched = 20;

struct Options {
  std::string program;
  std::string child;
  double minutes = 10;
  int rate = 50;
  double maxSlopeKiBPerMinute = 1024;
};

struct Child {
  pid_t pid = -1;
  bool watched = false;
  int file = 0;  // index of its executable among the watched or the other files
  // The program's tick count read just after the child was seen running its file: the next tick
  // began later, so its snapshot found the child.
  long tickAtExec = -1;
  // Alive at a moment when the tick after tickAtExec had already ended.
  bool livedThroughTick = false;
  long tickAtEnd = -1;  // the count when its end was seen; it is judged once that tick is over
  bool reaped = false;
  std::string finalCpus;  // Cpus_allowed_list as it ended
};

std::vector<pid_t> g_running;  // everything started and not yet reaped, for the cleanup
pid_t g_program = -1;

void KillEverything() {
  for (pid_t pid : g_running) kill(pid, SIGKILL);
  for (pid_t pid : g_running) waitpid(pid, nullptr, 0);
  g_running.clear();
  if (g_program > 0) {
    kill(g_program, SIGKILL);
    waitpid(g_program, nullptr, 0);
    g_program = -1;
  }
}

extern "C" void OnFatalSignal(int sig) {
  // Children die with us (PR_SET_PDEATHSIG); this only makes it prompt.
  for (pid_t pid : g_running) kill(pid, SIGKILL);
  if (g_program > 0) kill(g_program, SIGKILL);
  signal(sig, SIG_DFL);
  raise(sig);
}

long RssKiB(pid_t pid) { return std::atol(StatusField(pid, "VmRSS").c_str()); }

// utime + stime of the process, in seconds.
double CpuSeconds(pid_t pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(stat.substr(close + 2));
  std::string skip;
  for (int i = 3; i < 14; ++i) fields >> skip;  // state .. cmajflt
  unsigned long long utime = 0, stime = 0;
  fields >> utime >> stime;
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Least-squares slope of (minutes, KiB) samples.
double Slope(const std::vector<std::pair<double, double>>& samples) {
  if (samples.size() < 2) return 0;
  double sx = 0, sy = 0;
  for (const auto& [x, y] : samples) {
    sx += x;
    sy += y;
  }
  const double n = static_cast<double>(samples.size());
  const double mx = sx / n, my = sy / n;
  double num = 0, den = 0;
  for (const auto& [x, y] : samples) {
    num += (x - mx) * (y - my);
    den += (x - mx) * (x - mx);
  }
  return den > 0 ? num / den : 0;
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (value == nullptr) return false;
    if (arg == "--program")
      options.program = value;
    else if (arg == "--child")
      options.child = value;
    else if (arg == "--minutes")
      options.minutes = std::atof(value);
    else if (arg == "--rate")
      options.rate = std::max(1, std::atoi(value));
    else if (arg == "--max-slope")
      options.maxSlopeKiBPerMinute = std::atof(value);
    else
      return false;
    ++i;
  }
  return !options.program.empty() && !options.child.empty() && options.minutes > 0;
}

// The verdicts: each check counts the cases it judged and the ones that failed, and says why.
class Checks {
 public:
  void Judge(const std::string& check, bool ok, const std::string& why = {}) {
    Tally& tally = tallies_[check];
    ++tally.judged;
    if (ok) return;
    ++tally.failed;
    if (++shown_ <= 20) std::printf("FAIL [%s]: %s\n", check.c_str(), why.c_str());
  }
  bool Passed() const {
    return std::all_of(tallies_.begin(), tallies_.end(), [](const auto& t) { return t.second.failed == 0; });
  }
  void Summary() const {
    for (const auto& [check, tally] : tallies_) {
      std::printf("soak: check [%s]: %zu judged, %zu failed\n", check.c_str(), tally.judged, tally.failed);
    }
  }

 private:
  struct Tally {
    std::size_t judged = 0;
    std::size_t failed = 0;
  };
  std::map<std::string, Tally> tallies_;
  int shown_ = 0;
};

int Run(const Options& options) {
  cpu_set_t own;
  CPU_ZERO(&own);
  if (sched_getaffinity(0, sizeof own, &own) != 0) return 1;
  std::vector<int> cpus;
  for (int c = 0; c < 32; ++c) {
    if (CPU_ISSET(c, &own)) cpus.push_back(c);
  }
  if (cpus.size() < 2) {
    std::puts("soak: needs two processors");
    return 77;
  }

  char pattern[] = "/tmp/mavrin-soak-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const fs::path work = pattern;
  struct Cleanup {
    fs::path dir;
    ~Cleanup() {
      KillEverything();
      std::error_code ignored;
      fs::remove_all(dir, ignored);
    }
  } cleanup{work};
  const fs::path runtime = work / "runtime";
  fs::create_directories(runtime);
  fs::create_directories(work / "bin");

  // 20 watched files, alternately pinned to the first and the second processor, and 20 files of
  // the same program that nobody watches.
  std::vector<std::string> watchedPaths, otherPaths;
  std::vector<int> entryCpu;
  std::ofstream ini(work / "mavrin.ini");
  ini << "[MAV_RIN]\n";
  for (int i = 0; i < kWatched; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "watched-%02d", i);
    watchedPaths.push_back((work / "bin" / name).string());
    std::snprintf(name, sizeof name, "other-%02d", i);
    otherPaths.push_back((work / "bin" / name).string());
    fs::copy_file(options.child, watchedPaths.back());
    fs::copy_file(options.child, otherPaths.back());
    entryCpu.push_back(cpus[i % 2]);
    char slot[8];
    std::snprintf(slot, sizeof slot, "%03d", i + 1);
    ini << slot << "_process_path=" << watchedPaths.back() << "\n"
        << slot << "_affinity_mask=" << (1u << entryCpu.back()) << "\n";
  }
  ini.close();

  const fs::path out = work / "out.txt";
  g_program = harness::Start({options.program}, work, runtime, out);
  harness::TickCounter ticks(out);
  const auto ready = Clock::now() + std::chrono::seconds(30);
  while (ticks.Update() == 0) {
    if (Clock::now() > ready || waitpid(g_program, nullptr, WNOHANG) != 0) {
      std::printf("soak: the program did not start observing\n%s", ReadFile(out).c_str());
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

  Checks checks;
  std::mt19937 random(12345);
  std::vector<Child> children;
  std::vector<std::size_t> live;               // started and not yet seen ending
  std::vector<std::size_t> ended;              // seen ending, waiting for the tick of their end to be over
  std::vector<std::pair<double, double>> rss;  // (minutes since start, KiB) after warm-up
  long firstRss = 0, peakRss = 0;
  const double seconds = options.minutes * 60.0;
  const double warmUp = std::min(30.0, seconds / 4);
  const auto begin = Clock::now();
  const auto end = begin + std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
  const double cpuAtBegin = CpuSeconds(g_program);
  const long ticksAtBegin = ticks.Ticks();
  const auto interval = std::chrono::microseconds(1000000 / options.rate);
  auto nextStart = begin;
  auto nextSample = begin;
  bool programDied = false;

  // One look at everything: which children run their file by now, the program's tick count, which
  // children ended, and which ended ones can be judged and collected.
  auto look = [&] {
    std::vector<std::size_t> confirmed;
    for (std::size_t i : live) {
      Child& child = children[i];
      if (child.tickAtExec >= 0) continue;
      std::error_code error;
      const fs::path exe = fs::read_symlink("/proc/" + std::to_string(child.pid) + "/exe", error);
      const std::string& path = child.watched ? watchedPaths[child.file] : otherPaths[child.file];
      if (!error && exe == path) confirmed.push_back(i);
    }
    const long now = ticks.Update();
    for (std::size_t i : confirmed) children[i].tickAtExec = now;
    // Read after the count: a child still running now was running when that count was reached.
    for (auto it = live.begin(); it != live.end();) {
      Child& child = children[*it];
      siginfo_t info;
      std::memset(&info, 0, sizeof info);
      const bool gone = waitid(P_PID, static_cast<id_t>(child.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                        info.si_pid == child.pid;
      if (!gone) {
        if (child.tickAtExec >= 0 && now >= child.tickAtExec + 2) child.livedThroughTick = true;
        ++it;
        continue;
      }
      child.tickAtEnd = now;
      ended.push_back(*it);
      it = live.erase(it);
    }
    // A tick that ran while a child ended may still set it; once that tick is over, nothing will.
    for (auto it = ended.begin(); it != ended.end();) {
      Child& child = children[*it];
      if (now < child.tickAtEnd + 2) {
        ++it;
        continue;
      }
      child.finalCpus = StatusField(child.pid, "Cpus_allowed_list");  // a zombie's, still readable
      waitpid(child.pid, nullptr, 0);
      child.reaped = true;
      g_running.erase(std::remove(g_running.begin(), g_running.end(), child.pid), g_running.end());
      it = ended.erase(it);
    }
    if (waitpid(g_program, nullptr, WNOHANG) != 0) programDied = true;
  };

  while (Clock::now() < end && !programDied) {
    const auto now = Clock::now();
    if (now >= nextStart) {
      Child child;
      child.watched = random() % 2 == 0;
      child.file = static_cast<int>(random() % kWatched);
      const int lifetimeMs = 100 + static_cast<int>(random() % 3900);
      const std::string& exe = child.watched ? watchedPaths[child.file] : otherPaths[child.file];
      child.pid = harness::Start({exe, std::to_string(lifetimeMs)}, {}, {}, {});
      if (child.pid > 0) {
        g_running.push_back(child.pid);
        live.push_back(children.size());
        children.push_back(child);
      }
      nextStart += interval;
      if (nextStart < now - std::chrono::seconds(1)) nextStart = now;  // do not catch up a stall in a burst
    }
    if (now >= nextSample) {
      const double elapsed = std::chrono::duration<double>(now - begin).count();
      const long kib = RssKiB(g_program);
      peakRss = std::max(peakRss, kib);
      if (elapsed >= warmUp) {
        if (firstRss == 0) firstRss = kib;
        rss.emplace_back(elapsed / 60.0, static_cast<double>(kib));
      }
      nextSample += std::chrono::seconds(1);
    }
    look();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  const double churnSeconds = std::chrono::duration<double>(Clock::now() - begin).count();
  const double cpuPerSecond = (CpuSeconds(g_program) - cpuAtBegin) / churnSeconds;
  const long ticksDuringChurn = ticks.Ticks() - ticksAtBegin;
  const long lastRss = RssKiB(g_program);

  // Every child runs out and is judged once the program has ticked past its end. A program that
  // stops ticking is a failure of its own, not a reason to wait for ever.
  long lastTicks = ticks.Ticks();
  auto lastProgress = Clock::now();
  while ((!live.empty() || !ended.empty()) && !programDied) {
    look();
    if (ticks.Ticks() != lastTicks) {
      lastTicks = ticks.Ticks();
      lastProgress = Clock::now();
    } else if (Clock::now() - lastProgress > std::chrono::seconds(30)) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  checks.Judge("program keeps running", !programDied, "the program ended during the run");
  checks.Judge("program keeps ticking", live.empty() && ended.empty(),
               std::to_string(live.size() + ended.size()) + " children not judged: no tick for 30 s");

  kill(g_program, SIGTERM);
  int status = -1;
  const auto stopBy = Clock::now() + std::chrono::seconds(30);
  while (Clock::now() < stopBy) {
    if (waitpid(g_program, &status, WNOHANG) == g_program) {
      g_program = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  checks.Judge("ends on SIGTERM", g_program < 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0,
               g_program > 0 ? "no end within 30 s" : "ended with status " + std::to_string(status));

  // The log, counted per path: records of changes and of refusals.
  std::map<std::string, int> records, refusals;
  std::size_t otherRecords = 0;
  {
    std::ifstream log(work / "mavrin.log");
    for (std::string line; std::getline(log, line);) {
      const std::size_t quote = line.find('"');
      checks.Judge("log lines well formed", quote != std::string::npos && line.size() >= quote + 2, line);
      if (quote == std::string::npos || line.size() < quote + 2) continue;
      const std::string path = line.substr(quote + 1, line.size() - quote - 2);
      if (line.find(") set affinity mask ") != std::string::npos)
        ++records[path];
      else
        ++refusals[path];
      if (path.find("/other-") != std::string::npos) ++otherRecords;
    }
  }

  auto lower = [](std::string text) {
    for (char& c : text) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return text;
  };
  const std::string fullSet = StatusField(getpid(), "Cpus_allowed_list");
  std::map<std::string, int> changed;
  std::size_t watched = 0, throughTick = 0, pinned = 0, others = 0;
  for (const Child& child : children) {
    if (!child.reaped) continue;
    if (!child.watched) {
      ++others;
      checks.Judge("unwatched untouched", child.finalCpus == fullSet,
                   "pid " + std::to_string(child.pid) + " of an unwatched file ended on " + child.finalCpus);
      continue;
    }
    ++watched;
    const std::string want = std::to_string(entryCpu[child.file]);
    const bool onEntry = child.finalCpus == want;
    if (onEntry) {
      ++pinned;
      ++changed[lower(watchedPaths[child.file])];
    }
    checks.Judge(
        "watched end on their entry or untouched", onEntry || child.finalCpus == fullSet,
        "pid " + std::to_string(child.pid) + " ended on " + child.finalCpus + ", neither " + want + " nor " + fullSet);
    if (child.livedThroughTick) {
      ++throughTick;
      char text[200];
      std::snprintf(text, sizeof text,
                    "pid %d ran its file through tick %ld (ticks %ld to %ld) and ended on %s, not %s", child.pid,
                    child.tickAtExec + 1, child.tickAtExec, child.tickAtEnd, child.finalCpus.c_str(), want.c_str());
      checks.Judge("pinned through a tick", onEntry, text);
    }
  }
  for (int i = 0; i < kWatched; ++i) {
    const std::string path = lower(watchedPaths[i]);
    checks.Judge("one record per change", records[path] == changed[path],
                 path + ": " + std::to_string(records[path]) + " change records for " + std::to_string(changed[path]) +
                     " changed processes");
  }
  checks.Judge("no records of unwatched files", otherRecords == 0, std::to_string(otherRecords) + " records");

  int refusalCount = 0;
  for (const auto& [path, n] : refusals) refusalCount += n;
  const double slope = Slope(rss);
  std::printf("soak: %.1f min, %ld ticks, %zu processes started (%zu watched and %zu unwatched judged)\n",
              churnSeconds / 60, ticksDuringChurn, children.size(), watched, others);
  std::printf("soak: %zu watched processes pinned, %zu of them ran through a whole tick; %d refusal records\n", pinned,
              throughTick, refusalCount);
  std::printf(
      "soak: resident memory %ld KiB after warm-up, %ld KiB at the end, peak %ld KiB; slope %.1f KiB/min "
      "(limit %.0f)\n",
      firstRss, lastRss, peakRss, slope, options.maxSlopeKiBPerMinute);
  std::printf("soak: processor time %.4f s per second (%.2f %%)\n", cpuPerSecond, cpuPerSecond * 100);
  checks.Judge("memory flat", slope <= options.maxSlopeKiBPerMinute,
               "resident memory grows by " + std::to_string(slope) + " KiB/min");
  checks.Judge("something to judge", throughTick > 0, "no watched process ran through a whole tick");
  checks.Summary();
  std::printf("soak: %s\n", checks.Passed() ? "passed" : "FAILED");
  return checks.Passed() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "usage: %s --program PATH --child PATH [--minutes N] [--rate N] [--max-slope KIB]\n", argv[0]);
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGSEGV, SIGABRT}) signal(sig, OnFatalSignal);
  return Run(options);
}
