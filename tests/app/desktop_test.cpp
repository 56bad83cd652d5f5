// The real program on a real X desktop: a private Xvfb with openbox, trayer as the notification
// area (or a StatusNotifierItem host on a private session bus), driven with synthetic input and
// watched through X as a user would see it. Skipped where those programs are missing.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/private_x_server.h"

// Last: Xlib's macros (None, Bool, Status) would clash with names in the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace {

namespace fs = std::filesystem;
using platformtest::ChildProcess;
using platformtest::ChildSetup;

// Generous: these runs share the machine with the whole suite, and only a failure waits it out.
bool WaitFor(const std::function<bool()>& done, int milliseconds = 20000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    if (QCoreApplication::instance() != nullptr) QCoreApplication::processEvents();
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string ReadFile(const fs::path& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

struct Box {
  int x = 0, y = 0, w = 0, h = 0;
  int CenterX() const { return x + w / 2; }
  int CenterY() const { return y + h / 2; }
};

// What a user sees of the desktop, and the user's mouse and keys.
class Screen {
 public:
  explicit Screen(const std::string& name) : d_(XOpenDisplay(name.c_str())) {
    // Windows come and go under our feet; a failed request is an empty answer, not the end.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  }
  ~Screen() {
    if (d_ != nullptr) XCloseDisplay(d_);
  }
  bool Open() const { return d_ != nullptr; }
  Atom Intern(const char* name) { return XInternAtom(d_, name, False); }

  std::vector<Window> Windows() {
    std::vector<Window> all;
    std::function<void(Window)> walk = [&](Window w) {
      Window root = 0, parent = 0, *children = nullptr;
      unsigned n = 0;
      if (XQueryTree(d_, w, &root, &parent, &children, &n) == 0) return;
      for (unsigned i = 0; i < n; ++i) {
        all.push_back(children[i]);
        walk(children[i]);
      }
      if (children != nullptr) XFree(children);
    };
    walk(DefaultRootWindow(d_));
    return all;
  }
  std::vector<long> Longs(Window w, const char* property, Atom type) {
    Atom actual = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<long> values;
    if (XGetWindowProperty(d_, w, Intern(property), 0, 16, False, type, &actual, &format, &count, &after, &data) ==
            Success &&
        data != nullptr && format == 32) {
      values.assign(reinterpret_cast<long*>(data), reinterpret_cast<long*>(data) + count);
    }
    if (data != nullptr) XFree(data);
    return values;
  }
  long Cardinal(Window w, const char* property, Atom type = XA_CARDINAL) {
    const std::vector<long> values = Longs(w, property, type);
    return values.empty() ? -1 : values[0];
  }
  std::string Title(Window w) {
    XTextProperty text{};
    std::string title;
    if (XGetTextProperty(d_, w, &text, Intern("_NET_WM_NAME")) != 0 && text.value != nullptr) {
      title.assign(reinterpret_cast<char*>(text.value), text.nitems);
      XFree(text.value);
    }
    return title;
  }
  bool Viewable(Window w) {
    XWindowAttributes a{};
    return XGetWindowAttributes(d_, w, &a) != 0 && a.map_state == IsViewable;
  }
  Box Geometry(Window w) {
    XWindowAttributes a{};
    Window child = 0;
    Box b;
    if (XGetWindowAttributes(d_, w, &a) == 0) return b;
    XTranslateCoordinates(d_, w, DefaultRootWindow(d_), 0, 0, &b.x, &b.y, &child);
    b.w = a.width;
    b.h = a.height;
    return b;
  }
  // 1 normal, 3 minimised, -1 none.
  long WmState(Window w) { return Cardinal(w, "WM_STATE", Intern("WM_STATE")); }
  bool HasSelectionOwner(const char* selection) { return XGetSelectionOwner(d_, Intern(selection)) != None; }

  // The viewable windows of process pid: titled title, or (empty title) the popup menus, which
  // the window manager does not manage (a tool tip is not as tall as a menu). The docked icon may
  // carry the program's name too: it is never more than 32 pixels tall.
  std::vector<Window> Of(long pid, const std::string& title) {
    std::vector<Window> found;
    for (Window w : Windows()) {
      XWindowAttributes a{};
      if (XGetWindowAttributes(d_, w, &a) == 0 || a.map_state != IsViewable || Cardinal(w, "_NET_WM_PID") != pid)
        continue;
      const bool wanted = title.empty() ? a.override_redirect && a.height > 40 : a.height > 32 && Title(w) == title;
      if (wanted) found.push_back(w);
    }
    return found;
  }
  // Every window of process pid as the server sees it, for a failure to tell why none was found.
  std::string Describe(long pid) {
    std::ostringstream out;
    for (Window w : Windows()) {
      XWindowAttributes a{};
      if (XGetWindowAttributes(d_, w, &a) == 0 || Cardinal(w, "_NET_WM_PID") != pid) continue;
      out << "window 0x" << std::hex << w << std::dec << " '" << Title(w) << "' " << a.width << "x" << a.height
          << " map_state " << a.map_state << " WM_STATE " << WmState(w) << "\n";
    }
    return out.str();
  }
  // The program's icon docked in the notification area: a small viewable window of its own.
  Window TrayIcon(long pid) {
    for (Window w : Windows()) {
      const Box b = Geometry(w);
      if (Viewable(w) && Cardinal(w, "_NET_WM_PID") == pid && b.w <= 32 && b.h <= 32 && b.w > 8) return w;
    }
    return None;
  }

  // A double click as a hand makes it: the server holds the second press back 150 ms (its own
  // clock, whatever the load), well inside the double-click interval.
  void Click(int x, int y, unsigned button = 1, int times = 1) {
    XTestFakeMotionEvent(d_, -1, x, y, 0);
    for (int i = 0; i < times; ++i) {
      XTestFakeButtonEvent(d_, button, True, i == 0 ? 0 : 150);
      XTestFakeButtonEvent(d_, button, False, 30);
    }
    XSync(d_, False);
  }
  void Key(KeySym key) {
    XTestFakeKeyEvent(d_, XKeysymToKeycode(d_, key), True, 0);
    XTestFakeKeyEvent(d_, XKeysymToKeycode(d_, key), False, 0);
    XSync(d_, False);
  }
  // As the task switcher does it: the window manager raises w and gives it the keyboard.
  void Activate(Window w) {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = Intern("_NET_ACTIVE_WINDOW");
    e.xclient.format = 32;
    e.xclient.data.l[0] = 2;  // from a pager: the user's own choice
    XSendEvent(d_, DefaultRootWindow(d_), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
    XSync(d_, False);
  }
  void Iconify(Window w) {
    XIconifyWindow(d_, w, DefaultScreen(d_));
    XSync(d_, False);
  }
  // Pixels of the area that are the selection's blue rather than text or background.
  int BluePixels(Box area) {
    area.w = std::min(area.w, DisplayWidth(d_, DefaultScreen(d_)) - area.x);
    area.h = std::min(area.h, DisplayHeight(d_, DefaultScreen(d_)) - area.y);
    if (area.x < 0 || area.y < 0 || area.w <= 0 || area.h <= 0) return -1;
    XImage* image = XGetImage(d_, DefaultRootWindow(d_), area.x, area.y, static_cast<unsigned>(area.w),
                              static_cast<unsigned>(area.h), AllPlanes, ZPixmap);
    if (image == nullptr) return -1;
    int blue = 0;
    for (int y = 0; y < area.h; ++y) {
      for (int x = 0; x < area.w; ++x) {
        const unsigned long p = XGetPixel(image, x, y);
        const long r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
        if (b > r + 60 && b > g + 20) ++blue;
      }
    }
    XDestroyImage(image);
    return blue;
  }

 private:
  Display* d_;
};

class DesktopTest : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {platformtest::kXvfb, "/usr/bin/openbox", "/usr/bin/trayer"}) {
      if (!fs::exists(tool)) GTEST_SKIP() << tool << " is not installed";
    }
    char pattern[] = "/tmp/mavrin-desktop-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    work = pattern;
    fs::create_directory(work / "run");
    StartServer();
  }
  void TearDown() override {
    programs.clear();
    helpers.clear();
    screen.reset();
    server.reset();
    std::error_code ec;
    fs::remove_all(work, ec);
  }

  void StartServer() {
    server = std::make_unique<platformtest::PrivateXServer>("1024x768x24");
    ASSERT_TRUE(server->Running());
    screen = std::make_unique<Screen>(server->Name());
    ASSERT_TRUE(screen->Open());
  }
  ChildSetup Env(std::vector<std::pair<std::string, std::string>> extra = {}) {
    ChildSetup setup{work.string(), {{"DISPLAY", server->Name()}, {"WAYLAND_DISPLAY", ""}, {"MAVRIN_LANG", "ja"}}, ""};
    setup.environment.insert(setup.environment.end(), extra.begin(), extra.end());
    return setup;
  }
  void StartWindowManager() {
    helpers.push_back(
        std::make_unique<ChildProcess>("/usr/bin/openbox", std::vector<std::string>{"--sm-disable"}, Env()));
    ASSERT_TRUE(WaitFor([&] { return screen->HasSelectionOwner("WM_S0"); }));
  }
  void StartTray() {
    helpers.push_back(std::make_unique<ChildProcess>(
        "/usr/bin/trayer", std::vector<std::string>{"--edge", "top", "--align", "right", "--SetDockType", "true"},
        Env()));
    ASSERT_TRUE(WaitFor([&] { return screen->HasSelectionOwner("_NET_SYSTEM_TRAY_S0"); }));
  }
  // The program in the work folder, on our display, apart from any other Mavrin of this user.
  ChildProcess& StartProgram(std::vector<std::pair<std::string, std::string>> extra = {}) {
    ChildSetup setup = Env({{"MAVRIN_INSTANCE_DIR", (work / "run").string()},
                            {"XDG_RUNTIME_DIR", (work / "run").string()},
                            {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"}});
    setup.environment.insert(setup.environment.end(), extra.begin(), extra.end());
    setup.output = (work / ("out-" + std::to_string(programs.size()))).string();
    programs.push_back(std::make_unique<ChildProcess>(MAVRIN_PROGRAM, std::vector<std::string>{}, setup));
    return *programs.back();
  }
  std::string Output(std::size_t n) const { return ReadFile(work / ("out-" + std::to_string(n))); }
  long Pid(std::size_t n = 0) const { return programs.at(n)->pid(); }
  Window One(const std::string& title, std::size_t n = 0) {
    const std::vector<Window> found = screen->Of(Pid(n), title);
    return found.size() == 1 ? found[0] : None;
  }
  Window WaitForWindow(const std::string& title) {
    Window w = None;
    WaitFor([&] { return (w = One(title)) != None; });
    return w;
  }
  // Clicks the icon and waits until the held click has become the menu.
  void OpenMenu() {
    const Box icon = screen->Geometry(screen->TrayIcon(Pid()));
    screen->Click(icon.CenterX(), icon.CenterY());
    ASSERT_TRUE(WaitFor([&] { return !screen->Of(Pid(), "").empty(); }));
  }
  // The area (x0, y0)-(x1, y1) of dialog window w given in its template's dialog units (w is cx by cy
  // of them); a point when only x0, y0 are given.
  Box Units(Window w, int cx, int cy, int x0, int y0, int x1 = -1, int y1 = -1) {
    // Managed, and where the window manager has put it for good.
    Box b;
    WaitFor([&] {
      const Box before = screen->Geometry(w);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      b = screen->Geometry(w);
      return screen->WmState(w) == NormalState && b.x == before.x && b.y == before.y;
    });
    const int left = b.x + x0 * b.w / cx;
    const int top = b.y + y0 * b.h / cy;
    if (x1 < 0) return Box{left, top, 1, 1};
    return Box{left, top, b.x + x1 * b.w / cx - left, b.y + y1 * b.h / cy - top};
  }

  fs::path work;
  std::unique_ptr<platformtest::PrivateXServer> server;
  std::unique_ptr<Screen> screen;
  std::vector<std::unique_ptr<ChildProcess>> helpers;
  std::vector<std::unique_ptr<ChildProcess>> programs;
};

const std::string kSettings = "Mavrin";
const std::string kAbout = "Mavrin のバージョン情報";

TEST_F(DesktopTest, WithoutATrayTheWindowShowsComesBackWhenStartedAgainAndGoesWhenATrayAppears) {
  StartWindowManager();
  StartProgram();
  const Window window = WaitForWindow(kSettings);
  ASSERT_NE(window, None) << Output(0) << screen->Describe(Pid());
  ASSERT_TRUE(WaitFor([&] { return screen->WmState(window) == NormalState; }));  // managed
  screen->Iconify(window);
  ASSERT_TRUE(WaitFor([&] { return screen->WmState(window) == IconicState; }));
  ChildProcess& second = StartProgram();
  EXPECT_EQ(0, second.WaitExit(std::chrono::seconds(10)));
  EXPECT_NE(Output(1).find("既に起動しています．起動中の Mavrin を前面に出しました．"), std::string::npos) << Output(1);
  EXPECT_TRUE(WaitFor([&] { return screen->WmState(window) == NormalState && screen->Viewable(window); }));
  StartTray();
  EXPECT_TRUE(WaitFor([&] { return One(kSettings) == None && screen->TrayIcon(Pid()) != None; }));
  EXPECT_TRUE(programs[0]->Running());
}

TEST_F(DesktopTest, ADoubleClickOpensTheSettingsAndAClickBringsThemBackFromMinimised) {
  // More processes than the list shows at once, so that it can be scrolled on any machine (a
  // container may run only a dozen).
  std::vector<std::unique_ptr<ChildProcess>> sleepers;
  for (int i = 0; i < 40; ++i)
    sleepers.push_back(std::make_unique<ChildProcess>("/bin/sleep", std::vector<std::string>{"600"}));
  StartWindowManager();
  StartTray();
  StartProgram();
  Window icon = None;
  ASSERT_TRUE(WaitFor([&] { return (icon = screen->TrayIcon(Pid())) != None; })) << Output(0);
  const Box at = screen->Geometry(icon);
  screen->Click(at.CenterX(), at.CenterY(), 1, 2);
  // The settings open, and no menu comes up first to take the second click.
  bool menuSeen = false;
  Window settings = None;
  WaitFor([&] {
    menuSeen = menuSeen || !screen->Of(Pid(), "").empty();
    return (settings = One(kSettings)) != None;
  });
  ASSERT_NE(settings, None);
  EXPECT_FALSE(menuSeen);
  ASSERT_TRUE(WaitFor([&] { return screen->WmState(settings) == NormalState; }));
  const Box where = screen->Geometry(settings);
  screen->Iconify(settings);
  ASSERT_TRUE(WaitFor([&] { return screen->WmState(settings) == IconicState; }));
  screen->Click(at.CenterX(), at.CenterY());
  // Back where it was (once the window manager's animation is over).
  EXPECT_TRUE(WaitFor([&] {
    const Box now = screen->Geometry(settings);
    return screen->WmState(settings) == NormalState && screen->Viewable(settings) && now.x == where.x &&
           now.y == where.y;
  }));
  EXPECT_TRUE(screen->Of(Pid(), "").empty());

  // After scrolling the processes away, "update the lists" shows the selected first one again.
  const Box list = Units(settings, 444, 224, 194, 45, 378, 215);
  ASSERT_TRUE(WaitFor([&] { return screen->BluePixels(list) > 300; }));
  for (int i = 0; i < 60; ++i) screen->Click(list.CenterX(), list.CenterY(), 5);
  ASSERT_TRUE(WaitFor([&] { return screen->BluePixels(list) < 30; }));
  const Box update = Units(settings, 444, 224, 43, 15);
  screen->Click(update.x, update.y);
  EXPECT_TRUE(WaitFor([&] { return screen->BluePixels(list) > 300; }, 3000));
}

TEST_F(DesktopTest, MenusOfHundredsOfProcessesStayOnTheScreen) {
  std::vector<std::unique_ptr<ChildProcess>> sleepers;
  for (int i = 0; i < 300; ++i)
    sleepers.push_back(std::make_unique<ChildProcess>("/bin/sleep", std::vector<std::string>{"600"}));
  StartWindowManager();
  StartTray();
  StartProgram();
  ASSERT_TRUE(WaitFor([&] { return screen->TrayIcon(Pid()) != None; }));
  OpenMenu();
  screen->Key(XK_a);  // the quick change
  screen->Key(XK_p);  // its processes
  ASSERT_TRUE(WaitFor([&] { return screen->Of(Pid(), "").size() == 3; }));
  screen->Key(XK_End);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (Window menu : screen->Of(Pid(), "")) {
    const Box b = screen->Geometry(menu);
    EXPECT_GE(b.x, 0);
    EXPECT_GE(b.y, 0);
    EXPECT_LE(b.x + b.w, 1024);
    EXPECT_LE(b.y + b.h, 768);
    EXPECT_LT(b.w, 600);  // one column
  }
}

TEST_F(DesktopTest, AboutClosesWhileTheSettingsAreOpenSaysWhenItsLinkFailsAndExitEndsEverything) {
  StartWindowManager();
  StartTray();
  StartProgram({{"PATH", "/nonexistent"}});  // no xdg-open
  ASSERT_TRUE(WaitFor([&] { return screen->TrayIcon(Pid()) != None; }));
  OpenMenu();
  screen->Key(XK_v);
  const Window about = WaitForWindow(kAbout);
  ASSERT_NE(about, None);
  const Box icon = screen->Geometry(screen->TrayIcon(Pid()));
  screen->Click(icon.CenterX(), icon.CenterY(), 1, 2);
  const Window settings = WaitForWindow(kSettings);
  ASSERT_NE(settings, None);
  // The user brings the About box up from behind the settings and presses Enter (its OK).
  screen->Activate(about);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  screen->Key(XK_Return);
  EXPECT_TRUE(WaitFor([&] { return One(kAbout) == None; }, 3000));
  EXPECT_TRUE(screen->Viewable(settings));

  const Box close = Units(settings, 444, 224, 412, 15);
  screen->Click(close.x, close.y);
  ASSERT_TRUE(WaitFor([&] { return One(kSettings) == None; }));
  OpenMenu();
  screen->Key(XK_v);
  const Window again = WaitForWindow(kAbout);
  ASSERT_NE(again, None);
  const Box link = Units(again, 249, 61, 60, 50);
  screen->Click(link.x, link.y);
  EXPECT_NE(WaitForWindow("mavrin"), None);  // the box that says the page could not be opened

  OpenMenu();
  screen->Key(XK_x);
  EXPECT_EQ(0, programs[0]->WaitExit(std::chrono::seconds(10)));
  EXPECT_TRUE(fs::exists(work / "mavrin.ini"));
}

// A bare X server resets whenever its last client leaves; the program must come up on it every time
// (it probed the display twice and lost it in between), and when the server goes away it must go
// on observing without it.
TEST_F(DesktopTest, ABareServerWorksEveryTimeAndLosingItKeepsTheProgramObserving) {
  if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "needs two processors";
  fs::copy_file("/bin/sleep", work / "pinned");
  std::ofstream(work / "mavrin.ini") << "[MAV_RIN]\n001_process_path=" << (work / "pinned").string()
                                     << "\n001_affinity_mask=1\n";
  screen.reset();  // no client of ours keeps the server from resetting
  for (std::size_t run = 0; run < 8; ++run) {
    SCOPED_TRACE(run);
    ChildProcess& program = StartProgram();
    ASSERT_TRUE(WaitFor([&] { return Output(run).find("observing...") != std::string::npos; })) << Output(run);
    EXPECT_EQ(Output(run).find("observing without a user interface"), std::string::npos) << Output(run);
    {
      Screen look(server->Name());
      EXPECT_TRUE(WaitFor([&] { return !look.Of(program.pid(), kSettings).empty(); }));
    }
    kill(program.pid(), SIGTERM);
    ASSERT_EQ(0, program.WaitExit(std::chrono::seconds(10)));
  }
  ChildProcess& program = StartProgram();
  ASSERT_TRUE(WaitFor([&] { return Output(8).find("observing...") != std::string::npos; }));
  server->Stop();
  ASSERT_TRUE(WaitFor([&] { return Output(8).find("画面との接続が切れました") != std::string::npos; })) << Output(8);
  ChildProcess pinned((work / "pinned").string(), {"600"});
  EXPECT_TRUE(WaitFor([&] { return platformtest::AllowedLists(pinned.pid()) == std::set<std::string>{"0"}; }))
      << Output(8);
  kill(program.pid(), SIGTERM);
  EXPECT_EQ(0, program.WaitExit(std::chrono::seconds(10)));

  // A log-out ends the display and asks the program to stop at the same moment: it must stop, not
  // go on without the display. Held while both happen, so that it meets them together.
  StartServer();
  screen.reset();
  ChildProcess& told = StartProgram();
  ASSERT_TRUE(WaitFor([&] { return Output(9).find("observing...") != std::string::npos; })) << Output(9);
  kill(told.pid(), SIGSTOP);
  kill(told.pid(), SIGTERM);
  server->Stop();
  kill(told.pid(), SIGCONT);
  EXPECT_EQ(0, told.WaitExit(std::chrono::seconds(10))) << Output(9);
}

// ---- a StatusNotifierItem host: the test is the watcher on a private session bus ----

class Watcher final : public QDBusVirtualObject {
 public:
  QString introspect(const QString&) const override {
    return QStringLiteral(
        "<interface name=\"org.kde.StatusNotifierWatcher\">"
        "<method name=\"RegisterStatusNotifierItem\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
        "<method name=\"RegisterStatusNotifierHost\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
        "<property name=\"RegisteredStatusNotifierItems\" type=\"as\" access=\"read\"/>"
        "<property name=\"IsStatusNotifierHostRegistered\" type=\"b\" access=\"read\"/>"
        "<property name=\"ProtocolVersion\" type=\"i\" access=\"read\"/></interface>");
  }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    const QVariantMap properties{{QStringLiteral("RegisteredStatusNotifierItems"), items},
                                 {QStringLiteral("IsStatusNotifierHostRegistered"), true},
                                 {QStringLiteral("ProtocolVersion"), 0}};
    if (message.member() == QLatin1String("Get")) {
      const QVariant value = properties.value(message.arguments().value(1).toString());
      return connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
    }
    if (message.member() == QLatin1String("GetAll")) return connection.send(message.createReply(properties));
    if (message.member() == QLatin1String("Introspect")) {
      return connection.send(
          message.createReply(QStringLiteral("<node>") + introspect({}) + QStringLiteral("</node>")));
    }
    if (message.member() == QLatin1String("RegisterStatusNotifierItem"))
      items << message.arguments().value(0).toString();
    return connection.send(message.createReply());
  }
  QStringList items;
};

TEST_F(DesktopTest, AStatusNotifierHostGetsTheTipItsClicksAndTheMiddleClick) {
  if (!fs::exists("/usr/bin/dbus-daemon")) GTEST_SKIP() << "dbus-daemon is not installed";
  int pipeFds[2];
  ASSERT_EQ(0, pipe(pipeFds));
  helpers.push_back(std::make_unique<ChildProcess>(
      "/usr/bin/dbus-daemon", std::vector<std::string>{"--session", "--nofork", "--nopidfile",
                                                       "--print-address=" + std::to_string(pipeFds[1])}));
  close(pipeFds[1]);
  std::string address;
  for (char c = 0; read(pipeFds[0], &c, 1) == 1 && c != '\n';) address += c;
  close(pipeFds[0]);
  ASSERT_FALSE(address.empty());
  static int argc = 1;
  static char name[] = "mavrin_desktop_tests";
  static char* argv[] = {name, nullptr};
  static QCoreApplication qt(argc, argv);
  QDBusConnection bus = QDBusConnection::connectToBus(QString::fromStdString(address), QStringLiteral("watcher"));
  Watcher watcher;
  ASSERT_TRUE(bus.registerVirtualObject(QStringLiteral("/StatusNotifierWatcher"), &watcher));
  ASSERT_TRUE(bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));

  StartWindowManager();
  StartProgram({{"DBUS_SESSION_BUS_ADDRESS", address}});
  ASSERT_TRUE(WaitFor([&] { return !watcher.items.isEmpty(); })) << Output(0);
  auto call = [&](const char* method) {
    QDBusMessage m =
        QDBusMessage::createMethodCall(watcher.items.front(), QStringLiteral("/StatusNotifierItem"),
                                       QStringLiteral("org.kde.StatusNotifierItem"), QString::fromLatin1(method));
    m.setArguments({0, 0});
    bus.asyncCall(m);
  };
  auto tip = [&] {
    QDBusMessage get =
        QDBusMessage::createMethodCall(watcher.items.front(), QStringLiteral("/StatusNotifierItem"),
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get.setArguments({QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("ToolTip")});
    // Asked without blocking: the program may be asking the watcher (this test) something meanwhile.
    QDBusPendingCall pending = bus.asyncCall(get);
    if (!WaitFor([&] { return pending.isFinished(); }, 5000)) return std::string("<no answer>");
    const QDBusMessage reply = pending.reply();
    const QDBusArgument arg = reply.arguments().value(0).value<QDBusVariant>().variant().value<QDBusArgument>();
    QString icon, title, text;
    arg.beginStructure();
    arg >> icon;
    arg.beginArray();
    while (!arg.atEnd()) {
      int w = 0, h = 0;
      QByteArray pixels;
      arg.beginStructure();
      arg >> w >> h >> pixels;
      arg.endStructure();
    }
    arg.endArray();
    arg >> title >> text;
    arg.endStructure();
    return (title + text).toStdString();
  };
  // The host never reports a hover: the tip is there from the start, and follows the pause state.
  EXPECT_TRUE(WaitFor([&] { return tip() == "Mavrin (監視中)"; })) << tip();
  call("Activate");
  ASSERT_TRUE(WaitFor([&] { return screen->Of(Pid(), "").size() == 1; }));
  call("Activate");  // a second click closes the menu instead of stacking another
  EXPECT_TRUE(WaitFor([&] { return screen->Of(Pid(), "").empty(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(screen->Of(Pid(), "").empty());
  call("ContextMenu");
  ASSERT_TRUE(WaitFor([&] { return screen->Of(Pid(), "").size() == 1; }));
  screen->Key(XK_p);
  EXPECT_TRUE(WaitFor([&] { return tip() == "Mavrin (停止中)"; })) << tip();
  call("SecondaryActivate");  // no double click exists here: the middle click opens the settings
  EXPECT_NE(WaitForWindow(kSettings), None);
  bus.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
  QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
}

}  // namespace
