#include "app/stop_signals.h"

#include <atomic>
#include <csignal>

#include "app/dummy_dlg.h"
#include "framework/dialog.h"
#include "framework/headless/headless_backend.h"

namespace {

std::atomic<bool> g_stopRequested{false};
int g_wakeSlot = -1;
AsyncTrigger g_wake = nullptr;

extern "C" void OnBrokenPipe(int) {
  // Nothing to do: the write that met a closed pipe fails with EPIPE instead of ending the program,
  // so a reader that goes away (`mavrin | head -1`) only ends what we print. A handler rather than
  // SIG_IGN, because exec resets a handler and the programs we start get the usual default.
}

extern "C" void OnStopSignal(int) {
  // Only async-signal-safe work here: a flag and a wake-up of the loop, which does the rest.
  g_stopRequested.store(true);
  if (g_wake != nullptr && g_wakeSlot >= 0) g_wake(g_wakeSlot);
}

}  // namespace

void PostStopToMainWindow() {
  if (framework::CDialog* main = framework::MainWindow()) main->PostToSelf(WM_APP_STOP_REQUEST);
}

bool StopRequested() { return g_stopRequested.load(); }

void InstallStopSignals(framework::IBackend& backend, int slot, AsyncTrigger trigger) {
  if (trigger != nullptr) {
    g_wakeSlot = slot;
    g_wake = trigger;
  } else if (auto* headless = dynamic_cast<framework::headless::HeadlessBackend*>(&backend)) {
    g_wakeSlot = headless->AddAsyncAction(PostStopToMainWindow);
    g_wake = &framework::headless::HeadlessBackend::TriggerAsync;
  }
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);

  struct sigaction pipe {};
  pipe.sa_handler = OnBrokenPipe;
  sigemptyset(&pipe.sa_mask);
  pipe.sa_flags = SA_RESTART;
  sigaction(SIGPIPE, &pipe, nullptr);
}
