// Pictures of the dialogs on larger machines than the demo's: a 32-processor Intel hybrid and a
// 128-processor two-socket server, their topologies read from the recorded sysfs trees of the
// tests. For each: the settings dialog, the change-assignment dialog with its preset menu open, and
// the confirmation of overwriting a watch entry.
#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "app/assign_app.h"
#include "framework/qt/qt_backend.h"
#include "framework/qt/screenshot_dialogs.h"
#include "platform/fake/fake_instance_guard.h"
#include "platform/fake/fake_system.h"
#include "platform/linux/ini_file.h"
#include "platform/linux/sysfs_topology.h"
#include "res/resource.h"
#include "ui/assign_list_dlg.h"
#include "ui/change_cpu_assign_dlg.h"

namespace {

struct LargeMachine {
  platform::FakeSystem system;
  platform::FakeInstanceRegistry registry;
  platform::FakeInstanceGuard guard{registry};
  platform::IniFile settings{"/nonexistent/mavrin-screenshots/mavrin.ini"};
  std::unique_ptr<CAssignApp> app;

  LargeMachine(framework::IMessageBoxes& boxes, const char* tree) {
    system.topology = platform::ReadSysfsTopology(std::string(MAVRIN_SYSFS_TREES) + "/" + tree);
    system.processorCount = static_cast<std::uint32_t>(system.topology->online.Count());
    const unsigned n = system.processorCount;
    const platform::ProcessorSet all = platform::ProcessorSet::FirstN(n);
    system.AddProcess(2101, "/usr/bin/video-encoder", all);
    system.AddProcess(2102, "/usr/bin/video-encoder", all);
    system.AddProcess(2210, "/usr/lib/office/soffice.bin", all);
    system.AddProcess(2322, "/usr/bin/Xterm", all);
    system.AddProcess(2430, "/opt/game/bin/Game", platform::ProcessorSet::Range(0, n / 4 - 1));
    system.AddProcess(2550, "/usr/bin/make", platform::ProcessorSet::Range(n / 2, n - 1));
    system.AddProcess(2651, "/usr/bin/nautilus", all);
    system.AddWindow(0x200001, "レポート.odt - 文書エディタ", "Soffice", 2210);
    system.AddWindow(0x200002, "build — 端末", "XTerm", 2322);
    system.AddWindow(0x200003, "Game", "Game", 2430);
    app = std::make_unique<CAssignApp>(
        CAssignApp::Services{system, boxes, guard, settings, nullptr, "/dev/null", nullptr, nullptr});
    app->GetWatchList().Append(WatchEntry{"/opt/game/bin/game", platform::ProcessorSet::Range(0, n / 4 - 1)});
    SetTheApp(app.get());
    app->Snapshot().Refresh();
  }
  ~LargeMachine() { SetTheApp(nullptr); }

  int Row(const std::string& path) const {
    const auto& processes = app->Processes();
    for (std::size_t i = 0; i < processes.size(); ++i) {
      if (processes[i].exePath == path) return static_cast<int>(i);
    }
    return -1;
  }
};

bool Save(const QPixmap& picture, const std::string& path) {
  if (!picture.save(QString::fromStdString(path), "PNG")) {
    std::fprintf(stderr, "%s: not saved\n", path.c_str());
    return false;
  }
  std::printf("%s\n", path.c_str());
  return true;
}

// The windows as they lie on the screen, in one picture (the first at the top-left corner of it).
QPixmap Compose(const std::vector<QWidget*>& windows) {
  QRect bounds;
  for (QWidget* w : windows) bounds |= w->frameGeometry();
  QPixmap canvas(bounds.size());
  canvas.fill(QColor(0x5a, 0x6e, 0x82));
  QPainter painter(&canvas);
  for (QWidget* w : windows) painter.drawPixmap(w->geometry().topLeft() - bounds.topLeft(), w->grab());
  return canvas;
}

// Runs dialog; shoot runs once it shows, inside its modal loop, and must end it.
void RunShowing(framework::qt::QtBackend& backend, framework::CDialog& dialog,
                const std::function<void(QWidget&)>& shoot) {
  backend.SetModalStartHandler([&](framework::CDialog& running, QWidget& window) {
    if (&running != &dialog) return;
    QTimer::singleShot(100, &window, [&shoot, &window] { shoot(window); });
  });
  dialog.DoModal();
  backend.SetModalStartHandler(nullptr);
}

// Waits for what a click opens (a popup or a box), then hands it over.
void WhenOpen(const std::function<QWidget*()>& find, const std::function<void(QWidget*)>& then, int triesLeft = 50) {
  QTimer::singleShot(50, [=] {
    if (QWidget* open = find(); open != nullptr || triesLeft == 0) {
      then(open);
    } else {
      WhenOpen(find, then, triesLeft - 1);
    }
  });
}

int ShootMachine(framework::qt::QtBackend& backend, const std::string& folder, const char* tree,
                 const std::string& suffix) {
  LargeMachine machine(backend, tree);
  int failures = 0;

  CAssignListDlg settings(*machine.app);
  RunShowing(backend, settings, [&](QWidget& window) {
    QCoreApplication::processEvents();
    failures += Save(window.grab(), folder + "/settings_" + suffix + ".png") ? 0 : 1;
    settings.EndDialog(IDCANCEL);
  });

  CChangeCpuAssignDlg change(*machine.app);
  change.processIndex = machine.Row("/opt/game/bin/game");
  RunShowing(backend, change, [&](QWidget& window) {
    auto* presets = qobject_cast<QPushButton*>(backend.ControlWidget(change.GetSafeHwnd(), IDC_CPU_PRESETS));
    if (presets == nullptr) {
      ++failures;
      change.EndDialog(IDCANCEL);
      return;
    }
    QCursor::setPos(presets->mapToGlobal(QPoint(presets->width() / 2, presets->height())));
    WhenOpen([&] { return backend.OpenPopup(); },
             [&](QWidget* menu) {
               if (menu != nullptr) {
                 failures += Save(Compose({&window, menu}), folder + "/change_" + suffix + ".png") ? 0 : 1;
                 menu->close();
               } else {
                 ++failures;
               }
               change.EndDialog(IDCANCEL);
             });
    presets->click();
  });

  // The overwrite confirmation, for the watched game moved to the other half of the machine.
  const unsigned n = machine.system.processorCount;
  const WatchEntry candidate{"/opt/game/bin/game", platform::ProcessorSet::Range(n / 2, n - 1)};
  WhenOpen([&] { return backend.OpenMessageBox(); },
           [&](QWidget* box) {
             if (box != nullptr) {
               failures += Save(box->grab(), folder + "/confirm_" + suffix + ".png") ? 0 : 1;
               box->close();
             } else {
               ++failures;
             }
           });
  AddOrUpdateWatchEntry(*machine.app, candidate);
  return failures;
}

int ShootLargeMachines(framework::qt::QtBackend& backend, const std::string& folder) {
  return ShootMachine(backend, folder, "intel_8p16e", "32") + ShootMachine(backend, folder, "server_2s128", "128");
}

[[maybe_unused]] const bool kLargeMachines = framework::qt::RegisterScreenshotExtra(ShootLargeMachines);

}  // namespace
