#pragma once
// IFileChangeMonitor by the file's time stamp, size and attributes, looked at on each call: a
// look costs one attribute query, and a program that asks once a second notices an edit within it.
#include <string>

#include "platform/file_change_monitor.h"

namespace platform {

class TimestampFileMonitor final : public IFileChangeMonitor {
 public:
  explicit TimestampFileMonitor(std::string path);
  bool MayHaveChanged() override;

 private:
  struct Stamp {
    bool exists = false;
    unsigned long attributes = 0;
    unsigned long long size = 0;
    unsigned long long written = 0;
    friend bool operator==(const Stamp&, const Stamp&) = default;
  };
  Stamp Look() const;

  std::string path_;
  Stamp last_;
};

}  // namespace platform
