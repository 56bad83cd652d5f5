#pragma once
// Tells cheaply whether a file may have changed on disk, so that the program reads it again only
// then: inotify on Linux, a look at the file's time stamp and size on Windows.
namespace platform {

class IFileChangeMonitor {
 public:
  virtual ~IFileChangeMonitor() = default;
  // Whether the file may have changed since the last call (the first call: since the monitor was
  // made): written, replaced by a rename, created, removed, its permissions changed. Never waits.
  // Where the system cannot watch the file, every call says it may have.
  virtual bool MayHaveChanged() = 0;
};

}  // namespace platform
