// The Linux edition's entry: answers --help and --version, refuses a second instance (bringing the
// first forward), picks the window system (Qt on a desktop, headless without one), wires the real
// system services to the application object and runs it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/about_dlg.h"
#include "app/assign_app.h"
#include "app/dummy_dlg.h"
#include "app/stop_signals.h"
#include "framework/backend.h"
#include "framework/dialog.h"
#include "framework/headless/headless_backend.h"
#include "platform/linux/ini_file.h"
#include "platform/linux/inotify_exec_watch.h"
#include "platform/linux/inotify_file_monitor.h"
#include "platform/linux/linux_instance_guard.h"
#include "platform/linux/linux_shell.h"
#include "platform/linux/linux_system.h"
#include "platform/linux/proc_table.h"
#include "platform/linux/resident_pages.h"
#include "platform/linux/restart_self.h"
#include "res/resources.h"
#include "res/texts.h"
#include "settings/settings_file.h"

#ifdef MAVRIN_WITH_QT
#include "framework/qt/qt_backend.h"
#endif

namespace {

// Handed to the program itself when it goes on without its display: the hand-changed paths, which
// observation must keep leaving alone (the rest is in the settings file).
constexpr char kLeftAloneOption[] = "--left-alone=";

bool HasDisplay() {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 != nullptr && x11[0] != '\0') || (wayland != nullptr && wayland[0] != '\0');
}

std::string ProgramName(const char* argv0) {
  std::string name = argv0 != nullptr ? argv0 : "mavrin";
  const std::size_t slash = name.find_last_of('/');
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name.empty() ? std::string("mavrin") : name;
}

// The user's language, from MAVRIN_LANG or the locale; chosen before any window or text exists.
void ChooseLanguage() {
  const char* wanted = std::getenv("MAVRIN_LANG");
  res::Language ignored = res::Language::kEnglish;
  if (wanted != nullptr && wanted[0] != '\0' && !res::ParseLanguageName(wanted, ignored)) {
    std::fprintf(stderr, "mavrin: MAVRIN_LANG=%s is neither ja nor en; the locale decides\n", wanted);
  }
  res::SetLanguage(res::LanguageFromEnvironment(wanted, std::getenv("LANGUAGE"), std::getenv("LC_ALL"),
                                                std::getenv("LC_MESSAGES"), std::getenv("LANG")));
}

#ifdef MAVRIN_WITH_QT
// ---- going on without the display ----
// Qt ends the process (exit(1)) when the connection to the X server breaks, from inside whatever loop
// runs. Observation must not stop with it: the program saves and starts itself again without a
// display, handing over what only it knows.
const char* g_executableArgv0 = nullptr;
bool g_runningOnDisplay = false;

void ContinueWithoutDisplay() {
  if (!g_runningOnDisplay) return;
  g_runningOnDisplay = false;
  CAssignApp& app = TheApp();
  app.SaveWatchList();
  if (StopRequested()) {
    // Asked to end as the display went (a log-out does both at once): starting again would leave a
    // program running that was told to stop, with the request gone with the old process.
    std::fflush(nullptr);
    std::_Exit(0);
  }
  std::fputs(res::Text(res::TextId::kDisplayLost), stderr);
  std::vector<std::string> args{g_executableArgv0 != nullptr ? g_executableArgv0 : "mavrin"};
  for (const std::string& path : app.GetQuickChangedPaths()) args.push_back(kLeftAloneOption + path);
  platform::RestartWithoutDisplay(std::move(args));
  // Could not start again: the process ends as Qt asked.
}
#endif

}  // namespace

