#pragma once
// IFileChangeMonitor through inotify. The directory is watched rather than the file, since editors
// replace a file by renaming another over it (and `sed -i` does too), which a watch on the file
// itself would not outlive. A symbolic link's target directory is watched as well.
#include <string>
#include <vector>

#include "platform/file_change_monitor.h"

namespace platform {

class InotifyFileMonitor final : public IFileChangeMonitor {
 public:
  explicit InotifyFileMonitor(std::string path);
  ~InotifyFileMonitor() override;
  InotifyFileMonitor(const InotifyFileMonitor&) = delete;
  InotifyFileMonitor& operator=(const InotifyFileMonitor&) = delete;

  bool MayHaveChanged() override;

  // For a loop that watches Descriptor() and calls Collect whenever it is readable: once told so,
  // MayHaveChanged answers from what was collected and reads nothing itself, which saves a call a
  // tick when nothing changes.
  int Descriptor() const { return fd_; }
  void CollectedByLoop() { byLoop_ = true; }
  void Collect();

 private:
  struct Watch {
    int wd = -1;
    std::string directory;
    std::string name;  // the file's name in it
  };
  // (Re)arms the watches: the path's directory and, for a link, its target's.
  void Arm();

  std::string path_;
  int fd_ = -1;
  std::vector<Watch> watches_;
  bool armed_ = false;
  bool byLoop_ = false;
  bool changed_ = false;
};

}  // namespace platform
