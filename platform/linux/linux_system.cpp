#include "platform/linux/linux_system.h"

#include <ctime>

namespace platform {

std::tm LinuxSystem::LocalNow() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) local = std::tm{};
  return local;
}

}  // namespace platform
