#include "platform/linux/x11_windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace platform {

namespace {

// A window destroyed between two calls makes the server answer with an error; the default
// handler would end the program. The calls report failure through their results instead.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

// Losing the connection to the server is fatal by default. For our own connection the handler
// returns and the connection's exit handler marks it dead instead; other connections (a GUI
// toolkit's) keep whatever handler they had.
XIOErrorHandler g_previousIoHandler = nullptr;
std::vector<Display*> g_ownDisplays;

int OnIoError(Display* display) {
  if (std::find(g_ownDisplays.begin(), g_ownDisplays.end(), display) != g_ownDisplays.end()) return 0;
  return g_previousIoHandler != nullptr ? g_previousIoHandler(display) : 0;
}

enum AtomIndex {
  kClientListStacking,
  kNetWmName,
  kUtf8String,
  kNetWmPid,
  kNetWmWindowType,
  kTypeDesktop,
  kTypeDock,
  kWmState,
  kCompoundText,
  kNetWmIcon,
  kAtomCount
};

const char* const kAtomNames[kAtomCount] = {
    "_NET_CLIENT_LIST_STACKING",
    "_NET_WM_NAME",
    "UTF8_STRING",
    "_NET_WM_PID",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_DESKTOP",
    "_NET_WM_WINDOW_TYPE_DOCK",
    "WM_STATE",
    "COMPOUND_TEXT",
    "_NET_WM_ICON",
};

// _NET_WM_ICON may hold several large images; more than this many longs is not an icon.
constexpr long kMaxIconLongs = 1L << 20;
constexpr long kMaxIconEdge = 1024;

constexpr long kNormalState = 1;
constexpr long kIconicState = 3;

struct Property {
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned char* data = nullptr;
  Property() = default;
  Property(const Property&) = delete;
  Property& operator=(const Property&) = delete;
  ~Property() {
    if (data != nullptr) XFree(data);
  }
  // Format-32 items arrive as longs, whatever the size of long.
  const long* Longs() const { return reinterpret_cast<const long*>(data); }
};

std::string Latin1ToUtf8(const unsigned char* text, std::size_t length) {
  std::string out;
  out.reserve(length);
  for (std::size_t i = 0; i < length; ++i) {
    unsigned char c = text[i];
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

// At most limit bytes, not ending inside a UTF-8 sequence.
void CutUtf8(std::string& text, std::size_t limit) {
  if (text.size() <= limit) return;
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
}

}  // namespace

struct X11Windows::State {
  std::string displayName;
  bool hasDisplayName = false;
  bool tried = false;
  bool broken = false;
  bool resChecked = false;
  bool hasClientIds = false;
  Display* display = nullptr;
  Window root = None;
  Atom atoms[kAtomCount] = {};

  static void OnConnectionLost(Display*, void* self) {
    // The connection is gone for good; from now on there are no windows. The Display is
    // released at the next call, not from inside Xlib.
    static_cast<State*>(self)->broken = true;
  }

  Display* Get() {
    if (!tried) {
      tried = true;
      XSetErrorHandler(IgnoreXError);
      display = XOpenDisplay(hasDisplayName ? displayName.c_str() : nullptr);
      if (display != nullptr) {
        XIOErrorHandler previous = XSetIOErrorHandler(OnIoError);
        if (previous != OnIoError) g_previousIoHandler = previous;
        g_ownDisplays.push_back(display);
        XSetIOErrorExitHandler(display, &State::OnConnectionLost, this);
        root = DefaultRootWindow(display);
        XInternAtoms(display, const_cast<char**>(kAtomNames), kAtomCount, False, atoms);
      }
    }
    return broken ? nullptr : display;
  }

  // Called on entry to every public call, never from inside another: a connection that died
  // during an earlier call is released here, where no caller still holds it.
  Display* Begin() {
    if (broken && display != nullptr) {
      std::erase(g_ownDisplays, display);
      XCloseDisplay(display);
      display = nullptr;
    }
    return Get();
  }

  bool Read(Window window, Atom property, Atom type, long maxLongs, Property& out) {
    Display* d = Get();
    if (d == nullptr || window == None) return false;
    unsigned long remaining = 0;
    int status = XGetWindowProperty(d, window, property, 0, maxLongs, False, type, &out.type, &out.format, &out.count,
                                    &remaining, &out.data);
    if (broken) return false;
    // A property of another type than asked for comes back with its type and no data: not found.
    return status == Success && out.type != None && out.data != nullptr &&
           (type == AnyPropertyType || out.type == type);
  }

  // The X-Resource extension's client ids (1.2), asked of the server once.
  bool HasClientIds() {
    if (!resChecked) {
      resChecked = true;
      int event = 0;
      int error = 0;
      int major = 0;
      int minor = 0;
      hasClientIds = XResQueryExtension(display, &event, &error) && XResQueryVersion(display, &major, &minor) &&
                     !broken && (major > 1 || (major == 1 && minor >= 2));
    }
    return hasClientIds && !broken;
  }

  // A text property as UTF-8: STRING is Latin-1, COMPOUND_TEXT goes through Xlib, UTF8_STRING as is.
  std::string Decode(const Property& text) {
    if (text.type == XA_STRING) return Latin1ToUtf8(text.data, text.count);
    if (text.type == atoms[kCompoundText]) {
      XTextProperty property{text.data, text.type, text.format, text.count};
      char** list = nullptr;
      int listCount = 0;
      std::string out;
      if (Xutf8TextPropertyToTextList(display, &property, &list, &listCount) >= Success && list != nullptr) {
        if (listCount > 0 && list[0] != nullptr) out = list[0];
        XFreeStringList(list);
        return out;
      }
    }
    return std::string(reinterpret_cast<const char*>(text.data), text.count);
  }

  bool HasWmState(Window window) {
    Property state;
    return Read(window, atoms[kWmState], atoms[kWmState], 2, state) && state.format == 32 && state.count >= 1;
  }

  bool HasTitle(Window window) {
    Property name;
    if (Read(window, atoms[kNetWmName], AnyPropertyType, 1, name) && name.format == 8 && name.count > 0) {
      return true;
    }
    Property legacy;
    return Read(window, XA_WM_NAME, AnyPropertyType, 1, legacy) && legacy.format == 8 && legacy.count > 0;
  }

  // The client window inside a reparenting manager's frame: the first descendant with WM_STATE.
  Window FindClient(Window window, int depth) {
    if (HasWmState(window)) return window;
    if (depth == 0) return None;
    Window rootReturn = None;
    Window parent = None;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, window, &rootReturn, &parent, &children, &count) == 0 || broken) {
      if (children != nullptr) XFree(children);
      return None;
    }
    Window found = None;
    for (unsigned int i = count; i-- > 0 && found == None && !broken;) found = FindClient(children[i], depth - 1);
    if (children != nullptr) XFree(children);
    return found;
  }
};

