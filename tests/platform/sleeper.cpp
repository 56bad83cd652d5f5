// A small program for the integration tests: it sleeps until killed, optionally with extra
// threads. Usage: sleeper [threads] [churn]. "churn" keeps starting short-lived threads.
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
  // Whatever happens to the test that started us, we do not outlive it.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() == 1) return 1;
  int threads = argc > 1 ? std::atoi(argv[1]) : 0;
  bool churn = argc > 2 && std::strcmp(argv[2], "churn") == 0;
  std::vector<std::thread> sleepers;
  for (int i = 0; i < threads; ++i) {
    sleepers.emplace_back([] {
      for (;;) pause();
    });
  }
  if (churn) {
    sleepers.emplace_back([] {
      for (;;) {
        std::thread([] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); }).detach();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
  }
  for (;;) pause();
}
