// The Linux shell services on a temporary XDG tree: which desktop entry names an executable's icon,
// where the icon file is found, the cached index, and starting the address opener.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/linux/linux_shell.h"

namespace {

namespace fs = std::filesystem;

class LinuxShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/mavrin-shell-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    fs::create_directories(root + "/bin");
    fs::create_directories(root + "/lib/real");
    fs::create_directories(root + "/home/applications");
    fs::create_directories(root + "/data/applications/vendor");
    fs::create_directories(root + "/data/icons/hicolor/48x48/apps");
    fs::create_directories(root + "/data/icons/hicolor/16x16/apps");
    fs::create_directories(root + "/data/pixmaps");
    fs::create_directories(root + "/data/icons/Adwaita/16x16/mimetypes");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root, ec);
  }

  static void Write(const std::string& path, const std::string& text, bool executable = false) {
    std::ofstream(path, std::ios::binary) << text;
    if (executable) chmod(path.c_str(), 0755);
  }
  void Desktop(const std::string& dir, const std::string& name, const std::string& body) {
    Write(root + "/" + dir + "/" + name, "[Desktop Entry]\nType=Application\nName=" + name + "\n" + body);
  }
  // Dates every directory an hour back, so a change made now is told apart from the tree as built.
  void AgeTree() const {
    const timespec old[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      if (entry.is_directory()) utimensat(AT_FDCWD, entry.path().c_str(), old, 0);
    }
  }
  platform::ShellPaths Paths() const {
    platform::ShellPaths paths;
    paths.applicationDirs = {root + "/home/applications", root + "/data/applications", root + "/missing/applications"};
    paths.iconThemeDirs = {root + "/data/icons/hicolor"};
    paths.pixmapDirs = {root + "/data/pixmaps"};
    paths.searchPath = root + "/nowhere:" + root + "/bin";
    return paths;
  }

  std::string root;
};

TEST(DesktopExecProgramTest, TakesTheFirstWordPastQuotesAndEnvironment) {
  EXPECT_EQ("firefox", platform::DesktopExecProgram("firefox %u"));
  EXPECT_EQ("/opt/My App/run", platform::DesktopExecProgram("\"/opt/My App/run\" --x %F"));
  EXPECT_EQ("tool", platform::DesktopExecProgram("env LANG=C GDK_BACKEND=x11 tool %f"));
  EXPECT_EQ("", platform::DesktopExecProgram("   "));
  EXPECT_EQ("", platform::DesktopExecProgram("env A=1"));
}

TEST_F(LinuxShellTest, FindsTheIconOfTheEntryThatStartsTheExecutable) {
  Write(root + "/bin/editor", "#!/bin/sh\n", true);
  Write(root + "/bin/Viewer", "#!/bin/sh\n", true);
  Write(root + "/bin/player", "#!/bin/sh\n", true);
  Write(root + "/lib/real/engine", "#!/bin/sh\n", true);
  fs::create_symlink(root + "/lib/real/engine", root + "/bin/engine");
  Write(root + "/bin/plain", "#!/bin/sh\n", true);
  Write(root + "/data/icons/hicolor/16x16/apps/editor-icon.png", "png");
  Write(root + "/data/icons/hicolor/48x48/apps/editor-icon.png", "png");
  Write(root + "/data/pixmaps/viewer.xpm", "xpm");
  Write(root + "/data/icons/hicolor/48x48/apps/engine.png", "png");
  Write(root + "/art.png", "png");
  Write(root + "/data/icons/hicolor/16x16/apps/old.png", "png");

  Desktop("data/applications", "editor.desktop", "Exec=editor %F\nIcon=editor-icon\n");
  Desktop("data/applications", "viewer.desktop", "Exec=sh -c viewer\nTryExec=Viewer\nIcon=viewer.xpm\n");
  Desktop("data/applications/vendor", "engine.desktop", "Exec=engine\nIcon=engine\n");
  Desktop("data/applications", "player.desktop", "Exec=" + root + "/bin/player\nIcon=" + root + "/art.png\n");
  // An entry in an earlier directory with the same id hides the later one.
  Desktop("home/applications", "hidden.desktop", "Hidden=true\n");
  Desktop("data/applications", "hidden.desktop", "Exec=plain\nIcon=old\n");
  Write(root + "/data/applications/notes.txt", "Exec=plain\nIcon=old\n");

  platform::LinuxShell shell(Paths());
  // The smallest of the theme's sizes that has the icon.
  EXPECT_EQ(root + "/data/icons/hicolor/16x16/apps/editor-icon.png", shell.IconFileFor(root + "/bin/editor"));
  // By TryExec; with the case folded as the program lower-cases paths.
  EXPECT_EQ(root + "/data/pixmaps/viewer.xpm", shell.IconFileFor(root + "/bin/viewer"));
  // A running process names the file behind the link.
  EXPECT_EQ(root + "/data/icons/hicolor/48x48/apps/engine.png", shell.IconFileFor(root + "/lib/real/engine"));
  EXPECT_EQ(root + "/art.png", shell.IconFileFor(root + "/bin/player"));
  EXPECT_EQ("", shell.IconFileFor(root + "/bin/plain"));

  const framework::Icon icon = shell.FileIcon(root + "/bin/editor");
  EXPECT_EQ(root + "/data/icons/hicolor/16x16/apps/editor-icon.png", icon.FilePath());
  EXPECT_EQ(16, icon.Width());
  EXPECT_EQ(nullptr, icon.Image());
  EXPECT_TRUE(shell.FileIcon(root + "/bin/editor").SameAs(icon));
}

