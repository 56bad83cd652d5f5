// The programs the exec and idle benchmarks start. It never outlives the benchmark.
//
//   bench_child wait-pinned CPU THREADS RESULT
//       THREADS threads in all (the main one included), made at once, each wait until it runs on
//       processor CPU alone, for at most 3 s. RESULT receives one line: for each thread the moment
//       (CLOCK_MONOTONIC, ns) it first found itself there, 0 when it never did; then the moment
//       main() was entered (what the program's own start-up took is no pinning delay); then 1 when
//       the main thread was there before it made the others (which then started there), else 0.
//   bench_child idle THREADS
//       THREADS threads in all sleep until killed.
//   bench_child exit
//       ends at once.
//   bench_child tick
//       wakes once a second and writes the program's tick line, nothing more: what any program
//       that ticks costs on this machine, below which the program's own figure cannot go.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

namespace {

long long MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Polls often enough to time a pin to a few tens of microseconds, and sleeps in between so the
// waiting threads leave the processors to the program being measured.
long long WaitUntilOn(int cpu, long long deadline) {
  const timespec pause{0, 20000};
  for (;;) {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) == 1 && CPU_ISSET(cpu, &set))
      return MonotonicNs();
    if (MonotonicNs() > deadline) return 0;
    nanosleep(&pause, nullptr);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const long long entered = MonotonicNs();
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() == 1) return 1;
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "exit") return 0;
  if (mode == "tick") {
    // Slept as the program's loop sleeps, and the line written as it writes it (one write each).
    for (;;) {
      poll(nullptr, 0, 1000);
      std::fputs("observing...\n", stdout);
      std::fflush(stdout);
    }
  }
  if (mode == "idle") {
    const int threads = argc > 2 ? std::atoi(argv[2]) : 1;
    for (int i = 1; i < threads; ++i)
      std::thread([] {
        for (;;) pause();
      }).detach();
    for (;;) pause();
  }
  if (mode != "wait-pinned" || argc < 5) {
    std::fprintf(stderr, "usage: %s wait-pinned CPU THREADS RESULT | idle THREADS | exit | tick\n", argv[0]);
    return 2;
  }
  const int cpu = std::atoi(argv[2]);
  const int threads = std::max(1, std::atoi(argv[3]));
  const long long deadline = MonotonicNs() + 3000000000LL;
  std::vector<long long> pinned(static_cast<std::size_t>(threads), 0);
  cpu_set_t before;
  const bool bornThere =
      sched_getaffinity(0, sizeof before, &before) == 0 && CPU_COUNT(&before) == 1 && CPU_ISSET(cpu, &before);
  std::vector<std::thread> others;
  for (int i = 1; i < threads; ++i) {
    others.emplace_back(
        [&pinned, i, cpu, deadline] { pinned[static_cast<std::size_t>(i)] = WaitUntilOn(cpu, deadline); });
  }
  pinned[0] = WaitUntilOn(cpu, deadline);
  for (std::thread& t : others) t.join();
  std::string line;
  for (long long at : pinned) line += std::to_string(at) + " ";
  line += std::to_string(entered) + (bornThere ? " 1\n" : " 0\n");
  const int fd = open(argv[4], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return 1;
  close(fd);
  return 0;
}
