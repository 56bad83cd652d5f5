#include "platform/linux/x11_windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
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
  kAtomCount
};

const char* const kAtomNames[kAtomCount] = {
    "_NET_CLIENT_LIST_STACKING", "_NET_WM_NAME",  "UTF8_STRING",
    "_NET_WM_PID",               "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DESKTOP",
    "_NET_WM_WINDOW_TYPE_DOCK",  "WM_STATE",      "COMPOUND_TEXT",
};

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
    int status = XGetWindowProperty(d, window, property, 0, maxLongs, False, type, &out.type, &out.format,
                                    &out.count, &remaining, &out.data);
    if (broken) return false;
    return status == Success && out.type != None && out.data != nullptr;
  }

  bool HasWmState(Window window) {
    Property state;
    return Read(window, atoms[kWmState], atoms[kWmState], 2, state) && state.format == 32 && state.count >= 1;
  }

  bool HasTitle(Window window) {
    Property name;
    if (Read(window, atoms[kNetWmName], atoms[kUtf8String], 1, name) && name.format == 8 && name.count > 0) {
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
  if (s.Read(w, s.atoms[kNetWmName], s.atoms[kUtf8String], maxLongs, name) && name.format == 8) {
    title.assign(reinterpret_cast<const char*>(name.data), name.count);
  } else {
    Property legacy;
    if (!s.Read(w, XA_WM_NAME, AnyPropertyType, maxLongs, legacy) || legacy.format != 8) return {};
    if (legacy.type == XA_STRING) {
      title = Latin1ToUtf8(legacy.data, legacy.count);
    } else if (legacy.type == s.atoms[kCompoundText]) {
      XTextProperty text{legacy.data, legacy.type, legacy.format, legacy.count};
      char** list = nullptr;
      int listCount = 0;
      if (Xutf8TextPropertyToTextList(s.display, &text, &list, &listCount) >= Success && list != nullptr) {
        if (listCount > 0 && list[0] != nullptr) title = list[0];
        XFreeStringList(list);
      } else {
        title.assign(reinterpret_cast<const char*>(legacy.data), legacy.count);
      }
    } else {
      title.assign(reinterpret_cast<const char*>(legacy.data), legacy.count);
    }
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
  if (s.Begin() == nullptr) return 0;
  Property pid;
  if (!s.Read(static_cast<Window>(window), s.atoms[kNetWmPid], XA_CARDINAL, 1, pid) || pid.format != 32 ||
      pid.count < 1) {
    return 0;
  }
  return static_cast<ProcessId>(static_cast<unsigned long>(pid.Longs()[0]) & 0xFFFFFFFFul);
}

}  // namespace platform
