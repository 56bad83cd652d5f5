// The screenshot tool shows the program's real dialogs, filled with a small made-up machine: four
// processors, a few programs and windows (titled in the language shown), and a watch list.
#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "app/about_dlg.h"
#include "app/assign_app.h"
#include "app/dummy_dlg.h"
#include "app/status_dlg.h"
#include "framework/qt/qt_backend.h"
#include "framework/qt/screenshot_dialogs.h"
#include "framework/shell.h"
#include "platform/fake/fake_instance_guard.h"
#include "platform/fake/fake_system.h"
#include "platform/linux/ini_file.h"
#include "platform/linux/linux_shell.h"
#include "res/resource.h"
#include "res/texts.h"
#include "ui/assign_list_dlg.h"
#include "ui/change_cpu_assign_dlg.h"
#include "ui/manage_assign_dlg.h"

namespace {

// The program's boxes go to whichever backend shows the pictures.
class BackendBoxes final : public framework::IMessageBoxes {
 public:
  int ShowMessageBox(framework::OwnerWindow owner, const std::string& text, const char* caption,
                     unsigned type) override {
    return framework::Backend().ShowMessageBox(owner, text, caption, type);
  }
};

struct DemoMachine {
  platform::FakeSystem system;
  BackendBoxes boxes;
  platform::FakeInstanceRegistry registry;
  platform::FakeInstanceGuard guard{registry};
  platform::IniFile settings{"/nonexistent/mavrin-screenshots/mavrin.ini"};
  platform::LinuxShell shell;
  CAssignApp app{CAssignApp::Services{system, boxes, guard, settings, nullptr, "/dev/null", nullptr, nullptr}};

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
    // Re-assigned by hand in this run: observation leaves it alone, and the manager says so.
    app.GetQuickChangedPaths().insert("/usr/bin/make");
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

template <class D>
std::unique_ptr<framework::CDialog> MakeInContext() {
  return std::make_unique<D>(Demo().app);
}

std::unique_ptr<framework::CDialog> MakeChangeDialog() {
  DemoMachine& demo = Demo();
  auto dialog = std::make_unique<CChangeCpuAssignDlg>(demo.app);
  const auto& processes = demo.app.Processes();
  for (std::size_t i = 0; i < processes.size(); ++i) {
    if (processes[i].exePath == "/opt/game/bin/game") dialog->processIndex = static_cast<int>(i);
  }
  return dialog;
}

// The windows as they lie on the screen, in one picture: each at its place relative to the first,
// later ones on top. A window drawn over another gets a frame and a title band, as a window manager
// would give it; offscreen nobody else draws them.
QImage Composite(const std::vector<QWidget*>& windows, bool framed) {
  QRect area;
  std::vector<std::pair<QRect, QPixmap>> parts;
  for (QWidget* window : windows) {
    const QPixmap pixmap = window->grab();
    const QRect place(window->mapToGlobal(QPoint(0, 0)), pixmap.size() / pixmap.devicePixelRatio());
    parts.emplace_back(place, pixmap);
  }
  if (parts.empty()) return QImage();
  const int band = framed ? QFontMetrics(windows.back()->font()).height() + 8 : 0;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    area |= framed && i > 0 ? parts[i].first.adjusted(-1, -1 - band, 1, 1) : parts[i].first;
  }
  QImage image(area.size(), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const QRect place = parts[i].first.translated(-area.topLeft());
    if (framed && i > 0) {
      const QPalette palette = windows[i]->palette();
      const QRect title(place.left(), place.top() - band, place.width(), band);
      painter.fillRect(title, palette.color(QPalette::Highlight));
      painter.setPen(palette.color(QPalette::HighlightedText));
      QFont bold = windows[i]->font();
      bold.setBold(true);
      painter.setFont(bold);
      painter.drawText(title.adjusted(8, 0, -8, 0), Qt::AlignVCenter | Qt::AlignLeft, windows[i]->windowTitle());
      painter.setPen(palette.color(QPalette::Shadow));
      painter.drawRect(place.adjusted(-1, -1 - band, 0, 0));
    }
    painter.drawPixmap(place.topLeft(), parts[i].second);
  }
  return image;
}

QAction* ActionWithText(QMenu& menu, res::TextId id) {
  for (QAction* action : menu.actions()) {
    if (action->text() == QString::fromUtf8(res::Text(id))) return action;
  }
  return nullptr;
}

// The tray menu as a click on the icon opens it, from the demo machine's live data, with the quick
// change of a process open.
int ShotTrayMenu(framework::qt::QtBackend& backend, const std::string& folder) {
  Demo();
  const std::string path = folder + "/tray_menu.png";
  CDummyDlg tray;
  framework::SetMainWindow(&tray);
  bool saved = false;
  std::vector<QWidget*> open;
  backend.SetModalStartHandler([&](framework::CDialog& running, QWidget&) {
    if (&running != &tray) return;
    QTimer::singleShot(300, [&] {
      auto* menu = qobject_cast<QMenu*>(backend.OpenPopup());
      QAction* quick = menu != nullptr ? ActionWithText(*menu, res::TextId::kTrayQuickChange) : nullptr;
      if (quick != nullptr && quick->menu() != nullptr) {
        open = {menu, quick->menu()};
        menu->setActiveAction(quick);
        QTimer::singleShot(200, [&, quick] {
          QAction* processes = ActionWithText(*quick->menu(), res::TextId::kTrayProcesses);
          if (processes != nullptr && processes->menu() != nullptr) {
            open.push_back(processes->menu());
            quick->menu()->setActiveAction(processes);
          }
          QTimer::singleShot(200, [&] {
            saved = Composite(open, false).save(QString::fromStdString(path), "PNG");
            for (auto it = open.rbegin(); it != open.rend(); ++it) (*it)->close();
            tray.PostToSelf(WM_COMMAND, ID_TRAY_EXIT);
          });
        });
        return;
      }
      if (menu != nullptr) menu->close();
      tray.PostToSelf(WM_COMMAND, ID_TRAY_EXIT);
    });
    tray.PostToSelf(WM_TRAY_NOTIFY, ID_TRAY_ICON, WM_LBUTTONDOWN);
  });
  tray.DoModal();
  framework::EndQuit();
  backend.SetModalStartHandler(nullptr);
  framework::SetMainWindow(nullptr);
  if (!saved) {
    std::fprintf(stderr, "tray menu: no screenshot\n");
    return 1;
  }
  std::printf("%s\n", path.c_str());
  return 0;
}

// The settings dialog asking whether to overwrite a watch entry, as adding the current assignment
// of a listed process that is on the watch list already asks (the first row, "make", is).
int ShotConfirmation(framework::qt::QtBackend& backend, const std::string& folder) {
  DemoMachine& demo = Demo();
  const std::string path = folder + "/settings_confirm.png";
  CAssignListDlg settings(demo.app);
  bool saved = false;
  backend.SetModalStartHandler([&](framework::CDialog& running, QWidget& window) {
    if (&running != &settings) return;
    QTimer::singleShot(200, [&] {
      if (QWidget* box = backend.OpenMessageBox()) {
        box->move(window.mapToGlobal(window.rect().center()) - QPoint(box->width() / 2, box->height() / 2));
        QCoreApplication::processEvents();
        saved = Composite({&window, box}, true).save(QString::fromStdString(path), "PNG");
        box->close();
      }
      settings.PostToSelf(WM_COMMAND, IDCANCEL);
    });
    settings.PostToSelf(WM_COMMAND, ID_PROCESSLIST_ADD);
  });
  settings.DoModal();
  backend.SetModalStartHandler(nullptr);
  if (!saved) {
    std::fprintf(stderr, "confirmation: no screenshot\n");
    return 1;
  }
  std::printf("%s\n", path.c_str());
  return 0;
}

void PressKey(QWidget* target, int key) {
  if (target == nullptr) return;
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &press);
}