X11Windows::X11Windows(const char* displayName) : state_(std::make_unique<State>()) {
  if (displayName != nullptr) {
    state_->displayName = displayName;
    state_->hasDisplayName = true;
  }
}

X11Windows::~X11Windows() {
  if (state_->display == nullptr) return;
  std::erase(g_ownDisplays, state_->display);
  XCloseDisplay(state_->display);
}

bool X11Windows::Connected() { return state_->Begin() != nullptr; }

void X11Windows::EnumTopLevelWindows(std::vector<WindowHandle>& out) {
  out.clear();
  State& s = *state_;
  Display* d = s.Begin();
  if (d == nullptr) return;

  Property stacking;
  if (s.Read(s.root, s.atoms[kClientListStacking], XA_WINDOW, 1L << 20, stacking) && stacking.format == 32) {
    // The hint lists bottom to top; the system's order is top first.
    const long* windows = stacking.Longs();
    for (unsigned long i = stacking.count; i-- > 0;) {
      if (windows[i] != 0) out.push_back(static_cast<WindowHandle>(windows[i]));
    }
    return;
  }

  // No EWMH window manager: the root's children, which XQueryTree gives bottom to top.
  Window rootReturn = None;
  Window parent = None;
  Window* children = nullptr;
  unsigned int count = 0;
  if (XQueryTree(d, s.root, &rootReturn, &parent, &children, &count) == 0 || s.broken) count = 0;
  for (unsigned int i = count; i-- > 0 && !s.broken;) {
    Window child = children[i];
    XWindowAttributes attributes;
    if (XGetWindowAttributes(d, child, &attributes) == 0 || s.broken) continue;
    if (attributes.override_redirect || attributes.c_class == InputOnly) continue;  // menus, tooltips
    Window client = s.FindClient(child, 2);
    if (client == None && s.HasTitle(child)) client = child;
    if (client != None) out.push_back(static_cast<WindowHandle>(client));
  }
  if (children != nullptr) XFree(children);
  if (s.broken) out.clear();
}

