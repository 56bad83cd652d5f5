#pragma once
#include <functional>
#include <map>
#include <set>
#include <string>

#include "platform/instance_guard.h"

namespace platform {

// Instance markers shared by every guard made on the same registry, as the system's named objects
// are shared by the processes of one login.
class FakeInstanceRegistry {
 public:
  std::set<std::string> held;
  // What the holder of a marker listens with; a request runs it at once.
  std::map<std::string, std::function<void()>> listeners;
  int requests = 0;
};

class FakeInstanceGuard : public IInstanceGuard {
 public:
  explicit FakeInstanceGuard(FakeInstanceRegistry& registry) : registry_(registry) {}
  ~FakeInstanceGuard() override {
    for (const std::string& name : mine_) {
      registry_.held.erase(name);
      registry_.listeners.erase(name);
    }
  }
  bool TryAcquire(const std::string& name) override {
    ++attempts;
    if (mine_.count(name) != 0) return true;
    if (!registry_.held.insert(name).second) return false;
    mine_.insert(name);
    return true;
  }
  bool AskHolderToComeForward(const std::string& name) override {
    ++registry_.requests;
    auto it = registry_.listeners.find(name);
    if (it == registry_.listeners.end() || !it->second) return false;
    it->second();
    return true;
  }
  void ListenForRequests(std::function<void()> onRequest) override {
    for (const std::string& name : mine_) registry_.listeners[name] = onRequest;
  }
  int attempts = 0;

 private:
  FakeInstanceRegistry& registry_;
  std::set<std::string> mine_;
};

}  // namespace platform
