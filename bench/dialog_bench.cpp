// How long the settings dialog takes to open with a box for every processor: from DoModal until the
// window is shown and painted, through the Qt backend (without a display), on a fake machine of
// each size with a few dozen processes.
//
//   mavrin_bench_dialog [--repeat 15] [--processors 8,32,128,1024]
//
// Prints the median over the repeats per machine size, and whether the boxes scrolled on the
// benchmark's 1920 by 1080 screen.
#include <QApplication>
#include <QTemporaryFile>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "app/assign_app.h"
#include "engine/console_message_boxes.h"
#include "framework/qt/qt_backend.h"
#include "platform/fake/fake_instance_guard.h"
#include "platform/fake/fake_system.h"
#include "platform/linux/ini_file.h"
#include "res/resources.h"
#include "ui/assign_list_dlg.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kProcesses = 40;

double OpenMilliseconds(framework::qt::QtBackend& backend, CAssignApp& app, bool& scrolled) {
  CAssignListDlg dialog(app);
  Clock::time_point start;
  Clock::time_point shown;
  backend.SetModalStartHandler([&](framework::CDialog& running, QWidget& window) {
    if (&running != &dialog) return;
    window.repaint();
    shown = Clock::now();
    scrolled = backend.BlockScroller(dialog.GetSafeHwnd()) != nullptr;
    dialog.EndDialog(IDCANCEL);
  });
  start = Clock::now();
  dialog.DoModal();
  backend.SetModalStartHandler(nullptr);
  return std::chrono::duration<double, std::milli>(shown - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  int repeat = 15;
  std::vector<unsigned> sizes{8, 32, 128, 1024};
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--repeat") == 0) repeat = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--processors") == 0) {
      sizes.clear();
      std::stringstream list(argv[i + 1]);
      for (std::string item; std::getline(list, item, ',');)
        sizes.push_back(static_cast<unsigned>(std::atoi(item.c_str())));
    }
  }
  // A screen of a usual size, not the offscreen platform's default square.
  QTemporaryFile screen;
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && screen.open()) {
    screen.write(
        R"({"screens": [{"name": "bench", "x": 0, "y": 0, "width": 1920, "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    screen.flush();
    qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + screen.fileName()).toLocal8Bit());
  }
  QApplication qt(argc, argv);
  framework::qt::QtBackend backend;
  framework::SetResources(&res::ProgramResources());
  framework::SetBackend(&backend);

  std::printf("%-11s | %-16s | %s\n", "processors", "open ms (median)", "boxes");
  for (unsigned processors : sizes) {
    platform::FakeSystem system;
    system.processorCount = processors;
    for (int i = 0; i < kProcesses; ++i) {
      system.AddProcess(static_cast<platform::ProcessId>(1000 + i), "/usr/bin/program-" + std::to_string(i), 0x1);
    }
    ConsoleMessageBoxes boxes(nullptr);
    platform::FakeInstanceRegistry registry;
    platform::FakeInstanceGuard guard{registry};
    platform::IniFile settings{"/nonexistent/mavrin-bench/mavrin.ini"};
    CAssignApp app(CAssignApp::Services{system, boxes, guard, settings, nullptr, "/dev/null", nullptr, nullptr});
    std::vector<double> runs;
    bool scrolled = false;
    OpenMilliseconds(backend, app, scrolled);  // the first opening loads fonts and styles
    for (int r = 0; r < repeat; ++r) runs.push_back(OpenMilliseconds(backend, app, scrolled));
    std::sort(runs.begin(), runs.end());
    std::printf("%-11u | %16.1f | %s\n", processors, runs[runs.size() / 2], scrolled ? "scroll" : "fit");
  }
  framework::SetBackend(nullptr);
  return 0;
}
