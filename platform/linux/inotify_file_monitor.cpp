#include "platform/linux/inotify_file_monitor.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/linux/inotify_events.h"

namespace platform {
namespace {

constexpr std::uint32_t kDirectoryEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE |
                                           IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

void Split(const std::string& path, std::string& directory, std::string& name) {
  const std::size_t slash = path.rfind('/');
  directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  name = slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

InotifyFileMonitor::InotifyFileMonitor(std::string path) : path_(std::move(path)) {
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  Arm();
}

InotifyFileMonitor::~InotifyFileMonitor() {
  if (fd_ >= 0) close(fd_);
}

void InotifyFileMonitor::Arm() {
  if (fd_ < 0) return;
  // Adding a watch that exists gives the same one back, with its queued events kept.
  std::vector<Watch> fresh(1);
  Split(path_, fresh[0].directory, fresh[0].name);
  fresh[0].wd = inotify_add_watch(fd_, fresh[0].directory.c_str(), kDirectoryEvents);
  // A link's target may live elsewhere (a folder of dotfiles, say): its edits happen there.
  struct stat st {};
  if (lstat(path_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* resolved = realpath(path_.c_str(), nullptr)) {
      Watch target;
      Split(resolved, target.directory, target.name);
      std::free(resolved);
      target.wd = inotify_add_watch(fd_, target.directory.c_str(), kDirectoryEvents);
      if (target.wd >= 0) fresh.push_back(target);
    }
  }
  for (const Watch& old : watches_) {
    bool kept = false;
    for (const Watch& watch : fresh) kept = kept || watch.wd == old.wd;
    if (!kept && old.wd >= 0) inotify_rm_watch(fd_, old.wd);
  }
  watches_ = std::move(fresh);
  armed_ = watches_[0].wd >= 0;
}

bool InotifyFileMonitor::MayHaveChanged() {
  if (fd_ < 0) return true;
  // Not armed: looked at again every time, until the directory is there to be watched.
  if (!byLoop_ || !armed_) Collect();
  return std::exchange(changed_, false);
}

void InotifyFileMonitor::Collect() {
  if (fd_ < 0) return;
  bool rearm = !armed_;
  if (!armed_) changed_ = true;
  ForEachInotifyEvent(fd_, [&](const inotify_event& event) {
    if (event.mask & IN_Q_OVERFLOW) {
      changed_ = true;
      return;
    }
    // The directory itself went or moved: whatever is in the path's place now is news.
    if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
      changed_ = true;
      rearm = true;
      return;
    }
    if (event.len == 0) return;
    for (std::size_t w = 0; w < watches_.size(); ++w) {
      if (watches_[w].wd != event.wd || watches_[w].name != event.name) continue;
      changed_ = true;
      // The path itself was replaced: it may be a link to elsewhere now, or no longer one.
      if (w == 0) rearm = true;
    }
  });
  if (rearm) Arm();
}

}  // namespace platform