int main(int argc, char** argv) {
  // The diagnostic lines are for whoever follows them live; a full buffer would hold them back.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  ChooseLanguage();
  framework::SetResources(&res::ProgramResources());

  std::vector<std::string> leftAlone;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(res::Text(res::TextId::kUsage), stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("mavrin %s\n", kVersionText);
      return 0;
    }
    if (arg.rfind(kLeftAloneOption, 0) == 0) {
      leftAlone.push_back(arg.substr(std::strlen(kLeftAloneOption)));
      continue;
    }
    std::fputs(res::Fill(res::TextId::kUnknownOption, {arg}).c_str(), stderr);
    return 2;
  }

  // A second start must neither open the display nor say there is none: it finds the first one
  // and brings it forward before anything else.
  const char* instanceDir = std::getenv("MAVRIN_INSTANCE_DIR");
  platform::LinuxInstanceGuard instanceGuard(instanceDir != nullptr ? instanceDir : "");
  if (!ClaimSingleInstance(instanceGuard, stderr)) return 0;

  std::unique_ptr<framework::IBackend> backend;
#ifdef MAVRIN_WITH_QT
  if (HasDisplay()) backend = framework::qt::CreateQtBackend(argc, argv);
#endif
  const bool onDisplay = backend != nullptr;
  if (!backend) {
    std::fputs(HasDisplay() ? "mavrin: the display cannot be used; observing without a user interface\n"
                            : "mavrin: no display; observing without a user interface\n",
               stderr);
    backend = std::make_unique<framework::headless::HeadlessBackend>();
  }
  framework::SetBackend(backend.get());
  framework::SetApplicationName(ProgramName(argc > 0 ? argv[0] : nullptr));

  platform::LinuxShell shell;
  framework::SetShell(&shell);

  platform::ProcTable processTable;
  platform::LinuxSystem system;
  // The table reads the id allocated last each tick; the thread checks that follow learn from it.
  system.FollowIds(&processTable.Ids());
  platform::IniFile settingsFile(kSettingsFileName);
  platform::InotifyFileMonitor settingsMonitor(kSettingsFileName);
  CAssignApp::Services services{system, *backend, instanceGuard, settingsFile, &settingsMonitor};
  if (onDisplay) {
    // A later start reaches the desktop instance; without a display there would be nothing to show.
    framework::IBackend* ui = backend.get();
    const int forward = ui->AddAsyncAction(PostBringForwardToMainWindow);
    services.comeForward = [ui, forward] { ui->TriggerAsync(forward); };
  }
  platform::InotifyExecWatch execWatch;
  services.processTable = &processTable;
  // A loop that cannot hear the watch's descriptor leaves new programs to the periodic look.
  if (backend->WatchesDescriptors()) services.execWatch = &execWatch;
  services.clock = IncrementalObservation::Clock{platform::SteadyMicroseconds, platform::PauseMicroseconds};
  services.releaseIdleMemory = [] { platform::ReleaseRereadablePages(); };
  CAssignApp app(services);
  for (const std::string& path : leftAlone) app.GetQuickChangedPaths().insert(path);
  SetTheApp(&app);
  StopRequestListener stopRequests(*backend);
  // Read at once, so the descriptor goes quiet; the main window then decides what the word means
  // (paused, the settings dialog open).
  auto onExec = [&execWatch] {
    if (!execWatch.Collect()) return;
    if (framework::CDialog* main = framework::MainWindow()) main->PostToSelf(WM_APP_EXEC_EVENTS);
  };
  backend->WatchReadable(execWatch.Descriptor(), onExec);
  if (backend->WatchesDescriptors()) {
    backend->WatchReadable(settingsMonitor.Descriptor(), [&settingsMonitor] { settingsMonitor.Collect(); });
    settingsMonitor.CollectedByLoop();
  }
#ifdef MAVRIN_WITH_QT
  if (onDisplay) {
    g_executableArgv0 = argc > 0 ? argv[0] : nullptr;
    std::atexit(ContinueWithoutDisplay);
    g_runningOnDisplay = true;
  }
#endif

  app.InitInstance();
  g_runningOnDisplay = false;

  SetTheApp(nullptr);
  framework::SetShell(nullptr);
  framework::SetBackend(nullptr);
  return 0;
}
