// One short-lived process of the soak run: it lives the given number of milliseconds and ends. It
// never outlives the harness that started it.
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

int main(int argc, char** argv) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() == 1) return 1;
  const long ms = argc > 1 ? std::atol(argv[1]) : 1000;
  timespec wait{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&wait, &wait) != 0) {
  }
  return 0;
}
