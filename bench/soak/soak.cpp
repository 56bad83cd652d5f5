// Soak run of the real Linux edition under process churn. The program runs without a display in a
// scratch directory with a watch list of 20 programs, while this harness starts and ends about 50
// processes a second, half of them from watched files. Afterwards:
//   - every watched process that lived past a tick ran on its entry's processor when it ended,
//   - the log holds exactly one success record per process whose mask the program changed,
//   - no process of an unwatched file was touched,
//   - resident memory after warm-up did not grow (slope in KiB/min, with a generous limit),
//   - and the program ended cleanly on SIGTERM.
// It reports the processes handled, the memory slope and the program's processor time per second.
// Exit 0: passed; 1: failed; 77: this machine cannot run it (one processor).
//
// Usage: mavrin_soak --program PATH --child PATH [--minutes N] [--rate PER_SECOND] [--max-slope KIB]
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWatched = 20;
// A process that lived this long saw at least one whole tick after it started running its file.
constexpr double kPastATickSeconds = 2.5;

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
  Clock::time_point started;
  double lifetime = 0;     // seconds from start to its exit being seen
  std::string finalCpus;   // Cpus_allowed_list as it ended
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

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string StatusField(pid_t pid, const char* field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  const std::string prefix = std::string(field) + ":";
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(prefix, 0) == 0) {
      const std::size_t start = line.find_first_not_of(" \t", prefix.size());
      return start == std::string::npos ? std::string() : line.substr(start);
    }
  }
  return {};
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

