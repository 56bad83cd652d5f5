#pragma once
// The single-instance marker on Windows: a named mutex in the user's session.
#include "platform/instance_guard.h"

namespace platform {

class Win32InstanceGuard final : public IInstanceGuard {
 public:
  Win32InstanceGuard() = default;
  // The handle is deliberately never closed: the system closes it when the process ends, and only
  // then may a new instance start.
  ~Win32InstanceGuard() override = default;
  Win32InstanceGuard(const Win32InstanceGuard&) = delete;
  Win32InstanceGuard& operator=(const Win32InstanceGuard&) = delete;

  bool TryAcquire(const std::string& name) override;

 private:
  void* mutex_ = nullptr;
};

}  // namespace platform
