#include "framework/qt/qt_application.h"

#include <sys/stat.h>
#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QStringList>
#include <QTranslator>
#include <cstdlib>
#include <string>
#include <string_view>

#include "framework/resource_provider.h"

// Last: Xlib defines macros (Status, Bool, None) that clash with Qt's names.
#include <X11/Xlib.h>

namespace framework::qt {
namespace {

// A connection of our own to the X server, or nullptr.
Display* OpenX11() {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return nullptr;
  return XOpenDisplay(nullptr);
}

bool X11Reachable() {
  Display* connection = OpenX11();
  if (connection == nullptr) return false;
  XCloseDisplay(connection);
  return true;
}

bool WaylandReachable() {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  if (name == nullptr || *name == '\0') return false;
  std::string socket = name;
  if (socket.front() != '/') {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0') return false;
    socket = std::string(runtime) + "/" + socket;
  }
  struct stat info {};
  if (::stat(socket.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) return false;
  // Without Qt's Wayland plugin the display cannot be used, however reachable.
  const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"));
  return !platforms.entryList(QStringList{QStringLiteral("libqwayland*.so")}, QDir::Files).isEmpty();
}

// What ApplyLanguage installed, to be replaced when the language changes.
std::unique_ptr<QTranslator>& InstalledTranslator() {
  static std::unique_ptr<QTranslator> translator;
  return translator;
}

}  // namespace

void ApplyLanguage() {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return;
  const bool japanese = std::string_view(framework::Resources().LanguageCode()) == "ja";
  std::unique_ptr<QTranslator>& installed = InstalledTranslator();
  if (installed) {
    QCoreApplication::removeTranslator(installed.get());
    installed.reset();
  }
  // Qt's texts are English to begin with; Japanese comes from its catalogue (qt_ja includes those of
  // every Qt module). Without the catalogue installed, Qt's few texts stay English.
  if (japanese) {
    auto translator = std::make_unique<QTranslator>();
    if (translator->load(QStringLiteral("qt_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
        QCoreApplication::installTranslator(translator.get())) {
      installed = std::move(translator);
    }
  }
  // Numbers and dates as the language writes them, keeping the user's own locale where it is of
  // that language (en_GB stays en_GB).
  const QLocale::Language wanted = japanese ? QLocale::Japanese : QLocale::English;
  QLocale::setDefault(QLocale::system().language() == wanted ? QLocale::system() : QLocale(wanted));
}

bool DisplayAvailable() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr) {
    const std::string name = platform;
    if (name.rfind("offscreen", 0) == 0 || name.rfind("minimal", 0) == 0) return true;
    if (name.rfind("xcb", 0) == 0) return X11Reachable();
    if (name.rfind("wayland", 0) == 0) return WaylandReachable();
  }
  return X11Reachable() || WaylandReachable();
}

std::unique_ptr<QApplication> TryCreateQtApplication(int& argc, char** argv) {
  if (QCoreApplication::instance() != nullptr) return nullptr;
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const std::string name = platform != nullptr ? platform : "";
  // The display is probed once, and the probe's connection is held until Qt has made its own: a
  // bare X server resets when its last client leaves, and a second probe (or Qt) would then find
  // it gone for a moment and pick another platform, which ends the process.
  Display* probe = name.empty() || name.rfind("xcb", 0) == 0 ? OpenX11() : nullptr;
  bool usable = false;
  if (name.rfind("offscreen", 0) == 0 || name.rfind("minimal", 0) == 0) {
    usable = true;
  } else if (name.rfind("xcb", 0) == 0) {
    usable = probe != nullptr;
  } else if (name.rfind("wayland", 0) == 0) {
    usable = WaylandReachable();
  } else {
    usable = probe != nullptr || WaylandReachable();
  }
  if (!usable) {
    if (probe != nullptr) XCloseDisplay(probe);
    return nullptr;
  }
  // Prefer X11 when it is there: the tray icon and the window list of the program are X11's.
  if (name.empty()) qputenv("QT_QPA_PLATFORM", probe != nullptr ? "xcb" : "wayland");
  auto app = std::make_unique<QApplication>(argc, argv);
  if (probe != nullptr) XCloseDisplay(probe);
  return app;
}

}  // namespace framework::qt
