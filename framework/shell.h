#pragma once
// The two shell services the program uses: opening an address with the user's handler (a web page
// in the browser) and the icon the shell shows for a file.
#include <string>

#include "framework/icon.h"

namespace framework {

class IShell {
 public:
  virtual ~IShell() = default;
  // Hands address to the system's handler; false when that could not be started.
  virtual bool OpenAddress(const std::string& address) = 0;
  // The small icon of the file at path, or a null icon.
  virtual Icon FileIcon(const std::string& path) = 0;
};

// Chooses the shell service; nullptr restores the built-in one that opens nothing and has no icons.
void SetShell(IShell* shell);
IShell& Shell();

}  // namespace framework
