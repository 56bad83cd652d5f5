#include "app/stop_signals.h"

#include <atomic>

#include "app/dummy_dlg.h"
#include "framework/dialog.h"
#include "platform/stop_requests.h"

namespace {

std::atomic<bool> g_stopRequested{false};
// Read from a signal handler or a system thread, hence atomics rather than a listener's members.
std::atomic<framework::IBackend*> g_backend{nullptr};
std::atomic<int> g_wakeSlot{-1};

void OnStopRequest() {
  // Only async-signal-safe work here: a flag and a wake-up of the loop, which does the rest.
  g_stopRequested.store(true);
  framework::IBackend* backend = g_backend.load();
  const int slot = g_wakeSlot.load();
  if (backend != nullptr && slot >= 0) backend->TriggerAsync(slot);
}

}  // namespace

StopRequestListener::StopRequestListener(framework::IBackend& backend) {
  g_wakeSlot.store(backend.AddAsyncAction(PostStopToMainWindow));
  g_backend.store(&backend);
  platform::ListenForStopRequests(OnStopRequest);
}

StopRequestListener::~StopRequestListener() {
  // The flag stays: a request that came is not taken back.
  g_backend.store(nullptr);
}

void PostStopToMainWindow() {
  if (framework::CDialog* main = framework::MainWindow()) main->PostToSelf(WM_APP_STOP_REQUEST);
}

bool StopRequested() { return g_stopRequested.load(); }
