// How much a refresh and an observation cycle cost per running process, next to the least work
// any listing must do (read /proc, each executable link, each mask).
//
//   mavrin_bench_refresh [--processes 100,1000,3000] [--repeat 15]
//
// For each count P it starts P extra idle processes (killed on exit; they also die with us),
// then measures the median wall and CPU time of: the bare walk, one Refresh, and one cycle with
// 10 and with 100,000 watch entries (each process is looked up by its path, so the two should
// cost the same).
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "base/text.h"
#include "bench/program_harness.h"
#include "engine/console_message_boxes.h"
#include "engine/observation_cycle.h"
#include "platform/linux/cpu_set_buffer.h"
#include "platform/linux/linux_system.h"

namespace {

struct Sample {
  double wallUs = 0;
  double cpuUs = 0;
};

double CpuNowUs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

// Median wall and CPU time of repeat runs (after one warm-up run).
Sample Measure(int repeat, const std::function<void()>& work) {
  work();
  std::vector<double> wall;
  std::vector<double> cpu;
  for (int i = 0; i < repeat; ++i) {
    double cpu0 = CpuNowUs();
    auto wall0 = std::chrono::steady_clock::now();
    work();
    auto wall1 = std::chrono::steady_clock::now();
    double cpu1 = CpuNowUs();
    wall.push_back(std::chrono::duration<double, std::micro>(wall1 - wall0).count());
    cpu.push_back(cpu1 - cpu0);
  }
  std::sort(wall.begin(), wall.end());
  std::sort(cpu.begin(), cpu.end());
  return Sample{wall[wall.size() / 2], cpu[cpu.size() / 2]};
}

std::vector<int> ParseCounts(const char* text) {
  std::vector<int> counts;
  for (const char* p = text; *p != '\0';) {
    char* end = nullptr;
    long value = std::strtol(p, &end, 10);
    if (end == p) break;
    if (value >= 0) counts.push_back(static_cast<int>(value));
    p = *end == ',' ? end + 1 : end;
  }
  return counts;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> counts{100, 1000, 3000};
  int repeat = 15;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--processes") == 0) counts = ParseCounts(argv[i + 1]);
    if (std::strcmp(argv[i], "--repeat") == 0) repeat = std::max(1, std::atoi(argv[i + 1]));
  }

  char self[4096] = {};
  ssize_t selfLength = readlink("/proc/self/exe", self, sizeof(self) - 1);
  std::string selfPath(self, selfLength > 0 ? static_cast<std::size_t>(selfLength) : 0);
  std::FILE* devNull = std::fopen("/dev/null", "w");

  std::printf("%-7s %-6s | %-15s | %-15s | %-15s | %-15s | %-6s | %s\n", "extra", "listed", "floor us/proc",
              "Refresh us/proc", "cycle10 us/proc", "cycle100k us/proc", "ratio", "cycle100k total");
  std::printf("%-7s %-6s | %-15s | %-15s | %-15s | %-15s | %-6s | %s\n", "", "", "wall / cpu", "wall / cpu",
              "wall / cpu", "wall / cpu", "R/F", "wall / cpu ms");
  for (int count : counts) {
    harness::IdleProcesses idle(count);
    platform::LinuxSystem system;
    ConsoleMessageBoxes boxes(devNull);
    SystemSnapshot snapshot(system, boxes);
    snapshot.Refresh();
    std::size_t listed = snapshot.processes.size();
    if (listed == 0) {
      std::fprintf(stderr, "no process could be listed\n");
      return 1;
    }

    // The idle children keep the mask they inherited: the entry that names them matches every
    // one of them and changes nothing, as in the steady state of a real run.
    cpu_set_t own;
    sched_getaffinity(0, sizeof(own), &own);
    const platform::ProcessorSet ownMask = platform::LoadCpuSet(&own, sizeof(own));
    auto makeList = [&](int entries) {
      WatchList list;
      list.Append(WatchEntry{ToLowerAsciiCopy(selfPath), ownMask});
      for (int i = 1; i < entries; ++i) list.Append(WatchEntry{"/nonexistent/app-" + std::to_string(i), 0x1});
      return list;
    };
    WatchList ten = makeList(10);
    WatchList large = makeList(100000);
    QuickChangedPaths quickChanged;
    ActivityLog log(system, "/dev/null", devNull, nullptr);

    std::size_t floorListed = 0;
    Sample floor = Measure(repeat, [&] { floorListed = harness::BareWalk(); });
    Sample refresh = Measure(repeat, [&] { snapshot.Refresh(); });
    Sample cycle10 = Measure(repeat, [&] { RunObservationCycle(ten, snapshot, quickChanged, log, devNull); });
    Sample cycle100k = Measure(repeat, [&] { RunObservationCycle(large, snapshot, quickChanged, log, devNull); });

    double n = static_cast<double>(listed);
    double floorN = static_cast<double>(std::max<std::size_t>(floorListed, 1));
    std::printf("%-7zu %-6zu | %6.2f / %6.2f | %6.2f / %6.2f | %6.2f / %6.2f | %6.2f / %6.2f | %6.2f | %.2f / %.2f\n",
                idle.Count(), listed, floor.wallUs / floorN, floor.cpuUs / floorN, refresh.wallUs / n,
                refresh.cpuUs / n, cycle10.wallUs / n, cycle10.cpuUs / n, cycle100k.wallUs / n, cycle100k.cpuUs / n,
                (refresh.cpuUs / n) / (floor.cpuUs / floorN), cycle100k.wallUs / 1000.0, cycle100k.cpuUs / 1000.0);
    std::fflush(stdout);
  }
  if (devNull != nullptr) std::fclose(devNull);
  return 0;
}