// Icons as many programs install them: only large or scalable theme pictures, or loose pictures that
// carry their size in the name (mini.xterm_32x32.xpm).
TEST_F(LinuxShellTest, LargeScalableAndSizeNamedPicturesAreFoundPixelsFirst) {
  for (const char* name : {"term", "draw", "big", "both"}) Write(root + "/bin/" + name, "#!/bin/sh\n", true);
  fs::create_directories(root + "/data/icons/hicolor/scalable/apps");
  fs::create_directories(root + "/data/icons/hicolor/256x256/apps");
  Write(root + "/data/pixmaps/mini.term_48x48.xpm", "xpm");
  Write(root + "/data/pixmaps/mini.term_32x32.xpm", "xpm");
  Write(root + "/data/icons/hicolor/scalable/apps/draw.svg", "svg");
  Write(root + "/data/icons/hicolor/256x256/apps/big.png", "png");
  Write(root + "/data/icons/hicolor/scalable/apps/both.svg", "svg");
  Write(root + "/data/icons/hicolor/256x256/apps/both.png", "png");
  Desktop("data/applications", "term.desktop", "Exec=term\nIcon=mini.term\n");
  Desktop("data/applications", "draw.desktop", "Exec=draw\nIcon=draw\n");
  Desktop("data/applications", "big.desktop", "Exec=big\nIcon=big\n");
  Desktop("data/applications", "both.desktop", "Exec=both\nIcon=both\n");
  platform::LinuxShell shell(Paths());
  EXPECT_EQ(root + "/data/pixmaps/mini.term_32x32.xpm", shell.IconFileFor(root + "/bin/term"));
  EXPECT_EQ(root + "/data/icons/hicolor/scalable/apps/draw.svg", shell.IconFileFor(root + "/bin/draw"));
  EXPECT_EQ(root + "/data/icons/hicolor/256x256/apps/big.png", shell.IconFileFor(root + "/bin/big"));
  EXPECT_EQ(root + "/data/icons/hicolor/256x256/apps/both.png", shell.IconFileFor(root + "/bin/both"));
}

TEST_F(LinuxShellTest, ExecutablesWithoutAnEntryGetAGenericIcon) {
  Write(root + "/bin/plain", "#!/bin/sh\n", true);
  {
    platform::LinuxShell shell(Paths());
    const framework::Icon drawn = shell.FileIcon(root + "/bin/plain");
    ASSERT_FALSE(drawn.IsNull());
    ASSERT_NE(nullptr, drawn.Image());
    EXPECT_EQ(16, drawn.Width());
    EXPECT_TRUE(shell.FileIcon("/no/such/file").SameAs(drawn));
  }
  Write(root + "/data/icons/Adwaita/16x16/mimetypes/application-x-executable.png", "png");
  platform::LinuxShell shell(Paths());
  EXPECT_EQ(root + "/data/icons/Adwaita/16x16/mimetypes/application-x-executable.png",
            shell.FileIcon(root + "/bin/plain").FilePath());
}

