// What the real program costs while nothing needs doing: its own processor time per second (the
// schedstat of all its threads) over a stretch of ticks, at several numbers of running processes
// and watch entries, and under churn; each next to a bare walk of /proc on the same system (the
// least one look at every process costs, as a once-a-second tick would do it) and to the floor: a
// process that only wakes once a second and writes the tick line, measured over the same seconds.
// On a virtualised host that wake alone can cost a sizeable share of a walk of a few hundred
// processes; program - floor is what the program's own work costs.
//
//   mavrin_bench_idle --program PATH --child PATH [--sizes 300,1000,3000] [--rows 1:1,100:1,100:100]
//                     [--seconds 60] [--churn 200] [--churn-size 1000]
//
// For each size the system is topped up to that many processes (idle forks of this benchmark). A
// row E:R has the program watch E copies of the child, R of which run (once each, with 3 threads,
// already on their entry's processor). Then the program runs without a display for a warm-up of a
// few ticks, and its processor time is taken over the given seconds: by default a minute, the
// program's periodic look at every process, so that each figure holds exactly one of them and not
// by chance one or none. Under churn, short-lived
// processes of an unwatched copy are started at the given rate all the while, at --churn-size.
//
// Exit 0: measured; 1: a failure; 77: this machine has one processor.
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>

#include "bench/program_harness.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

pid_t g_program = -1;
pid_t g_floor = -1;
std::vector<pid_t> g_watched;

// Kills and reaps the child, if any, and forgets it.
void Stop(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  pid = -1;
}

void StopAll() {
  Stop(g_floor);
  for (pid_t pid : g_watched) kill(pid, SIGKILL);
  for (pid_t pid : g_watched) waitpid(pid, nullptr, 0);
  g_watched.clear();
  Stop(g_program);
}

std::vector<int> ParseList(const char* text) {
  std::vector<int> values;
  for (const char* p = text; *p != '\0';) {
    char* end = nullptr;
    const long value = std::strtol(p, &end, 10);
    if (end == p) break;
    if (value > 0) values.push_back(static_cast<int>(value));
    p = *end == ',' ? end + 1 : end;
  }
  return values;
}

// "E:R,E:R": entry counts with how many of their programs run (R <= E).
std::vector<std::pair<int, int>> ParseRows(const char* text) {
  std::vector<std::pair<int, int>> rows;
  for (const char* p = text; *p != '\0';) {
    char* end = nullptr;
    const long entries = std::strtol(p, &end, 10);
    if (end == p || *end != ':') break;
    p = end + 1;
    const long running = std::strtol(p, &end, 10);
    if (end == p) break;
    if (entries > 0 && running >= 0)
      rows.emplace_back(static_cast<int>(entries), static_cast<int>(std::min(running, entries)));
    p = *end == ',' ? end + 1 : end;
  }
  return rows;
}

double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Starts and reaps short-lived processes of `exe` at `rate` a second until `until`.
class Churn {
 public:
  Churn(std::string exe, int rate)
      : exe_(std::move(exe)), interval_(std::chrono::microseconds(1000000 / std::max(1, rate))) {}
  void RunUntil(Clock::time_point until) {
    auto next = Clock::now();
    char* const args[] = {exe_.data(), const_cast<char*>("exit"), nullptr};
    while (Clock::now() < until) {
      pid_t pid = -1;
      if (posix_spawn(&pid, exe_.c_str(), nullptr, nullptr, args, environ) == 0) ++started_;
      while (waitpid(-1, nullptr, WNOHANG) > 0) {
      }
      next += interval_;
      std::this_thread::sleep_until(next);
    }
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
  }
  long Started() const { return started_; }

 private:
  std::string exe_;
  std::chrono::microseconds interval_;
  long started_ = 0;
};

struct Figures {
  double programMsPerSecond = 0;
  double walkMs = 0;
  double floorMsPerSecond = 0;
  long ticks = 0;
  long churned = 0;
  double othersPerSecond = 0;  // ids allocated by others' processes and threads
};

