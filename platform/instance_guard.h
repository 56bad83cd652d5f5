#pragma once
// The single-instance marker: held for the life of the process and released by the system when the
// process ends, however it ends.
#include <memory>
#include <string>

namespace platform {

class IInstanceGuard {
 public:
  virtual ~IInstanceGuard() = default;
  // Creates the marker and tests whether it existed in one step. True: we are the only instance
  // and hold the marker until the process ends; false: another instance holds it.
  virtual bool TryAcquire(const std::string& name) = 0;
};

}  // namespace platform
