// A windowed start has no console and is stopped through its windows (WM_CLOSE, WM_ENDSESSION)
// instead; this covers a start from a console.
#include <windows.h>

#include <atomic>

#include "platform/stop_requests.h"

namespace platform {
namespace {

std::atomic<void (*)()> g_onStop{nullptr};

BOOL WINAPI OnConsoleControl(DWORD) {
  // Runs on a thread of its own; the callback only wakes the loop, which does the rest.
  if (void (*onStop)() = g_onStop.load()) onStop();
  return TRUE;
}

}  // namespace

void ListenForStopRequests(void (*onStop)()) {
  g_onStop.store(onStop);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

}  // namespace platform