// One measurement: the program watching `entries` files, each run once, over `seconds`.
bool Measure(const fs::path& work, const std::string& program, const std::string& child, int entries, int running,
             int cpu, int seconds, int churnRate, Figures& figures) {
  const fs::path bin = work / "Bin";
  std::ofstream ini(work / "mavrin.ini", std::ios::trunc);
  ini << "[MAV_RIN]\n";
  for (int i = 0; i < entries; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "Watched-%03d", i);
    const fs::path file = bin / name;
    if (!fs::exists(file)) fs::copy_file(child, file);
    char slot[16];
    std::snprintf(slot, sizeof slot, "%03d", i + 1);
    ini << slot << "_process_path=" << harness::LowerAscii(file.string()) << "\n"
        << slot << "_affinity_mask=" << (1u << cpu) << "\n";
    if (i >= running) continue;
    // Already where the entry wants it, as in the steady state of a long run.
    const pid_t pid = fork();
    if (pid == 0) {
      cpu_set_t set;
      CPU_ZERO(&set);
      CPU_SET(cpu, &set);
      sched_setaffinity(0, sizeof set, &set);
      execl(file.c_str(), file.c_str(), "idle", "3", static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid > 0) g_watched.push_back(pid);
  }
  ini.close();

  const fs::path out = work / "out.txt";
  pid_t relay = -1;
  g_program = harness::Start({program}, work, work / "runtime", out, &relay);
  harness::TickCounter ticks(out);
  // A few ticks for the start-up look at every process and whatever follows it.
  if (!harness::WaitForTicks(ticks, 4, g_program, 60)) {
    std::printf("idle: the program did not start observing\n%s", harness::ReadFile(out).c_str());
    StopAll();
    return false;
  }
  pid_t floorRelay = -1;
  g_floor = harness::Start({child, "tick"}, {}, {}, work / "floor.txt", &floorRelay);
  harness::TickCounter floorTicks(work / "floor.txt");
  if (!harness::WaitForTicks(floorTicks, 1, g_floor, 10)) {
    std::puts("idle: the floor process did not tick");
    StopAll();
    return false;
  }
  const long ticksBefore = ticks.Update();
  const long idsBefore = harness::LastAllocatedId();
  const long long cpuBefore = harness::ThreadsCpuNs(g_program);
  const long long floorBefore = harness::ThreadsCpuNs(g_floor);
  const auto begin = Clock::now();
  const auto until = begin + std::chrono::seconds(seconds);
  Churn churn((bin / "other").string(), churnRate);
  if (churnRate > 0) {
    churn.RunUntil(until);
  } else {
    std::this_thread::sleep_until(until);
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
  const long long cpuAfter = harness::ThreadsCpuNs(g_program);
  figures.floorMsPerSecond = static_cast<double>(harness::ThreadsCpuNs(g_floor) - floorBefore) / 1e6 / elapsed;
  Stop(g_floor);
  if (floorRelay > 0) waitpid(floorRelay, nullptr, 0);
  figures.ticks = ticks.Update() - ticksBefore;
  figures.programMsPerSecond = static_cast<double>(cpuAfter - cpuBefore) / 1e6 / elapsed;
  figures.churned = churn.Started();
  // What others started meanwhile: on a shared machine their processes cost the program too.
  const long ids = harness::LastAllocatedId() - idsBefore - figures.churned;
  figures.othersPerSecond = idsBefore > 0 && ids > 0 ? static_cast<double>(ids) / elapsed : 0;

  // The bare walk on the same system, under the same churn: its median over a few runs.
  std::vector<double> walk;
  std::thread churning;
  Churn walkChurn((bin / "other").string(), churnRate);
  if (churnRate > 0) churning = std::thread([&] { walkChurn.RunUntil(Clock::now() + std::chrono::seconds(3)); });
  for (int i = 0; i < 9; ++i) {
    const double cpu0 = ThreadCpuMs();
    harness::BareWalk();
    walk.push_back(ThreadCpuMs() - cpu0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  if (churning.joinable()) churning.join();
  std::sort(walk.begin(), walk.end());
  figures.walkMs = walk[walk.size() / 2];

  kill(g_program, SIGTERM);
  int status = 0;
  waitpid(g_program, &status, 0);
  g_program = -1;
  if (relay > 0) waitpid(relay, nullptr, 0);
  StopAll();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string program, child;
  std::vector<int> sizes{300, 1000, 3000};
  std::vector<std::pair<int, int>> rows{{1, 1}, {100, 1}, {100, 100}};
  int seconds = 60;
  int churnRate = 200;
  int churnSize = 1000;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--program")
      program = argv[i + 1];
    else if (arg == "--child")
      child = argv[i + 1];
    else if (arg == "--sizes")
      sizes = ParseList(argv[i + 1]);
    else if (arg == "--rows")
      rows = ParseRows(argv[i + 1]);
    else if (arg == "--seconds")
      seconds = std::max(1, std::atoi(argv[i + 1]));
    else if (arg == "--churn")
      churnRate = std::max(0, std::atoi(argv[i + 1]));
    else if (arg == "--churn-size")
      churnSize = std::max(0, std::atoi(argv[i + 1]));
  }
  if (program.empty() || child.empty()) {
    std::fprintf(stderr,
                 "usage: %s --program PATH --child PATH [--sizes LIST] [--rows E:R,...] [--seconds N] "
                 "[--churn RATE] [--churn-size N]\n",
                 argv[0]);
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  // The program runs in a directory of its own.
  program = fs::absolute(program).string();
  child = fs::absolute(child).string();
  const std::vector<int> cpus = harness::OwnProcessors();
  if (cpus.size() < 2) {
    std::puts("idle: needs two processors");
    return 77;
  }

  char pattern[] = "/tmp/mavrin-idle-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const fs::path work = pattern;
  struct Cleanup {
    fs::path dir;
    ~Cleanup() {
      StopAll();
      std::error_code ignored;
      fs::remove_all(dir, ignored);
    }
  } cleanup{work};
  fs::create_directories(work / "runtime");
  fs::create_directories(work / "Bin");
  fs::copy_file(child, work / "Bin" / "other");

  std::printf("%-10s %-7s %-7s %-6s | %-22s | %-12s | %-12s | %-10s | %s\n", "processes", "entries", "running",
              "churn", "program ms/s (% core)", "walk ms/s", "program/walk", "floor ms/s", "others' ids/s");
  std::vector<std::pair<int, int>> runs;  // (size, churn)
  for (int size : sizes) runs.emplace_back(size, 0);
  if (churnRate > 0) runs.emplace_back(churnSize, churnRate);
  std::sort(runs.begin(), runs.end());  // growing only: idle processes are never taken away
  harness::IdleProcesses idle;
  // Counted once: other users' processes come and go meanwhile, and must not change how many idle
  // ones each size adds.
  const std::size_t before = harness::CountProcesses();
  bool ok = true;
  for (const auto& [size, churn] : runs) {
    const std::size_t wanted = static_cast<std::size_t>(size) > before ? static_cast<std::size_t>(size) - before : 0;
    if (wanted > idle.Count() && !idle.Add(static_cast<int>(wanted - idle.Count()))) return 1;
    for (const auto& [entries, running] : rows) {
      Figures figures;
      if (!Measure(work, program, child, entries, running, cpus.back(), seconds, churn, figures)) {
        ok = false;
        continue;
      }
      char churnText[16];
      std::snprintf(churnText, sizeof churnText, churn > 0 ? "%d/s" : "-", churn);
      std::printf("%-10zu %-7d %-7d %-6s | %8.3f (%6.3f %%)     | %8.3f     | %-12.3f | %8.3f   | %.0f\n",
                  harness::CountProcesses(), entries, running, churnText, figures.programMsPerSecond,
                  figures.programMsPerSecond / 10.0, figures.walkMs, figures.programMsPerSecond / figures.walkMs,
                  figures.floorMsPerSecond, figures.othersPerSecond);
    }
  }
  return ok ? 0 : 1;
}
