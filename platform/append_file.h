#pragma once
// Appending to a file that other programs may read, move, delete or replace at any time (the log).
#include <string>

namespace platform {

// Appends text to the regular file at path in one write, creating the file if it is missing. Never
// waits: anything that is not a regular file (a FIFO put in the file's place, a device) is refused
// rather than opened for good. Line ends are the system's: "\n" becomes CR LF on Windows. False
// when nothing was written; `error` then says why, in the system's words.
bool AppendToRegularFile(const std::string& path, const std::string& text, std::string& error);

}  // namespace platform
