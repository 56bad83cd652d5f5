#include <signal.h>

#include <atomic>

#include "platform/stop_requests.h"

namespace platform {
namespace {

std::atomic<void (*)()> g_onStop{nullptr};

extern "C" void OnBrokenPipe(int) {
  // Nothing to do: the write that met a closed pipe fails with EPIPE instead of ending the program,
  // so a reader that goes away (`mavrin | head -1`) only ends what we print. A handler rather than
  // SIG_IGN, because exec resets a handler and the programs we start get the usual default.
}

extern "C" void OnStopSignal(int) {
  if (void (*onStop)() = g_onStop.load()) onStop();
}

void Install(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(signal, &action, nullptr);
}

}  // namespace

void ListenForStopRequests(void (*onStop)()) {
  g_onStop.store(onStop);
  Install(SIGTERM, OnStopSignal);
  Install(SIGINT, OnStopSignal);
  Install(SIGHUP, OnStopSignal);
  Install(SIGPIPE, OnBrokenPipe);
}

}  // namespace platform
