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
  // Broadcasts the registered message ActivationMessageName(name): the holder's backend routes it
  // to its main window.
  bool AskHolderToComeForward(const std::string& name) override;
  // The request reaches the main window as that registered message, routed by the Win32 backend:
  // nothing to listen with here.
  void ListenForRequests(std::function<void()>) override {}

  // The name of the message a later start sends the holder of marker name.
  static std::string ActivationMessageName(const std::string& name);

 private:
  void* mutex_ = nullptr;
};

}  // namespace platform
