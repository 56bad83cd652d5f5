#pragma once
// Top-level windows on Linux through Xlib and the EWMH hints. Without a display (no DISPLAY, or it
// cannot be opened) the list is empty and nothing fails.
#include <memory>
#include <string>
#include <vector>

#include "platform/system.h"

namespace platform {

class X11Windows final : public IWindowApi {
 public:
  // displayName nullptr: $DISPLAY. The display is opened at the first use, once.
  explicit X11Windows(const char* displayName = nullptr);
  ~X11Windows() override;
  X11Windows(const X11Windows&) = delete;
  X11Windows& operator=(const X11Windows&) = delete;

  // The managed client windows, top of the stack first: _NET_CLIENT_LIST_STACKING reversed. With
  // no EWMH window manager running, the root's children, top first, that carry WM_STATE or a
  // title (a reparenting manager's frame stands for the client inside it that carries WM_STATE).
  void EnumTopLevelWindows(std::vector<WindowHandle>& out) override;
  // _NET_WM_NAME when it is UTF-8 text, else WM_NAME (Latin-1 STRING, COMPOUND_TEXT or UTF-8); cut to
  // bufferSize - 1 bytes at a character boundary.
  std::string WindowTitle(WindowHandle window, std::size_t bufferSize) override;
  // The class part of WM_CLASS; "Progman" for windows of EWMH type DESKTOP or DOCK, the
  // counterpart of the Windows shell's desktop window, so that window lists leave them out.
  std::string WindowClass(WindowHandle window) override;
  // Mapped, or minimised (or otherwise managed and hidden by the window manager).
  bool IsWindowVisible(WindowHandle window) override;
  // WM_TRANSIENT_FOR.
  WindowHandle WindowOwner(WindowHandle window) override;
  // _NET_WM_PID; for windows without it (xeyes and many older programs) the process of the client
  // that made the window, as the server knows it (X-Resource extension 1.2, local clients only).
  ProcessId WindowProcessId(WindowHandle window) override;
  // _NET_WM_ICON: of the images it holds, the smallest at least size wide (else the largest),
  // scaled to size by size.
  std::vector<std::uint8_t> WindowIcon(WindowHandle window, int size) override;
  bool ListsOnlySomeWindows() override { return WaylandSession(); }

  // Whether the session is a Wayland one: its own clients' windows are out of X11's sight.
  static bool WaylandSession();

  // True once a display could be opened.
  bool Connected();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform
