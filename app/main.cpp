// The Linux edition's entry: picks the window system (Qt on a desktop, headless without one), wires
// the real system services to the application object and runs it.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/assign_app.h"
#include "app/dummy_dlg.h"
#include "app/stop_signals.h"
#include "framework/backend.h"
#include "framework/dialog.h"
#include "framework/headless/headless_backend.h"
#include "platform/linux/inotify_file_monitor.h"
#include "platform/linux/linux_instance_guard.h"
#include "platform/linux/linux_shell.h"
#include "platform/linux/linux_system.h"
#include "res/texts.h"
#include "settings/ini_file.h"
#include "settings/settings_file.h"

#ifdef MAVRIN_WITH_QT
#include "framework/qt/qt_backend.h"
#endif

namespace {

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

}  // namespace

int main(int argc, char** argv) {
  // The diagnostic lines are for whoever follows them live; a full buffer would hold them back.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  ChooseLanguage();
  std::unique_ptr<framework::IBackend> backend;
#ifdef MAVRIN_WITH_QT
  if (HasDisplay()) backend = framework::qt::CreateQtBackend(argc, argv);
#else
  (void)argc;
#endif
  if (!backend) {
    std::fputs(HasDisplay() ? "mavrin: the display cannot be used; observing without a user interface\n"
                            : "mavrin: no display; observing without a user interface\n",
               stderr);
    auto headless = std::make_unique<framework::headless::HeadlessBackend>();
    headless->SetRealTime(true);
    backend = std::move(headless);
  }
  framework::SetBackend(backend.get());
  framework::SetApplicationName(ProgramName(argc > 0 ? argv[0] : nullptr));

  platform::LinuxShell shell;
  framework::SetShell(&shell);

  platform::LinuxSystem system;
  platform::LinuxInstanceGuard instanceGuard;
  IniFile settingsFile(kSettingsFileName);
  platform::InotifyFileMonitor settingsMonitor(kSettingsFileName);
  CAssignApp app(CAssignApp::Services{system, *backend, instanceGuard, settingsFile, &settingsMonitor});
  SetTheApp(&app);
#ifdef MAVRIN_WITH_QT
  if (auto* qt = dynamic_cast<framework::qt::QtBackend*>(backend.get())) {
    InstallStopSignals(*backend, qt->AddAsyncAction(PostStopToMainWindow), &framework::qt::QtBackend::TriggerAsync);
  } else {
    InstallStopSignals(*backend);
  }
#else
  InstallStopSignals(*backend);
#endif

  app.InitInstance();

  SetTheApp(nullptr);
  framework::SetShell(nullptr);
  framework::SetBackend(nullptr);
  return 0;
}
