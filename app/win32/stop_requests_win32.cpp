// Console stop requests (Ctrl+C, Ctrl+Break, the console window closing, log-off and shut-down of a
// console session) end the program through its normal path, as Exit does. A windowed start has no
// console and is stopped through its windows (WM_CLOSE, WM_ENDSESSION) instead.
#include <windows.h>

#include <atomic>

#include "app/dummy_dlg.h"
#include "app/stop_signals.h"
#include "framework/dialog.h"

namespace {

std::atomic<bool> g_stopRequested{false};
std::atomic<HWND> g_mainWindow{nullptr};

BOOL WINAPI OnConsoleControl(DWORD) {
  // Runs on a thread of its own: only a flag and a posted message, the loop does the rest.
  g_stopRequested.store(true);
  if (HWND main = g_mainWindow.load()) PostMessageA(main, WM_APP_STOP_REQUEST, 0, 0);
  return TRUE;
}

}  // namespace

bool StopRequested() {
  // The main window exists once anything asks; remember it for the control handler.
  if (framework::CDialog* main = framework::MainWindow()) {
    g_mainWindow.store(reinterpret_cast<HWND>(main->GetSafeHwnd()));
  }
  return g_stopRequested.load();
}

void InstallStopSignals(framework::IBackend&, int, AsyncTrigger) { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }
