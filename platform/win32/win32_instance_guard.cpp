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

}  // namespace platform
