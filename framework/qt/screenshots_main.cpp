// mavrin_screenshots <folder>: one PNG per dialog template in each language (<folder>/ja and
// <folder>/en), rendered through the Qt backend as the dialog looks right after it opened, and the
// registered extra pictures. Runs without a display (offscreen) unless told otherwise.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>
#include <cstdio>
#include <utility>

#include "framework/qt/qt_application.h"
#include "framework/qt/qt_backend.h"
#include "framework/qt/screenshot_dialogs.h"
#include "res/resources.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argc > 0 ? argv[0] : "mavrin_screenshots");
    return 2;
  }
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QString folder = QString::fromLocal8Bit(argv[1]);
  if (!QDir().mkpath(folder)) {
    std::fprintf(stderr, "cannot create %s\n", argv[1]);
    return 1;
  }

  framework::SetResources(&res::ProgramResources());
  framework::qt::QtBackend backend;
  framework::SetBackend(&backend);
  int failures = 0;
  for (const auto& [language, name] :
       {std::pair{res::Language::kJapanese, "ja"}, std::pair{res::Language::kEnglish, "en"}}) {
    res::SetLanguage(language);
    framework::qt::ApplyLanguage();
    const QString shots = QDir(folder).filePath(QString::fromLatin1(name));
    if (!QDir().mkpath(shots)) {
      std::fprintf(stderr, "cannot create %s\n", qPrintable(shots));
      return 1;
    }
    for (const framework::DialogTemplate* tpl : res::DialogTemplates()) {
      std::unique_ptr<framework::CDialog> dialog = framework::qt::MakeScreenshotDialog(tpl->id);
      const QString path = QDir(shots).filePath(QStringLiteral("dialog_%1.png").arg(tpl->id));
      bool saved = false;
      backend.SetModalStartHandler([&](framework::CDialog& running, QWidget& window) {
        if (&running != dialog.get()) return;
        QCoreApplication::processEvents();
        saved = window.grab().save(path, "PNG");
        running.EndDialog(IDCANCEL);
      });
      dialog->DoModal();
      backend.SetModalStartHandler(nullptr);
      if (saved) {
        std::printf("%s\n", qPrintable(path));
      } else {
        std::fprintf(stderr, "dialog %d: no screenshot\n", tpl->id);
        ++failures;
      }
    }
    for (framework::qt::ScreenshotExtra extra : framework::qt::ScreenshotExtras()) {
      failures += extra(backend, shots.toStdString());
    }
  }
  framework::SetBackend(nullptr);
  return failures == 0 ? 0 : 1;
}
