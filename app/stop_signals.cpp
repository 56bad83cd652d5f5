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
}
