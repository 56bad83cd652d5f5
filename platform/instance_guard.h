#pragma once
// The single-instance marker: held for the life of the process and released by the system when the
// process ends, however it ends. A later start that finds it held can ask the holder to come
// forward instead of ending unseen.
#include <functional>
#include <memory>
#include <string>

namespace platform {

class IInstanceGuard {
 public:
  virtual ~IInstanceGuard() = default;
  // Creates the marker and tests whether it existed in one step. True: we are the only instance
  // and hold the marker until the process ends; false: another instance holds it.
  virtual bool TryAcquire(const std::string& name) = 0;
  // After TryAcquire gave false: asks the instance that holds the marker to come forward. True
  // once it has taken the request.
  virtual bool AskHolderToComeForward(const std::string& name) = 0;
  // While holding the marker: onRequest runs for every such request, possibly on a thread of the
  // guard's own, so it may only wake the main loop (an async trigger, a posted message).
  virtual void ListenForRequests(std::function<void()> onRequest) = 0;
};

}  // namespace platform
