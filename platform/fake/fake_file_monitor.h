#pragma once
// A file monitor for tests: says "may have changed" when the test has set `changed`, once.
#include <utility>

#include "platform/file_change_monitor.h"

namespace platform {

class FakeFileMonitor final : public IFileChangeMonitor {
 public:
  bool MayHaveChanged() override {
    ++asked;
    return std::exchange(changed, false);
  }

  bool changed = false;
  int asked = 0;
};

}  // namespace platform