pid_t Start(const std::vector<std::string>& argv, const fs::path& cwd, const fs::path& runtime, const fs::path& out) {
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid != 0) return pid;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  if (!cwd.empty()) {
    if (chdir(cwd.c_str()) != 0) _exit(127);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  }
  const int fd = open(out.empty() ? "/dev/null" : out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd >= 0) {
    dup2(fd, 1);
    dup2(fd, 2);
    close(fd);
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  _exit(127);
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
    if (arg == "--program") options.program = value;
    else if (arg == "--child") options.child = value;
    else if (arg == "--minutes") options.minutes = std::atof(value);
    else if (arg == "--rate") options.rate = std::max(1, std::atoi(value));
    else if (arg == "--max-slope") options.maxSlopeKiBPerMinute = std::atof(value);
    else return false;
    ++i;
  }
  return !options.program.empty() && !options.child.empty() && options.minutes > 0;
}

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

  g_program = Start({options.program}, work, runtime, work / "out.txt");
  const auto ready = Clock::now() + std::chrono::seconds(15);
  while (ReadFile(work / "out.txt").find("observing...") == std::string::npos) {
    if (Clock::now() > ready || waitpid(g_program, nullptr, WNOHANG) != 0) {
      std::printf("soak: the program did not start observing\n%s", ReadFile(work / "out.txt").c_str());
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

  std::mt19937 random(12345);
  std::vector<Child> children;
  std::map<pid_t, std::size_t> byPid;
  std::vector<std::pair<double, double>> rss;  // (minutes since start, KiB) after warm-up
  long firstRss = 0, peakRss = 0;
  const double seconds = options.minutes * 60.0;
  const double warmUp = std::min(30.0, seconds / 4);
  const auto begin = Clock::now();
  const auto end = begin + std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
  const double cpuAtBegin = CpuSeconds(g_program);
  const auto interval = std::chrono::microseconds(1000000 / options.rate);
  auto nextStart = begin;
  auto nextSample = begin;
  bool programDied = false;

  auto reap = [&] {
    siginfo_t info;
    for (;;) {
      std::memset(&info, 0, sizeof info);
      if (waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == 0) return;
      const pid_t pid = info.si_pid;
      if (pid == g_program) {
        programDied = true;
        return;
      }
      // The ended process is a zombie now: its processor set can still be read, and nobody can
      // change it any more.
      auto it = byPid.find(pid);
      if (it != byPid.end()) {
        Child& child = children[it->second];
        child.finalCpus = StatusField(pid, "Cpus_allowed_list");
        child.lifetime = std::chrono::duration<double>(Clock::now() - child.started).count();
        byPid.erase(it);
      }
      waitpid(pid, nullptr, 0);
      g_running.erase(std::remove(g_running.begin(), g_running.end(), pid), g_running.end());
    }
  };

  while (Clock::now() < end && !programDied) {
    const auto now = Clock::now();
    if (now >= nextStart) {
      Child child;
      child.watched = random() % 2 == 0;
      child.file = static_cast<int>(random() % kWatched);
      const int lifetimeMs = 100 + static_cast<int>(random() % 3900);
      const std::string& exe = child.watched ? watchedPaths[child.file] : otherPaths[child.file];
      child.started = now;
      child.pid = Start({exe, std::to_string(lifetimeMs)}, {}, {}, {});
      if (child.pid > 0) {
        g_running.push_back(child.pid);
        byPid[child.pid] = children.size();
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
    reap();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  const double churnSeconds = std::chrono::duration<double>(Clock::now() - begin).count();
  const double cpuPerSecond = (CpuSeconds(g_program) - cpuAtBegin) / churnSeconds;
  const long lastRss = RssKiB(g_program);

  // Let every child run out, then give the program one more tick before it is stopped.
  const auto drain = Clock::now() + std::chrono::seconds(10);
  while (!byPid.empty() && Clock::now() < drain && !programDied) {
    reap();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));

  int failures = 0;
  auto fail = [&](const std::string& what) {
    if (failures++ < 20) std::printf("FAIL: %s\n", what.c_str());
  };
  if (programDied) fail("the program ended during the run");
  if (!byPid.empty()) fail(std::to_string(byPid.size()) + " children did not end");

  kill(g_program, SIGTERM);
  int status = -1;
  const auto stopBy = Clock::now() + std::chrono::seconds(15);
  while (Clock::now() < stopBy) {
    if (waitpid(g_program, &status, WNOHANG) == g_program) {
      g_program = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (g_program > 0) fail("the program did not end on SIGTERM");
  else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) fail("the program ended with status " + std::to_string(status));

  // The log, counted per path: records of changes and of refusals.
  std::map<std::string, int> records, refusals;
  std::size_t otherRecords = 0;
  {
    std::ifstream log(work / "mavrin.log");
    for (std::string line; std::getline(log, line);) {
      const std::size_t quote = line.find('"');
      if (quote == std::string::npos || line.size() < quote + 2) {
        fail("a log line without a path: " + line);
        continue;
      }
      const std::string path = line.substr(quote + 1, line.size() - quote - 2);
      if (line.find(") set affinity mask ") != std::string::npos) ++records[path];
      else ++refusals[path];
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
  std::size_t watched = 0, pastATick = 0, pinned = 0, others = 0;
  for (const Child& child : children) {
    if (child.finalCpus.empty()) continue;  // never seen ending
    if (!child.watched) {
      ++others;
      if (child.finalCpus != fullSet) fail("an unwatched process ended on " + child.finalCpus);
      continue;
    }
    ++watched;
    const std::string want = std::to_string(entryCpu[child.file]);
    const bool onEntry = child.finalCpus == want;
    if (onEntry) {
      ++pinned;
      ++changed[lower(watchedPaths[child.file])];
    } else if (child.finalCpus != fullSet) {
      fail("a watched process ended on " + child.finalCpus + " instead of " + want);
    }
    if (child.lifetime >= kPastATickSeconds) {
      ++pastATick;
      if (!onEntry) {
        char text[160];
        std::snprintf(text, sizeof text, "pid %d lived %.2f s and ended on %s, not %s", child.pid, child.lifetime,
                      child.finalCpus.c_str(), want.c_str());
        fail(text);
      }
    }
  }
  for (int i = 0; i < kWatched; ++i) {
    const std::string path = lower(watchedPaths[i]);
    if (records[path] != changed[path]) {
      fail(path + ": " + std::to_string(records[path]) + " change records for " + std::to_string(changed[path]) +
           " changed processes");
    }
  }
  if (otherRecords != 0) fail(std::to_string(otherRecords) + " records name unwatched files");

  int refusalCount = 0;
  for (const auto& [path, n] : refusals) refusalCount += n;
  const double slope = Slope(rss);
  std::printf("soak: %.1f min, %zu processes started (%zu watched, %zu unwatched seen ending)\n", churnSeconds / 60,
              children.size(), watched, others);
  std::printf("soak: %zu watched processes pinned, %zu of them lived past a tick; %d refusal records "
              "(processes that ended while being set)\n",
              pinned, pastATick, refusalCount);
  std::printf("soak: resident memory %ld KiB after warm-up, %ld KiB at the end, peak %ld KiB; slope %.1f KiB/min "
              "(limit %.0f)\n",
              firstRss, lastRss, peakRss, slope, options.maxSlopeKiBPerMinute);
  std::printf("soak: processor time %.4f s per second (%.2f %%)\n", cpuPerSecond, cpuPerSecond * 100);
  if (slope > options.maxSlopeKiBPerMinute) fail("resident memory grows");
  if (pastATick == 0) fail("no watched process lived past a tick");
  std::printf("soak: %s\n", failures == 0 ? "passed" : "FAILED");
  return failures == 0 ? 0 : 1;
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
