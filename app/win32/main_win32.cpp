// The Windows edition's entry: the common controls, the Win32 dialog backend, the Windows system
// services and the application object, as the Linux entry wires its own.
#include <windows.h>
// clang-format off
#include <commctrl.h>
#include <commdlg.h>
#include <objbase.h>
#include <shellapi.h>
// clang-format on

#include <cstdio>
#include <string>

#include "app/assign_app.h"
#include "app/dummy_dlg.h"
#include "app/stop_signals.h"
#include "framework/dialog.h"
#include "framework/shell.h"
#include "framework/win32/win32_backend.h"
#include "platform/win32/timestamp_file_monitor.h"
#include "platform/win32/win32_instance_guard.h"
#include "platform/win32/win32_profile_file.h"
#include "platform/win32/win32_system.h"
#include "res/resources.h"
#include "res/texts.h"
#include "settings/settings_file.h"

namespace {

// The executable's name without its folder and extension: the default caption of its boxes.
std::string ProgramName() {
  char path[MAX_PATH * 4] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string name(path, n < sizeof path ? n : 0);
  const std::size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name.empty() ? std::string("mavrin") : name;
}

// Japanese texts are code page 932 bytes for the system's 8-bit calls: only a Japanese UI on code
// page 932 gets them, every other Windows English (ASCII), which no code page garbles.
res::Language ChooseLanguage() {
  char wanted[32] = {};
  const DWORD n = GetEnvironmentVariableA("MAVRIN_LANG", wanted, sizeof wanted);
  return res::LanguageForWindows(n > 0 && n < sizeof wanted ? wanted : nullptr, GetUserDefaultUILanguage(), GetACP());
}

}  // namespace

int main() {
  res::SetLanguage(ChooseLanguage());
  framework::SetResources(&res::ProgramResources());
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES;
  InitCommonControlsEx(&controls);
  // The shell's file icons and ShellExecute want COM on the calling thread.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

  framework::win32::Win32Backend backend;
  framework::win32::Win32Shell shell;
  framework::SetBackend(&backend);
  framework::SetShell(&shell);
  framework::SetApplicationName(ProgramName());

  // A later start finds this one through the mutex and asks it to come forward with a registered
  // message, which the backend hands to the tray window as WM_APP_BRING_FORWARD.
  backend.RouteRegisteredMessage(platform::Win32InstanceGuard::ActivationMessageName(kInstanceName).c_str(),
                                 WM_APP_BRING_FORWARD);

  platform::Win32System system;
  platform::Win32InstanceGuard instanceGuard;
  platform::Win32ProfileFile settingsFile(kSettingsFileName);
  platform::TimestampFileMonitor settingsMonitor(kSettingsFileName);
  CAssignApp app(CAssignApp::Services{system, backend, instanceGuard, settingsFile, &settingsMonitor});
  SetTheApp(&app);
  StopRequestListener stopRequests(backend);

  app.InitInstance();

  SetTheApp(nullptr);
  framework::SetShell(nullptr);
  framework::SetBackend(nullptr);
  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}
