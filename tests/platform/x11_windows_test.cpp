// The X11 window list against a private Xvfb server; skipped when Xvfb is not installed.
#include "platform/linux/x11_windows.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "engine/console_message_boxes.h"
#include "engine/system_snapshot.h"
#include "platform/linux/linux_system.h"
#include "tests/support/private_x_server.h"

// Last: Xlib's macros (None, Bool, Status) would clash with names in the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using platform::WindowHandle;
using platform::X11Windows;
using testing::ElementsAre;

using platformtest::kXvfb;
using platformtest::PrivateXServer;

class X11WindowsTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kXvfb)) GTEST_SKIP() << "Xvfb is not installed";
    server = std::make_unique<PrivateXServer>();
    ASSERT_TRUE(server->Running());
    display = XOpenDisplay(server->Name().c_str());
    ASSERT_NE(display, nullptr);
    root = DefaultRootWindow(display);
  }
  void TearDown() override {
    if (display != nullptr) XCloseDisplay(display);
  }

  Atom Intern(const char* name) { return XInternAtom(display, name, False); }

  Window Create(bool map, bool overrideRedirect = false) {
    XSetWindowAttributes attributes{};
    attributes.override_redirect = overrideRedirect ? True : False;
    Window w = XCreateWindow(display, root, 0, 0, 50, 50, 0, CopyFromParent, InputOutput, CopyFromParent,
                             CWOverrideRedirect, &attributes);
    if (map) XMapWindow(display, w);
    return w;
  }
  void SetUtf8Title(Window w, const std::string& title) {
    XChangeProperty(display, w, Intern("_NET_WM_NAME"), Intern("UTF8_STRING"), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
  }
  void SetLegacyTitle(Window w, const std::string& latin1) {
    XChangeProperty(display, w, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(latin1.data()), static_cast<int>(latin1.size()));
  }
  void SetClass(Window w, const std::string& instance, const std::string& cls) {
    std::string both = instance + '\0' + cls + '\0';
    XChangeProperty(display, w, XA_WM_CLASS, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(both.data()), static_cast<int>(both.size()));
  }
  void SetCardinal(Window w, Atom property, Atom type, long value) {
    XChangeProperty(display, w, property, type, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&value), 1);
  }
  void SetType(Window w, const char* type) {
    SetCardinal(w, Intern("_NET_WM_WINDOW_TYPE"), XA_ATOM, static_cast<long>(Intern(type)));
  }
  void Sync() { XSync(display, False); }

  std::unique_ptr<PrivateXServer> server;
  Display* display = nullptr;
  Window root = None;
};

TEST_F(X11WindowsTest, WithoutAWindowManagerListsTheRootsTitledChildrenTopFirst) {
  Window main = Create(true);
  SetUtf8Title(main, "Main \xE3\x82\xBF\xE3\x82\xA4\xE3\x83\x88\xE3\x83\xAB");
  SetClass(main, "main", "MainClass");
  SetCardinal(main, Intern("_NET_WM_PID"), XA_CARDINAL, 4242);
  Window hidden = Create(false);
  SetLegacyTitle(hidden, "Hidden");
  Window dialog = Create(true);
  SetUtf8Title(dialog, "Dialog");
  XSetTransientForHint(display, dialog, main);
  Window untitled = Create(true);
  Window dock = Create(true);
  SetUtf8Title(dock, "Panel");
  SetClass(dock, "panel", "PanelClass");
  SetType(dock, "_NET_WM_WINDOW_TYPE_DOCK");
  Window minimised = Create(false);
  SetUtf8Title(minimised, "Minimised");
  long iconic[2] = {3, 0};
  XChangeProperty(display, minimised, Intern("WM_STATE"), Intern("WM_STATE"), 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(iconic), 2);
  Window popup = Create(true, true);
  SetUtf8Title(popup, "Tooltip");
  Window latin = Create(true);
  SetLegacyTitle(latin, "caf\xE9");
  Sync();

  X11Windows windows(server->Name().c_str());
  std::vector<WindowHandle> listed;
  windows.EnumTopLevelWindows(listed);
  EXPECT_THAT(listed, ElementsAre(latin, minimised, dock, dialog, hidden, main));
  static_cast<void>(untitled);

  EXPECT_EQ(windows.WindowTitle(main, 128), "Main \xE3\x82\xBF\xE3\x82\xA4\xE3\x83\x88\xE3\x83\xAB");
  EXPECT_EQ(windows.WindowTitle(latin, 128), "caf\xC3\xA9");
  EXPECT_EQ(windows.WindowTitle(untitled, 128), "");
  EXPECT_EQ(windows.WindowClass(main), "MainClass");
  EXPECT_EQ(windows.WindowClass(dock), "Progman");
  EXPECT_EQ(windows.WindowClass(latin), "");
  EXPECT_TRUE(windows.IsWindowVisible(main));
  EXPECT_FALSE(windows.IsWindowVisible(hidden));
  EXPECT_TRUE(windows.IsWindowVisible(minimised));
  EXPECT_EQ(windows.WindowOwner(dialog), main);
  EXPECT_EQ(windows.WindowOwner(main), platform::kNoWindow);
  EXPECT_EQ(windows.WindowProcessId(main), 4242u);
  // Without the hint, the server names the client that made the window: this test.
  EXPECT_EQ(windows.WindowProcessId(latin), static_cast<platform::ProcessId>(getpid()));

  // What the snapshot keeps of it.
  platform::LinuxSystem system(server->Name().c_str());
  ConsoleMessageBoxes boxes;
  SystemSnapshot snapshot(system, boxes);
  snapshot.Refresh();
  std::vector<WindowHandle> kept;
  for (const WindowInfo& info : snapshot.windows) kept.push_back(info.hwnd);
  EXPECT_THAT(kept, ElementsAre(latin, minimised, main));
}

