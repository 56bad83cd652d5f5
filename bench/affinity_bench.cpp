// What reading and setting a thread's processors costs with the 1024-processor set, by the size of
// the kernel buffer it goes through: one sized for the processors this machine can have
// (devices/system/cpu/possible) against one of CPU_SETSIZE (1024 bits).
//
//   mavrin_bench_affinity [--calls 20000] [--repeat 15]
//
// For each size, the median over the repeats of the wall time per call of: sched_getaffinity with
// the conversion into a ProcessorSet, the conversion from a ProcessorSet with sched_setaffinity
// (the thread's own processors, so nothing migrates), and the two conversions alone. The calls
// address another thread of this process, as the program addresses the threads of others.
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/linux/cpu_set_buffer.h"
#include "platform/processor_set.h"
#include "platform/processor_set_text.h"

namespace {

using Clock = std::chrono::steady_clock;

// The median over repeat runs of the microseconds per call of body, run calls times.
template <typename Body>
double MedianMicroseconds(int repeat, int calls, Body body) {
  std::vector<double> runs;
  for (int r = 0; r < repeat; ++r) {
    const auto start = Clock::now();
    for (int i = 0; i < calls; ++i) body();
    runs.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count() / calls);
  }
  std::sort(runs.begin(), runs.end());
  return runs[runs.size() / 2];
}

// A thread that waits until told to end, and its kernel id.
class Target {
 public:
  Target()
      : thread_([this] {
          tid_.store(static_cast<pid_t>(syscall(SYS_gettid)));
          while (!stop_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }) {
    while (tid_.load() == 0) std::this_thread::yield();
  }
  ~Target() {
    stop_.store(true);
    thread_.join();
  }
  Target(const Target&) = delete;
  Target& operator=(const Target&) = delete;
  pid_t Tid() const { return tid_.load(); }

 private:
  std::atomic<pid_t> tid_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
  int calls = 20000;
  int repeat = 15;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--calls") == 0) calls = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--repeat") == 0) repeat = std::max(1, std::atoi(argv[i + 1]));
  }
  Target target;
  const std::size_t possible = platform::PossibleCpuSetBytes();
  const std::size_t full = CPU_ALLOC_SIZE(platform::ProcessorSet::kCapacity);
  std::printf("processors online: %s, possible-sized buffer %zu bytes, full buffer %zu bytes\n",
              platform::FormatCpuList(platform::OnlineProcessors()).c_str(), possible, full);
  std::printf("%-14s | %-12s | %-12s | %-12s | %s\n", "buffer", "get us/call", "set us/call", "load us", "store us");

  int failures = 0;
  for (std::size_t bytes : {possible, full}) {
    std::vector<unsigned char> storage(std::max(bytes, sizeof(cpu_set_t)));
    auto* buffer = reinterpret_cast<cpu_set_t*>(storage.data());
    if (sched_getaffinity(target.Tid(), bytes, buffer) != 0) {
      std::fprintf(stderr, "sched_getaffinity refuses a buffer of %zu bytes\n", bytes);
      ++failures;
      continue;
    }
    const platform::ProcessorSet own = platform::LoadCpuSet(buffer, bytes);
    platform::ProcessorSet read;
    const double get = MedianMicroseconds(repeat, calls, [&] {
      if (sched_getaffinity(target.Tid(), bytes, buffer) != 0) ++failures;
      read = platform::LoadCpuSet(buffer, bytes);
    });
    const double set = MedianMicroseconds(repeat, calls, [&] {
      if (!platform::StoreCpuSet(own, buffer, bytes) || sched_setaffinity(target.Tid(), bytes, buffer) != 0) ++failures;
    });
    const double load = MedianMicroseconds(repeat, calls, [&] { read = platform::LoadCpuSet(buffer, bytes); });
    const double store = MedianMicroseconds(repeat, calls, [&] { platform::StoreCpuSet(own, buffer, bytes); });
    if (!(read == own)) ++failures;
    std::printf("%5zu bytes    | %12.3f | %12.3f | %12.4f | %.4f\n", bytes, get, set, load, store);
  }
  if (failures != 0) std::fprintf(stderr, "%d calls failed\n", failures);
  return failures == 0 ? 0 : 1;
}
