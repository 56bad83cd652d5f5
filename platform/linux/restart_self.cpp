#include "platform/linux/restart_self.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace platform {

void RestartWithoutDisplay(std::vector<std::string> args) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  std::fflush(nullptr);
  execv("/proc/self/exe", argv.data());
}

}  // namespace platform
