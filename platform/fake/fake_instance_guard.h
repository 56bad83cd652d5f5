#pragma once
#include <set>
#include <string>

#include "platform/instance_guard.h"

namespace platform {

// Instance markers shared by every guard made on the same registry, as the system's named objects
// are shared by the processes of one login.
class FakeInstanceRegistry {
 public:
  std::set<std::string> held;
};

class FakeInstanceGuard : public IInstanceGuard {
 public:
  explicit FakeInstanceGuard(FakeInstanceRegistry& registry) : registry_(registry) {}
  ~FakeInstanceGuard() override {
    for (const std::string& name : mine_) registry_.held.erase(name);
  }
  bool TryAcquire(const std::string& name) override {
    ++attempts;
    if (mine_.count(name) != 0) return true;
    if (!registry_.held.insert(name).second) return false;
    mine_.insert(name);
    return true;
  }
  int attempts = 0;

 private:
  FakeInstanceRegistry& registry_;
  std::set<std::string> mine_;
};

}  // namespace platform
