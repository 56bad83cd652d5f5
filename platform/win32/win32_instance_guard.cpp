#include "platform/win32/win32_instance_guard.h"

#include <windows.h>

namespace platform {

bool Win32InstanceGuard::TryAcquire(const std::string& name) {
  if (mutex_ != nullptr) return true;
  // Creating and learning whether it existed is one call, so two instances started together cannot
  // both see "not there yet".
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) return true;  // no marker can be made: run unguarded rather than not at all
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return false;
  }
  mutex_ = mutex;
  return true;
}

std::string Win32InstanceGuard::ActivationMessageName(const std::string& name) { return name + ".ComeForward"; }

bool Win32InstanceGuard::AskHolderToComeForward(const std::string& name) {
  const UINT message = RegisterWindowMessageA(ActivationMessageName(name).c_str());
  if (message == 0) return false;
  // The holder may take the foreground only when the process the user just started lets it.
  AllowSetForegroundWindow(ASFW_ANY);
  return PostMessageA(HWND_BROADCAST, message, 0, 0) != FALSE;
}

}  // namespace platform
