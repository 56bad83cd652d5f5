#include "platform/win32/timestamp_file_monitor.h"

#include <windows.h>

#include <utility>

namespace platform {

TimestampFileMonitor::TimestampFileMonitor(std::string path) : path_(std::move(path)), last_(Look()) {}

TimestampFileMonitor::Stamp TimestampFileMonitor::Look() const {
  Stamp stamp;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path_.c_str(), GetFileExInfoStandard, &data)) return stamp;
  stamp.exists = true;
  stamp.attributes = data.dwFileAttributes;
  stamp.size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  stamp.written =
      (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
  return stamp;
}

bool TimestampFileMonitor::MayHaveChanged() {
  Stamp now = Look();
  const bool changed = !(now == last_);
  last_ = now;
  return changed;
}

}  // namespace platform
