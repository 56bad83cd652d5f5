// The screenshot tool shows the program's real dialogs, filled with a small made-up machine: four
// processors, a few programs and windows (titled in the language shown), and a watch list.
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <memory>

#include "app/about_dlg.h"
#include "app/assign_app.h"
#include "app/dummy_dlg.h"
#include "framework/qt/qt_backend.h"
#include "engine/console_message_boxes.h"
#include "framework/qt/screenshot_dialogs.h"
#include "framework/shell.h"
#include "platform/fake/fake_instance_guard.h"
#include "platform/fake/fake_system.h"
#include "platform/linux/linux_shell.h"
#include "res/resource.h"
#include "res/texts.h"
#include "settings/ini_file.h"
#include "ui/assign_list_dlg.h"
#include "ui/change_cpu_assign_dlg.h"
#include "ui/manage_assign_dlg.h"

namespace {

struct DemoMachine {
  platform::FakeSystem system;
  ConsoleMessageBoxes boxes{nullptr};
  platform::FakeInstanceRegistry registry;
  platform::FakeInstanceGuard guard{registry};
  IniFile settings{"/nonexistent/mavrin-screenshots/mavrin.ini"};
  platform::LinuxShell shell;
  CAssignApp app{CAssignApp::Services{system, boxes, guard, settings, "/dev/null", nullptr}};

  DemoMachine() {
    system.processorCount = 4;
    system.AddProcess(1201, "/usr/bin/video-encoder", 0x3);
    system.AddProcess(1202, "/usr/bin/video-encoder", 0x3);
    system.AddProcess(1310, "/usr/lib/office/soffice.bin", 0xF);
    system.AddProcess(1422, "/usr/bin/Xterm", 0xF);
    system.AddProcess(1530, "/opt/game/bin/Game", 0xC);
    system.AddProcess(1650, "/usr/bin/make", 0x1);
    system.AddProcess(1751, "/usr/bin/nautilus", 0xF);
    const bool japanese = res::CurrentLanguage() == res::Language::kJapanese;
    system.AddWindow(0x100001, japanese ? "レポート.odt - 文書エディタ" : "report.odt - Writer", "Soffice", 1310);
    system.AddWindow(0x100002, japanese ? "build — 端末" : "build — Terminal", "XTerm", 1422);
    system.AddWindow(0x100003, "Game", "Game", 1530);
    system.AddWindow(0x100004, japanese ? "ホーム - ファイル" : "Home - Files", "Nautilus", 1751);
    app.GetWatchList().Append(WatchEntry{"/usr/bin/video-encoder", 0x3});
    app.GetWatchList().Append(WatchEntry{"/opt/game/bin/game", 0xC});
    app.GetWatchList().Append(WatchEntry{"/usr/bin/make", 0x1});
    SetTheApp(&app);
    framework::SetShell(&shell);
    app.Snapshot().Refresh();
  }
};

// Made again when the language changes, while none of its dialogs is open.
DemoMachine& Demo() {
  static std::unique_ptr<DemoMachine> machine;
  static res::Language madeFor = res::Language::kJapanese;
  if (!machine || madeFor != res::CurrentLanguage()) {
    machine.reset();
    madeFor = res::CurrentLanguage();
    machine = std::make_unique<DemoMachine>();
  }
  return *machine;
}

template <class D>
std::unique_ptr<framework::CDialog> Make() {
  Demo();
  return std::make_unique<D>();
}

std::unique_ptr<framework::CDialog> MakeChangeDialog() {
  Demo();
  auto dialog = std::make_unique<CChangeCpuAssignDlg>();
  const auto& processes = TheApp().Processes();
  for (std::size_t i = 0; i < processes.size(); ++i) {
    if (processes[i].exePath == "/opt/game/bin/game") dialog->processIndex = static_cast<int>(i);
  }
  return dialog;
}

// The tray menu as a click on the icon opens it, from the demo machine's live data.
int ShotTrayMenu(framework::qt::QtBackend& backend, const std::string& folder) {
  Demo();
  const std::string path = folder + "/tray_menu.png";
  CDummyDlg tray;
  framework::SetMainWindow(&tray);
  bool saved = false;
  backend.SetModalStartHandler([&](framework::CDialog& running, QWidget&) {
    if (&running != &tray) return;
    QTimer::singleShot(300, [&] {
      if (QWidget* menu = backend.OpenPopup()) {
        saved = menu->grab().save(QString::fromStdString(path), "PNG");
        menu->close();
      }
      tray.PostToSelf(WM_COMMAND, ID_TRAY_EXIT);
    });
    tray.PostToSelf(WM_TRAY_NOTIFY, ID_TRAY_ICON, WM_LBUTTONDOWN);
  });
  tray.DoModal();
  backend.SetModalStartHandler(nullptr);
  framework::SetMainWindow(nullptr);
  if (!saved) {
    std::fprintf(stderr, "tray menu: no screenshot\n");
    return 1;
  }
  std::printf("%s\n", path.c_str());
  return 0;
}

[[maybe_unused]] const bool kTrayMenu = framework::qt::RegisterScreenshotExtra(ShotTrayMenu);
[[maybe_unused]] const bool kAbout = framework::qt::RegisterScreenshotDialog(IDD_ABOUTBOX, Make<CAboutDlg>);
[[maybe_unused]] const bool kSettings = framework::qt::RegisterScreenshotDialog(IDD_ASSIGN_LIST, Make<CAssignListDlg>);
[[maybe_unused]] const bool kChange = framework::qt::RegisterScreenshotDialog(IDD_CHANGE_CPU_ASSIGN, MakeChangeDialog);
[[maybe_unused]] const bool kManage = framework::qt::RegisterScreenshotDialog(IDD_MANAGE_ASSIGN, Make<CManageAssignDlg>);

}  // namespace
