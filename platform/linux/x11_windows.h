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
  // _NET_WM_NAME (UTF-8), else WM_NAME; cut to bufferSize - 1 bytes at a character boundary.
  std::string WindowTitle(WindowHandle window, std::size_t bufferSize) override;
  // The class part of WM_CLASS; "Progman" for windows of EWMH type DESKTOP or DOCK, the
  // counterpart of the Windows shell's desktop window, so that window lists leave them out.
  std::string WindowClass(WindowHandle window) override;
  // Mapped, or minimised (or otherwise managed and hidden by the window manager).
  bool IsWindowVisible(WindowHandle window) override;
  // WM_TRANSIENT_FOR.
  WindowHandle WindowOwner(WindowHandle window) override;
  // _NET_WM_PID.
  ProcessId WindowProcessId(WindowHandle window) override;

  // True once a display could be opened.
  bool Connected();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform
