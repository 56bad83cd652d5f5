#pragma once
#include <string>

#include "platform/instance_guard.h"

namespace platform {

// A lock on a file in the user's runtime directory, named after the marker: taken and tested in
// one step and released by the kernel when the process ends, however it ends.
class LinuxInstanceGuard : public IInstanceGuard {
 public:
  LinuxInstanceGuard() = default;
  ~LinuxInstanceGuard() override;
  LinuxInstanceGuard(const LinuxInstanceGuard&) = delete;
  LinuxInstanceGuard& operator=(const LinuxInstanceGuard&) = delete;

  bool TryAcquire(const std::string& name) override;

 private:
  int fd_ = -1;
};

}  // namespace platform
