#pragma once
// What the Win32 backend's files share: window handles as the framework's ids, and the controls
// of a block added at run time, which live in a scrolling window of their own.
#include <windows.h>

#include "framework/win32/win32_backend.h"

namespace framework::win32 {

inline HWND AsWindow(WindowId window) { return reinterpret_cast<HWND>(window); }
inline WindowId AsId(HWND window) { return reinterpret_cast<WindowId>(window); }

// The window class of the scrolling part of a block of controls added at run time.
inline constexpr char kBlockClass[] = "MavrinControlBlock";

// A control of the dialog: its own child, or one in the scrolling part of its added block.
HWND Control(WindowId window, int id);
// Brings a control of the block wholly into view, as keyboard focus moves to it.
void ScrollBlockToShow(HWND block, HWND control);
void RegisterBlockClass();

}  // namespace framework::win32