std::string X11Windows::WindowTitle(WindowHandle window, std::size_t bufferSize) {
  State& s = *state_;
  // Connect first: the atoms passed below are only known once connected.
  if (bufferSize == 0 || s.Begin() == nullptr) return {};
  Window w = static_cast<Window>(window);
  const long maxLongs = static_cast<long>(bufferSize / 4 + 8);
  std::string title;
  Property name;
  // Programs also put other text types into _NET_WM_NAME; only UTF-8 is what it promises, and for
  // anything else WM_NAME says the same in a type that can be read.
  if (s.Read(w, s.atoms[kNetWmName], AnyPropertyType, maxLongs, name) && name.format == 8 &&
      name.type == s.atoms[kUtf8String]) {
    title.assign(reinterpret_cast<const char*>(name.data), name.count);
  } else {
    Property legacy;
    if (!s.Read(w, XA_WM_NAME, AnyPropertyType, maxLongs, legacy) || legacy.format != 8) return {};
    title = s.Decode(legacy);
  }
  // The text ends at the first zero byte, as a C string would.
  title.resize(std::strlen(title.c_str()));
  CutUtf8(title, bufferSize - 1);
  return title;
}

std::string X11Windows::WindowClass(WindowHandle window) {
  State& s = *state_;
  if (s.Begin() == nullptr) return {};
  Window w = static_cast<Window>(window);
  Property type;
  if (s.Read(w, s.atoms[kNetWmWindowType], XA_ATOM, 64, type) && type.format == 32) {
    const long* types = type.Longs();
    for (unsigned long i = 0; i < type.count; ++i) {
      Atom a = static_cast<Atom>(types[i]);
      if (a == s.atoms[kTypeDesktop] || a == s.atoms[kTypeDock]) return "Progman";
    }
  }
  Property wmClass;
  if (!s.Read(w, XA_WM_CLASS, XA_STRING, 1024, wmClass) || wmClass.format != 8) return {};
  // "instance\0class\0": the class is the second string.
  const char* text = reinterpret_cast<const char*>(wmClass.data);
  std::size_t length = wmClass.count;
  const char* end = text + length;
  const char* firstEnd = std::find(text, end, '\0');
  if (firstEnd == end) return {};
  const char* cls = firstEnd + 1;
  return std::string(cls, std::find(cls, end, '\0'));
}

bool X11Windows::IsWindowVisible(WindowHandle window) {
  State& s = *state_;
  Display* d = s.Begin();
  if (d == nullptr || window == kNoWindow) return false;
  Window w = static_cast<Window>(window);
  XWindowAttributes attributes;
  if (XGetWindowAttributes(d, w, &attributes) == 0 || s.broken) return false;
  if (attributes.map_state != IsUnmapped) return true;
  // Unmapped but managed: minimised (IconicState), or on another desktop (NormalState).
  Property state;
  if (s.Read(w, s.atoms[kWmState], s.atoms[kWmState], 2, state) && state.format == 32 && state.count >= 1) {
    long value = state.Longs()[0];
    return value == kNormalState || value == kIconicState;
  }
  return false;
}

WindowHandle X11Windows::WindowOwner(WindowHandle window) {
  State& s = *state_;
  Display* d = s.Begin();
  if (d == nullptr || window == kNoWindow) return kNoWindow;
  Window owner = None;
  if (XGetTransientForHint(d, static_cast<Window>(window), &owner) == 0 || s.broken) return kNoWindow;
  return static_cast<WindowHandle>(owner);
}

ProcessId X11Windows::WindowProcessId(WindowHandle window) {
  State& s = *state_;
  if (s.Begin() == nullptr || window == kNoWindow) return 0;
  Property pid;
  if (s.Read(static_cast<Window>(window), s.atoms[kNetWmPid], XA_CARDINAL, 1, pid) && pid.format == 32 &&
      pid.count >= 1) {
    return static_cast<ProcessId>(static_cast<unsigned long>(pid.Longs()[0]) & 0xFFFFFFFFul);
  }
  // The hint is the program's own courtesy; the server knows which local client made the window
  // (by the id's client part, so a window that is gone must not be asked about).
  XWindowAttributes attributes;
  if (!s.HasClientIds() || XGetWindowAttributes(s.display, static_cast<Window>(window), &attributes) == 0 || s.broken) {
    return 0;
  }
  XResClientIdSpec wanted{static_cast<XID>(window), XRES_CLIENT_ID_PID_MASK};
  long count = 0;
  XResClientIdValue* values = nullptr;
  ProcessId found = 0;
  if (XResQueryClientIds(s.display, 1, &wanted, &count, &values) == Success && !s.broken) {
    for (long i = 0; i < count && found == 0; ++i) {
      const pid_t owner = XResGetClientPid(&values[i]);
      if (owner > 0) found = static_cast<ProcessId>(owner);
    }
  }
  if (values != nullptr) XResClientIdsDestroy(count, values);
  return found;
}

std::vector<std::uint8_t> X11Windows::WindowIcon(WindowHandle window, int size) {
  State& s = *state_;
  if (s.Begin() == nullptr || window == kNoWindow || size <= 0) return {};
  Property icon;
  if (!s.Read(static_cast<Window>(window), s.atoms[kNetWmIcon], XA_CARDINAL, kMaxIconLongs, icon) ||
      icon.format != 32) {
    return {};
  }
  // Images one after another: width, height, then width * height pixels as 0xAARRGGBB.
  const long* data = icon.Longs();
  const unsigned long count = icon.count;
  unsigned long best = count;
  long bestWidth = 0;
  long bestHeight = 0;
  for (unsigned long at = 0; at + 2 <= count;) {
    const long width = data[at];
    const long height = data[at + 1];
    if (width <= 0 || height <= 0 || width > kMaxIconEdge || height > kMaxIconEdge ||
        static_cast<unsigned long>(width * height) > count - at - 2) {
      break;
    }
    const bool bigEnough = width >= size && height >= size;
    const bool bestBigEnough = bestWidth >= size && bestHeight >= size;
    if (best == count || (bigEnough && (!bestBigEnough || width < bestWidth)) ||
        (!bigEnough && !bestBigEnough && width > bestWidth)) {
      best = at;
      bestWidth = width;
      bestHeight = height;
    }
    at += 2 + static_cast<unsigned long>(width * height);
  }
  if (best == count) return {};
  // Each target pixel averages the source pixels it covers (weighted by alpha, so that transparent
  // pixels do not darken the edges).
  const long* pixels = data + best + 2;
  std::vector<std::uint8_t> rgba(static_cast<std::size_t>(size) * static_cast<std::size_t>(size) * 4u);
  for (int y = 0; y < size; ++y) {
    const long y0 = y * bestHeight / size;
    const long y1 = std::max(y0 + 1, (y + 1) * bestHeight / size);
    for (int x = 0; x < size; ++x) {
      const long x0 = x * bestWidth / size;
      const long x1 = std::max(x0 + 1, (x + 1) * bestWidth / size);
      unsigned long long r = 0, g = 0, b = 0, a = 0, n = 0;
      for (long sy = y0; sy < y1; ++sy) {
        for (long sx = x0; sx < x1; ++sx) {
          const unsigned long argb = static_cast<unsigned long>(pixels[sy * bestWidth + sx]) & 0xFFFFFFFFul;
          const unsigned long alpha = argb >> 24;
          r += ((argb >> 16) & 0xFF) * alpha;
          g += ((argb >> 8) & 0xFF) * alpha;
          b += (argb & 0xFF) * alpha;
          a += alpha;
          ++n;
        }
      }
      std::uint8_t* out =
          &rgba[(static_cast<std::size_t>(y) * static_cast<std::size_t>(size) + static_cast<std::size_t>(x)) * 4u];
      out[0] = static_cast<std::uint8_t>(a != 0 ? r / a : 0);
      out[1] = static_cast<std::uint8_t>(a != 0 ? g / a : 0);
      out[2] = static_cast<std::uint8_t>(a != 0 ? b / a : 0);
      out[3] = static_cast<std::uint8_t>(a / n);
    }
  }
  return rgba;
}

bool X11Windows::WaylandSession() {
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const char* type = std::getenv("XDG_SESSION_TYPE");
  return (wayland != nullptr && wayland[0] != '\0') || (type != nullptr && std::strcmp(type, "wayland") == 0);
}

}  // namespace platform
