#pragma once
// The texts of the tray menu's dynamic items, apart from the menu so that any name or path can be
// tried on them alone.
#include <cstddef>
#include <string>

#include "platform/processor_set.h"

// Item texts are formatted into 128 bytes; window titles are read into 1024 and cut to 96.
inline constexpr std::size_t kTrayItemTextBytes = 127;
inline constexpr std::size_t kTrayTitleBufferBytes = 1024;
inline constexpr std::size_t kTrayTitleBytes = 96;

// "%2d : %s\t%d [%s]" for item index (shown as index + 1), cut to fit the item buffer without
// splitting a character. The name is appended as text, never used as a format.
std::string TrayItemText(std::size_t index, const std::string& name, int cpuCount, const platform::ProcessorSet& mask,
                         unsigned processors);
// "%2d : %s" for a window whose process is not listed, cut the same way.
std::string TrayTitleOnlyItemText(std::size_t index, const std::string& title);
// A window title as the window submenu shows it: cut to its first 96 bytes.
std::string TrayWindowTitle(const std::string& title);
