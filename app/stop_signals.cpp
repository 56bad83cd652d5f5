#include "app/stop_signals.h"

#include <atomic>
#include <csignal>

#include "app/dummy_dlg.h"
#include "framework/dialog.h"
#include "framework/headless/headless_backend.h"

namespace {

std::atomic<bool> g_stopRequested{false};
int g_headlessSlot = -1;

void PostStopToMainWindow() {
  if (framework::CDialog* main = framework::MainWindow()) main->PostToSelf(WM_APP_STOP_REQUEST);
}

extern "C" void OnStopSignal(int) {
  // Only async-signal-safe work here: a flag and a wake-up of the loop, which does the rest.
  g_stopRequested.store(true);
  if (g_headlessSlot >= 0) framework::headless::HeadlessBackend::TriggerAsync(g_headlessSlot);
}

}  // namespace

bool StopRequested() { return g_stopRequested.load(); }

void InstallStopSignals(framework::IBackend& backend) {
  if (auto* headless = dynamic_cast<framework::headless::HeadlessBackend*>(&backend)) {
    g_headlessSlot = headless->AddAsyncAction(PostStopToMainWindow);
  }
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}