TEST_F(LinuxShellTest, TheIndexIsBuiltOnceAndAgainWhenTheDirectoriesChange) {
  Write(root + "/bin/editor", "#!/bin/sh\n", true);
  Write(root + "/data/icons/hicolor/16x16/apps/editor.png", "png");
  AgeTree();
  platform::LinuxShell shell(Paths());
  for (int i = 0; i < 100; ++i) shell.FileIcon(root + "/bin/editor");
  EXPECT_EQ(1, shell.IndexBuilds());
  EXPECT_EQ("", shell.IconFileFor(root + "/bin/editor"));

  Desktop("data/applications/vendor", "editor.desktop", "Exec=editor\nIcon=editor\n");
  EXPECT_EQ(root + "/data/icons/hicolor/16x16/apps/editor.png", shell.IconFileFor(root + "/bin/editor"));
  EXPECT_EQ(2, shell.IndexBuilds());
  // A directory that appears is looked at too.
  fs::create_directories(root + "/missing/applications");
  shell.FileIcon(root + "/bin/editor");
  EXPECT_EQ(3, shell.IndexBuilds());
}

TEST_F(LinuxShellTest, TheEnvironmentNamesTheDirectories) {
  struct Saved {
    const char* name;
    std::string value;
    bool set;
  };
  Saved saved[] = {{"XDG_DATA_HOME", "", false}, {"XDG_DATA_DIRS", "", false}};
  for (Saved& s : saved) {
    if (const char* v = getenv(s.name)) {
      s.value = v;
      s.set = true;
    }
  }
  setenv("XDG_DATA_HOME", (root + "/home").c_str(), 1);
  setenv("XDG_DATA_DIRS", (root + "/data:relative/dir:" + root + "/other").c_str(), 1);
  const platform::ShellPaths paths = platform::ShellPaths::FromEnvironment();
  unsetenv("XDG_DATA_DIRS");
  const platform::ShellPaths defaults = platform::ShellPaths::FromEnvironment();
  for (const Saved& s : saved) {
    if (s.set) {
      setenv(s.name, s.value.c_str(), 1);
    } else {
      unsetenv(s.name);
    }
  }

  EXPECT_EQ((std::vector<std::string>{root + "/home/applications", root + "/data/applications",
                                      root + "/other/applications"}),
            paths.applicationDirs);
  EXPECT_EQ(root + "/data/icons/hicolor", paths.iconThemeDirs[1]);
  EXPECT_EQ(root + "/data/pixmaps", paths.pixmapDirs[1]);
  EXPECT_EQ((std::vector<std::string>{root + "/home/applications", "/usr/local/share/applications",
                                      "/usr/share/applications"}),
            defaults.applicationDirs);
}

TEST_F(LinuxShellTest, TheOpenerRunsDetachedWithTheAddressAndNothingOfOurs) {
  const std::string out = root + "/opened";
  // A descriptor of ours without close-on-exec, at a number the shell will not use itself.
  const int mine = open((root + "/mine").c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(mine, 0);
  ASSERT_EQ(200, dup2(mine, 200));
  close(mine);
  Write(root + "/bin/opener",
        "#!/bin/sh\n"
        "{ printf '%s\\n' \"$@\"; [ -e /proc/$$/fd/200 ] && echo leaked; } > " +
            out +
            ".tmp\n"
            "mv " +
            out + ".tmp " + out + "\n",
        true);
  platform::ShellPaths paths = Paths();
  platform::LinuxShell shell(paths, "opener");
  EXPECT_TRUE(shell.OpenAddress("https://example.org/a b?c=1&d"));
  for (int i = 0; i < 500 && !fs::exists(out); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  close(200);
  std::ifstream in(out);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ("https://example.org/a b?c=1&d\n", text.str());
  // The middle process is reaped and the opener is not our child.
  errno = 0;
  EXPECT_EQ(-1, waitpid(-1, nullptr, WNOHANG));
  EXPECT_EQ(ECHILD, errno);

  EXPECT_FALSE(shell.OpenAddress(""));
  EXPECT_FALSE(shell.OpenAddress("--help"));
  EXPECT_FALSE(platform::LinuxShell(paths, "no-such-opener").OpenAddress("https://example.org/"));
  Write(root + "/bin/not-runnable", "#!/bin/sh\n");
  EXPECT_FALSE(platform::LinuxShell(paths, root + "/bin/not-runnable").OpenAddress("https://example.org/"));
  // A program the system cannot start although it looks runnable.
  Write(root + "/bin/broken", "#!/no/such/interpreter\n", true);
  EXPECT_FALSE(platform::LinuxShell(paths, "broken").OpenAddress("https://example.org/"));
}

}  // namespace
