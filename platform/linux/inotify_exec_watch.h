#pragma once
// IExecWatch through inotify. An exec opens the file, which inotify reports as IN_OPEN to any
// watcher that may read the file; a file that may only be executed is watched through its
// directory instead, by name. The file's directory (or, while that does not exist, the deepest
// directory on the way that does) is watched for the coming and going of the next name on the way,
// so a file replaced by an upgrade (renamed over, deleted and created), moved away, or created later
// is watched again at once. The watch list
// holds paths in lower case; the files on disk may have capitals, so each directory on the way is
// read for names that equal the path's in lower case.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/process_table.h"

namespace platform {

class InotifyExecWatch final : public IExecWatch {
 public:
  InotifyExecWatch();
  ~InotifyExecWatch() override;
  InotifyExecWatch(const InotifyExecWatch&) = delete;
  InotifyExecWatch& operator=(const InotifyExecWatch&) = delete;

  void Watch(const std::vector<std::string>& paths) override;
  bool Complete() const override { return fd_ >= 0 && complete_; }
  Events Take() override;

  // Reads what the kernel has queued into the events Take gives; true when there is something to
  // take. For the main loop, which calls it whenever Descriptor() is readable.
  bool Collect();
  int Descriptor() const { return fd_; }
  // The inotify watches held (each file and each directory on the ways to them once).
  std::size_t WatchCount() const { return spots_.size(); }

 private:
  // What one inotify watch is for.
  struct Spot {
    std::string where;
    std::uint32_t mask = 0;
    // A file: the watched paths it stands for.
    std::vector<std::string> opened;
    // A directory: the watched paths of its execute-only files, by their names on disk.
    std::map<std::string, std::vector<std::string>> openedByName;
    // A directory: the lower-cased names whose coming and going may change what is to be watched.
    std::set<std::string> names;
  };

  // Sets the watches for every path anew, keeping those still needed (and their queued events).
  void Arm();
  void ArmPath(const std::string& path, std::unordered_map<int, Spot>& fresh,
               std::map<std::string, std::vector<std::string>>& listings);
  Spot* Add(const std::string& where, std::uint32_t mask, std::unordered_map<int, Spot>& fresh);
  void Note(const std::string& path);

  int fd_ = -1;
  std::vector<std::string> paths_;
  std::unordered_map<int, Spot> spots_;  // by watch descriptor
  bool complete_ = true;
  Events pending_;
};

}  // namespace platform
