#pragma once
// Starting the running program afresh in its own place.
#include <string>
#include <vector>

namespace platform {

// Replaces this process with a new start of its own executable (whatever its path now says), given
// args as its argument vector (args[0] included), and without DISPLAY and WAYLAND_DISPLAY so that
// it does not look for a display again. Output buffers are flushed first, since nothing else will
// write them. Returns only when the start failed.
void RestartWithoutDisplay(std::vector<std::string> args);

}  // namespace platform
