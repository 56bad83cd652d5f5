#pragma once
// Plain types shared by every layer: no system header may be needed to use them.
#include <cstdint>

// The 32-bit processor mask of the settings file's %03d_affinity_mask keys: bit n set, the process may
// run on processor n. The program holds and passes processors as platform::ProcessorSet, which such a
// mask converts to.
using AffinityMask = std::uint32_t;

namespace platform {

using ProcessId = std::uint32_t;
// Opaque process handle, 0 = none. Opened for one operation and closed before it returns.
using ProcessHandle = std::intptr_t;
inline constexpr ProcessHandle kNoProcess = 0;
// Opaque top-level window handle, 0 = none (an HWND on Windows, an X11 window id on Linux).
using WindowHandle = std::uintptr_t;
inline constexpr WindowHandle kNoWindow = 0;

// Access rights, with the values the system defines, so the Win32 layer passes them through.
inline constexpr std::uint32_t kProcessVmRead = 0x0010;
inline constexpr std::uint32_t kProcessSetInformation = 0x0200;
inline constexpr std::uint32_t kProcessQueryInformation = 0x0400;
// Refresh lists a process only if it could also set its mask and read its modules.
inline constexpr std::uint32_t kListRights = kProcessQueryInformation | kProcessSetInformation | kProcessVmRead;
// Reading a process's masks without changing them.
inline constexpr std::uint32_t kQueryRights = kProcessQueryInformation;
// Setting a mask (observation cycle, check boxes, change-assignment dialog).
inline constexpr std::uint32_t kSetRights = kProcessQueryInformation | kProcessSetInformation;

}  // namespace platform