TEST_F(X11WindowsTest, FollowsTheWindowManagersStackingList) {
  Window a = Create(true);
  Window b = Create(true);
  Window c = Create(false);
  long stacking[3] = {static_cast<long>(b), static_cast<long>(a), static_cast<long>(c)};  // bottom to top
  XChangeProperty(display, root, Intern("_NET_CLIENT_LIST_STACKING"), XA_WINDOW, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(stacking), 3);
  long normal[2] = {1, 0};
  XChangeProperty(display, c, Intern("WM_STATE"), Intern("WM_STATE"), 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(normal), 2);
  Sync();
  X11Windows windows(server->Name().c_str());
  std::vector<WindowHandle> listed;
  windows.EnumTopLevelWindows(listed);
  EXPECT_THAT(listed, ElementsAre(c, a, b));
  // Unmapped but managed (another desktop) counts as visible, as on Windows.
  EXPECT_TRUE(windows.IsWindowVisible(c));
}

TEST_F(X11WindowsTest, CutsLongTitlesAtACharacterBoundary) {
  Window w = Create(true);
  std::string title;
  for (int i = 0; i < 150; ++i) title += "\xC3\xA9";  // 300 bytes
  SetUtf8Title(w, title);
  Window ascii = Create(true);
  SetUtf8Title(ascii, std::string(300, 'x'));
  Sync();
  X11Windows windows(server->Name().c_str());
  EXPECT_EQ(windows.WindowTitle(w, 128), title.substr(0, 126));
  EXPECT_EQ(windows.WindowTitle(ascii, 128), std::string(127, 'x'));
  EXPECT_EQ(windows.WindowTitle(ascii, 0), "");
}

TEST_F(X11WindowsTest, AVanishedWindowOrServerIsNoWindowAndNoCrash) {
  Window w = Create(true);
  SetUtf8Title(w, "Soon gone");
  SetCardinal(w, Intern("_NET_WM_PID"), XA_CARDINAL, 7);
  Sync();
  X11Windows windows(server->Name().c_str());
  std::vector<WindowHandle> listed;
  windows.EnumTopLevelWindows(listed);
  ASSERT_THAT(listed, ElementsAre(w));
  XDestroyWindow(display, w);
  Sync();
  EXPECT_EQ(windows.WindowTitle(w, 128), "");
  EXPECT_EQ(windows.WindowClass(w), "");
  EXPECT_FALSE(windows.IsWindowVisible(w));
  EXPECT_EQ(windows.WindowOwner(w), platform::kNoWindow);
  EXPECT_EQ(windows.WindowProcessId(w), 0u);

  // The server goes away: the list is empty from then on and the program lives on.
  XCloseDisplay(display);
  display = nullptr;
  server->Stop();
  windows.EnumTopLevelWindows(listed);
  EXPECT_TRUE(listed.empty());
  EXPECT_EQ(windows.WindowTitle(w, 128), "");
  EXPECT_FALSE(windows.IsWindowVisible(w));
  windows.EnumTopLevelWindows(listed);
  EXPECT_TRUE(listed.empty());
}

