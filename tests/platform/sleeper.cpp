// A small program for the integration tests: it sleeps until killed, optionally with extra
// threads. Usage: sleeper [threads] [mode]. Modes:
//   churn        keeps starting short-lived threads;
//   main-exits   the main thread ends (pthread_exit) and leaves the others running;
//   escape-once  the first extra thread, once it finds its processors narrowed, gives itself every
//                processor of the machine back (once).
//   exec-on-usr1 PATH  on SIGUSR1 the process runs PATH (with no extra threads) in its place.
//   swap-on-usr1 on SIGUSR1 the thread it last started ends and another takes its place; on SIGUSR2
//                one more thread starts. Either new thread moves itself to processor 0 alone.
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

// `start` is the set the program started with, read before any thread was made: a test may narrow
// the threads before this one gets to run.
void EscapeOnce(cpu_set_t start) {
  for (;;) {
    cpu_set_t now;
    if (sched_getaffinity(0, sizeof now, &now) == 0 && !CPU_EQUAL(&now, &start)) {
      sched_setaffinity(0, sizeof start, &start);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Each thread a signal starts: on processor 0 until told to end.
struct Swapped {
  std::atomic<bool> end{false};
  std::thread thread;
  void Start() {
    thread = std::thread([this] {
      cpu_set_t first;
      CPU_ZERO(&first);
      CPU_SET(0, &first);
      sched_setaffinity(0, sizeof first, &first);
      while (!end) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
  }
};

[[noreturn]] void SwapOnSignals(const sigset_t& signals) {
  std::vector<std::unique_ptr<Swapped>> started;
  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    if (signal == SIGUSR1 && !started.empty()) {
      started.back()->end = true;
      started.back()->thread.join();
      started.pop_back();
    }
    started.push_back(std::make_unique<Swapped>());
    started.back()->Start();
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Whatever happens to the test that started us, we do not outlive it.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() == 1) return 1;
  int threads = argc > 1 ? std::atoi(argv[1]) : 0;
  const char* mode = argc > 2 ? argv[2] : "";
  // Blocked before any thread exists, so every thread inherits the block and only sigwait takes it.
  sigset_t usr1;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  const bool execOnSignal = std::strcmp(mode, "exec-on-usr1") == 0 && argc > 3;
  const bool swapOnSignal = std::strcmp(mode, "swap-on-usr1") == 0;
  if (swapOnSignal) sigaddset(&usr1, SIGUSR2);
  if (execOnSignal || swapOnSignal) pthread_sigmask(SIG_BLOCK, &usr1, nullptr);
  cpu_set_t start;
  CPU_ZERO(&start);
  sched_getaffinity(0, sizeof start, &start);
  std::vector<std::thread> sleepers;
  for (int i = 0; i < threads; ++i) {
    const bool escapes = i == 0 && std::strcmp(mode, "escape-once") == 0;
    sleepers.emplace_back([escapes, start] {
      if (escapes) EscapeOnce(start);
      for (;;) pause();
    });
  }
  if (std::strcmp(mode, "churn") == 0) {
    sleepers.emplace_back([] {
      for (;;) {
        std::thread([] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); }).detach();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
  }
  if (swapOnSignal) SwapOnSignals(usr1);
  if (execOnSignal) {
    int signal = 0;
    sigwait(&usr1, &signal);
    pthread_sigmask(SIG_UNBLOCK, &usr1, nullptr);
    execl(argv[3], argv[3], "0", static_cast<char*>(nullptr));
    return 1;
  }
  if (std::strcmp(mode, "main-exits") == 0) {
    for (std::thread& t : sleepers) t.detach();  // ending main unwinds its stack, threads and all
    pthread_exit(nullptr);
  }
  for (;;) pause();
}