// The tray menu's processes with a few hundred of them: the menu scrolls within the screen, and one
// program's many processes are told apart by their tool tips.
int ShotLongMenu(framework::qt::QtBackend& backend, const std::string& folder) {
  DemoMachine& demo = Demo();
  for (platform::ProcessId pid = 2000; pid < 2240; ++pid) demo.system.AddProcess(pid, "/usr/lib/build/worker", 0x3);
  const std::string path = folder + "/long_menu.png";
  CDummyDlg tray;
  framework::SetMainWindow(&tray);
  bool saved = false;
  backend.SetModalStartHandler([&](framework::CDialog& running, QWidget&) {
    if (&running != &tray) return;
    QTimer::singleShot(300, [&] {
      // Down to the quick change and into it, then down to its processes and into them: the keys
      // mean the same in every language.
      for (int key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Right}) {
        PressKey(backend.OpenPopup(), key);
      }
      for (int key : {Qt::Key_Down, Qt::Key_Right}) PressKey(QApplication::activePopupWidget(), key);
      for (int i = 0; i < 70; ++i) PressKey(QApplication::activePopupWidget(), Qt::Key_Down);
      QTimer::singleShot(200, [&] {
        if (QWidget* menu = QApplication::activePopupWidget()) {
          saved = menu->grab().save(QString::fromStdString(path), "PNG");
        }
        if (QWidget* menu = backend.OpenPopup()) menu->close();
        tray.PostToSelf(WM_COMMAND, ID_TRAY_EXIT);
      });
    });
    tray.PostToSelf(WM_TRAY_NOTIFY, ID_TRAY_ICON, WM_LBUTTONDOWN);
  });
  tray.DoModal();
  framework::EndQuit();
  backend.SetModalStartHandler(nullptr);
  framework::SetMainWindow(nullptr);
  for (platform::ProcessId pid = 2000; pid < 2240; ++pid) demo.system.RemoveProcess(pid);
  if (!saved) {
    std::fprintf(stderr, "long menu: no screenshot\n");
    return 1;
  }
  std::printf("%s\n", path.c_str());
  return 0;
}

[[maybe_unused]] const bool kTrayMenu = framework::qt::RegisterScreenshotExtra(ShotTrayMenu);
[[maybe_unused]] const bool kConfirmation = framework::qt::RegisterScreenshotExtra(ShotConfirmation);
[[maybe_unused]] const bool kLongMenu = framework::qt::RegisterScreenshotExtra(ShotLongMenu);
[[maybe_unused]] const bool kStatus = framework::qt::RegisterScreenshotDialog(IDD_STATUS, Make<CStatusDlg>);
[[maybe_unused]] const bool kAbout = framework::qt::RegisterScreenshotDialog(IDD_ABOUTBOX, Make<CAboutDlg>);
[[maybe_unused]] const bool kSettings =
    framework::qt::RegisterScreenshotDialog(IDD_ASSIGN_LIST, MakeInContext<CAssignListDlg>);
[[maybe_unused]] const bool kChange = framework::qt::RegisterScreenshotDialog(IDD_CHANGE_CPU_ASSIGN, MakeChangeDialog);
[[maybe_unused]] const bool kManage =
    framework::qt::RegisterScreenshotDialog(IDD_MANAGE_ASSIGN, MakeInContext<CManageAssignDlg>);

}  // namespace