// Windows the usual hints leave out: a process id from the server when the window names none (a real
// xeyes), a title from WM_NAME when _NET_WM_NAME is no UTF-8 text, the window's own icon.
TEST_F(X11WindowsTest, ProcessTitleAndIconWhereTheUsualHintsFail) {
  if (!std::filesystem::exists("/usr/bin/xeyes")) GTEST_SKIP() << "xeyes is not installed";
  platformtest::ChildProcess xeyes("/usr/bin/xeyes", {},
                                   platformtest::ChildSetup{"", {{"DISPLAY", server->Name()}}, ""});
  Window odd = Create(true);
  XChangeProperty(display, odd, Intern("_NET_WM_NAME"), XA_STRING, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>("latin"), 5);
  char* japanese[] = {const_cast<char*>("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E")};  // 日本語
  XTextProperty compound{};
  ASSERT_EQ(Xutf8TextListToTextProperty(display, japanese, 1, XCompoundTextStyle, &compound), Success);
  XSetWMName(display, odd, &compound);
  XFree(compound.value);
  // Two pictures: 8 pixels (too small) and 32 pixels, left half opaque red, right half transparent.
  std::vector<long> icon{8, 8};
  icon.insert(icon.end(), 64, 0xFF0000FFL);
  icon.push_back(32);
  icon.push_back(32);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) icon.push_back(x < 16 ? 0xFFFF0000L : 0x00000000L);
  }
  XChangeProperty(display, odd, Intern("_NET_WM_ICON"), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(icon.data()), static_cast<int>(icon.size()));
  Sync();

  X11Windows windows(server->Name().c_str());
  EXPECT_EQ(windows.WindowTitle(odd, 128), "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E");
  const std::vector<std::uint8_t> pixels = windows.WindowIcon(odd, 16);
  ASSERT_EQ(pixels.size(), 16u * 16u * 4u);
  EXPECT_THAT(std::vector<std::uint8_t>(pixels.begin(), pixels.begin() + 4), ElementsAre(255, 0, 0, 255));
  EXPECT_EQ(pixels[(16 * 8 + 15) * 4 + 3], 0);  // the transparent half stays transparent
  EXPECT_TRUE(windows.WindowIcon(Create(true), 16).empty());

  ASSERT_TRUE(xeyes.Started());
  WindowHandle eyes = platform::kNoWindow;
  for (int i = 0; i < 200 && eyes == platform::kNoWindow; ++i) {
    std::vector<WindowHandle> listed;
    windows.EnumTopLevelWindows(listed);
    for (WindowHandle w : listed) {
      if (windows.WindowTitle(w, 64) == "xeyes") eyes = w;
    }
    if (eyes == platform::kNoWindow) usleep(20000);
  }
  ASSERT_NE(eyes, platform::kNoWindow);
  EXPECT_EQ(windows.WindowProcessId(eyes), static_cast<platform::ProcessId>(xeyes.pid()));
  // ... so the settings dialog finds its process.
  platform::LinuxSystem system(server->Name().c_str());
  ConsoleMessageBoxes boxes;
  SystemSnapshot snapshot(system, boxes);
  snapshot.Refresh();
  const int row = snapshot.FindProcessByWindow(eyes);
  ASSERT_GE(row, 0);
  EXPECT_EQ(snapshot.processes[static_cast<std::size_t>(row)].entry.th32ProcessID,
            static_cast<platform::ProcessId>(xeyes.pid()));
}

TEST(X11WindowsWithoutDisplay, ListsNothing) {
  X11Windows unreachable(":65000");
  std::vector<WindowHandle> listed{1, 2};
  unreachable.EnumTopLevelWindows(listed);
  EXPECT_TRUE(listed.empty());
  EXPECT_FALSE(unreachable.Connected());
  EXPECT_EQ(unreachable.WindowTitle(1, 128), "");
  EXPECT_FALSE(unreachable.IsWindowVisible(1));

  const char* saved = std::getenv("DISPLAY");
  std::string savedValue = saved != nullptr ? saved : "";
  unsetenv("DISPLAY");
  X11Windows none;
  none.EnumTopLevelWindows(listed);
  EXPECT_TRUE(listed.empty());
  if (saved != nullptr) setenv("DISPLAY", savedValue.c_str(), 1);
}

}  // namespace
