// How long a hand edit of the settings file takes to be in force. The real program runs without a
// display, watching a copy of a sleeping program; the file is rewritten at random moments as an
// editor saves it (a new file renamed over the old one), switching the entry between the first two
// processors, and the time from the rename until the watched process runs on the new processor is
// measured. The program looks for edits once a tick, so the figures lie between 0 and one second.
//
//   mavrin_bench_reload --program PATH [--edits 20]
//
// Exit 0: measured; 1: an edit was not in force within 5 s; 77: this machine has one processor.
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>

#include "bench/program_harness.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

pid_t g_program = -1;
pid_t g_watched = -1;

void Stop() {
  for (pid_t* pid : {&g_program, &g_watched}) {
    if (*pid > 0) {
      kill(*pid, SIGKILL);
      waitpid(*pid, nullptr, 0);
      *pid = -1;
    }
  }
}

bool WaitForCpus(pid_t pid, const std::string& cpus, Clock::time_point deadline) {
  while (Clock::now() < deadline) {
    if (harness::StatusField(pid, "Cpus_allowed_list") == cpus) return true;
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::string program;
  int edits = 20;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--program") == 0) program = argv[i + 1];
    if (std::strcmp(argv[i], "--edits") == 0) edits = std::max(1, std::atoi(argv[i + 1]));
  }
  if (program.empty()) {
    std::fprintf(stderr, "usage: %s --program PATH [--edits N]\n", argv[0]);
    return 2;
  }
  cpu_set_t own;
  if (sched_getaffinity(0, sizeof own, &own) != 0) return 1;
  std::vector<int> cpus;
  for (int c = 0; c < 32 && cpus.size() < 2; ++c) {
    if (CPU_ISSET(c, &own)) cpus.push_back(c);
  }
  if (cpus.size() < 2) {
    std::puts("reload: needs two processors");
    return 77;
  }

  char pattern[] = "/tmp/mavrin-reload-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const fs::path work = pattern;
  struct Cleanup {
    fs::path dir;
    ~Cleanup() {
      Stop();
      std::error_code ignored;
      fs::remove_all(dir, ignored);
    }
  } cleanup{work};
  fs::create_directories(work / "runtime");
  const fs::path watched = work / "watched";
  fs::copy_file("/bin/sleep", watched);

  auto writeList = [&](int cpu) {
    std::ofstream(work / ".mavrin.ini.new")
        << "[MAV_RIN]\n001_process_path=" << watched.string() << "\n001_affinity_mask=" << (1u << cpu) << "\n";
    fs::rename(work / ".mavrin.ini.new", work / "mavrin.ini");
  };
  writeList(cpus[0]);
  g_watched = harness::Start({watched.string(), "600"}, {}, {}, {});
  g_program = harness::Start({program}, work, work / "runtime", work / "out.txt");
  if (!WaitForCpus(g_watched, std::to_string(cpus[0]), Clock::now() + std::chrono::seconds(15))) {
    std::printf("reload: the program did not pin the watched process\n%s", harness::ReadFile(work / "out.txt").c_str());
    return 1;
  }

  std::mt19937 random(4242);
  std::vector<double> ms;
  for (int i = 0; i < edits; ++i) {
    // Edits fall anywhere between two ticks.
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 1000));
    const int cpu = cpus[(i + 1) % 2];
    const auto edited = Clock::now();
    writeList(cpu);
    if (!WaitForCpus(g_watched, std::to_string(cpu), edited + std::chrono::seconds(5))) {
      std::printf("reload: edit %d was not in force within 5 s\n", i + 1);
      return 1;
    }
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - edited).count());
  }
  std::sort(ms.begin(), ms.end());
  std::printf(
      "reload: %d edits, from the rename to the process on its new processor: min %.1f ms, median %.1f ms, "
      "90th percentile %.1f ms, max %.1f ms\n",
      edits, ms.front(), ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back());
  kill(g_program, SIGTERM);
  int status = 0;
  waitpid(g_program, &status, 0);
  g_program = -1;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
