// Choosing the Qt backend only where a display can be reached, and the desktop's shell services.
#include <stdlib.h>

#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QTemporaryDir>
#include <optional>
#include <string>

#include "framework/qt/qt_application.h"
#include "qt_test_support.h"

namespace mavrin_test {
namespace {

// Sets (or with nullopt removes) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = ::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(QtStartup, DisplayIsUsedOnlyWhenItCanBeReached) {
  QTemporaryDir runtime;
  ASSERT_TRUE(runtime.isValid());
  {
    ScopedEnv platform("QT_QPA_PLATFORM", std::nullopt);
    ScopedEnv display("DISPLAY", std::nullopt);
    ScopedEnv wayland("WAYLAND_DISPLAY", std::nullopt);
    EXPECT_FALSE(framework::qt::DisplayAvailable());
  }
  {
    // A named display with nothing behind it, and a Wayland name without its socket.
    ScopedEnv platform("QT_QPA_PLATFORM", std::nullopt);
    ScopedEnv display("DISPLAY", ":9917");
    ScopedEnv wayland("WAYLAND_DISPLAY", "wayland-9917");
    ScopedEnv dir("XDG_RUNTIME_DIR", runtime.path().toStdString());
    EXPECT_FALSE(framework::qt::DisplayAvailable());
  }
  {
    ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");
    ScopedEnv display("DISPLAY", std::nullopt);
    EXPECT_TRUE(framework::qt::DisplayAvailable());
  }
  // An application exists already (the test's own): no second one.
  int argc = 1;
  char name[] = "test";
  char* argv[] = {name, nullptr};
  EXPECT_EQ(framework::qt::TryCreateQtApplication(argc, argv), nullptr);
  EXPECT_EQ(framework::qt::CreateQtBackend(argc, argv), nullptr);
}

TEST(QtIcons, FileIconsAreLoadedAtTheirSize) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("app.png"));
  QImage image(48, 48, QImage::Format_ARGB32);
  image.fill(Qt::red);
  ASSERT_TRUE(image.save(path));
  const QIcon icon = framework::qt::ToQIcon(framework::Icon::FromFile(path.toStdString(), 16));
  ASSERT_FALSE(icon.isNull());
  EXPECT_EQ(icon.availableSizes(), (QList<QSize>{QSize(16, 16)}));
  EXPECT_EQ(icon.pixmap(QSize(16, 16)).toImage().pixelColor(8, 8), QColor(Qt::red));
  EXPECT_TRUE(
      framework::qt::ToQIcon(framework::Icon::FromFile(dir.filePath(QStringLiteral("none.png")).toStdString(), 16))
          .isNull());
}

TEST(QtShell, FileIconsExistOnlyForExistingFiles) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("tool.exe"));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  framework::qt::QtShell shell;
  const framework::Icon icon = shell.FileIcon(path.toStdString());
  ASSERT_FALSE(icon.IsNull());
  EXPECT_EQ(icon.Width(), 16);
  EXPECT_EQ(icon.Height(), 16);
  EXPECT_TRUE(shell.FileIcon(dir.filePath(QStringLiteral("gone.exe")).toStdString()).IsNull());
}

}  // namespace
}  // namespace mavrin_test
