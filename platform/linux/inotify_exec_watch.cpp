#include "platform/linux/inotify_exec_watch.h"

#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <utility>

#include "platform/linux/inotify_events.h"

namespace platform {

namespace {

// A directory on the way to a watched path: what may change the way, and the directory itself.
constexpr std::uint32_t kWayEvents =
    IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr std::uint32_t kNameEvents = IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE;
// Two spellings that differ only in case can each branch into more; past this many the path is
// not followed further (and the watch is not complete).
constexpr std::size_t kMaxWays = 16;

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  }
  return text;
}

std::string Join(const std::string& directory, const std::string& name) {
  return directory == "/" ? "/" + name : directory + "/" + name;
}

// The names of a path, or nothing when the path cannot be an executable's as the kernel reports
// it: relative, or with empty, "." or ".." parts.
std::vector<std::string> Parts(const std::string& path) {
  std::vector<std::string> parts;
  if (path.size() < 2 || path[0] != '/') return {};
  std::size_t start = 1;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return {};
    parts.push_back(std::move(part));
    start = end + 1;
  }
  return parts;
}

}  // namespace

InotifyExecWatch::InotifyExecWatch() { fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC); }

InotifyExecWatch::~InotifyExecWatch() {
  if (fd_ >= 0) close(fd_);
}

void InotifyExecWatch::Watch(const std::vector<std::string>& paths) {
  paths_ = paths;
  std::sort(paths_.begin(), paths_.end());
  paths_.erase(std::unique(paths_.begin(), paths_.end()), paths_.end());
  Arm();
}

InotifyExecWatch::Spot* InotifyExecWatch::Add(const std::string& where, std::uint32_t mask,
                                              std::unordered_map<int, Spot>& fresh) {
  // Added to what the watch already has: one file or directory may be reached by two ways.
  const int wd = inotify_add_watch(fd_, where.c_str(), mask | IN_MASK_ADD | IN_DONT_FOLLOW);
  if (wd < 0) {
    complete_ = false;
    return nullptr;
  }
  Spot& spot = fresh[wd];
  if (spot.where.empty()) spot.where = where;
  spot.mask |= mask;
  return &spot;
}

void InotifyExecWatch::ArmPath(const std::string& path, std::unordered_map<int, Spot>& fresh,
                               std::map<std::string, std::vector<std::string>>& listings) {
  const std::vector<std::string> parts = Parts(path);
  std::vector<std::string> ways{"/"};
  for (std::size_t i = 0; i < parts.size() && !ways.empty(); ++i) {
    const bool last = i + 1 == parts.size();
    std::vector<std::string> next;
    for (const std::string& directory : ways) {
      // Only the deepest directory on the way that exists is watched for the next name: the file's
      // own, or the one where the way ends for now. A watch on every directory above would wake the
      // program for every file anyone makes in /tmp, say. The file's own directory is watched before
      // it is read, so a file that comes meanwhile is reported, not missed.
      if (last) {
        if (Spot* way = Add(directory, kWayEvents, fresh)) way->names.insert(parts[i]);
      }
      auto listing = listings.find(directory);
      if (listing == listings.end()) {
        listing = listings.emplace(directory, std::vector<std::string>()).first;
        if (DIR* dir = opendir(directory.c_str())) {
          while (const dirent* entry = readdir(dir)) listing->second.emplace_back(entry->d_name);
          closedir(dir);
        } else {
          // Not readable: only the name as written can be looked up, not its other spellings.
          complete_ = false;
          listing->second.push_back(parts[i]);
        }
      }
      const std::size_t before = next.size();
      for (const std::string& name : listing->second) {
        if (Lower(name) != parts[i]) continue;
        const std::string full = Join(directory, name);
        struct stat st {};
        // The kernel reports an executable's path without symbolic links: a way through one never
        // names a running program.
        if (lstat(full.c_str(), &st) != 0) continue;
        if (!last) {
          if (S_ISDIR(st.st_mode)) next.push_back(full);
          continue;
        }
        if (!S_ISREG(st.st_mode)) continue;
        if (access(full.c_str(), R_OK) == 0) {
          if (Spot* file = Add(full, IN_OPEN, fresh)) file->opened.push_back(path);
        } else if (Spot* dir = Add(directory, kWayEvents | IN_OPEN, fresh)) {
          // Execute-only: its opens are reported to the directory, by name.
          dir->openedByName[name].push_back(path);
        }
      }
      if (!last && next.size() == before) {
        // The way ends here: watched for the name to come, then looked at once more for one that
        // came before the watch was set.
        if (Spot* way = Add(directory, kWayEvents, fresh)) way->names.insert(parts[i]);
        struct stat st {};
        if (lstat(Join(directory, parts[i]).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
          next.push_back(Join(directory, parts[i]));
        }
      }
    }
    if (next.size() > kMaxWays) {
      next.resize(kMaxWays);
      complete_ = false;
    }
    ways = std::move(next);
  }
}

void InotifyExecWatch::Arm() {
  if (fd_ < 0) return;
  complete_ = true;
  std::unordered_map<int, Spot> fresh;
  std::map<std::string, std::vector<std::string>> listings;
  for (const std::string& path : paths_) ArmPath(path, fresh, listings);
  for (auto& [wd, spot] : fresh) {
    // IN_MASK_ADD only ever adds: a watch that needs less than before is set anew.
    auto old = spots_.find(wd);
    if (old != spots_.end() && (old->second.mask & ~spot.mask) != 0) {
      inotify_add_watch(fd_, spot.where.c_str(), spot.mask | IN_DONT_FOLLOW);
    }
  }
  for (const auto& [wd, spot] : spots_) {
    if (fresh.count(wd) == 0) inotify_rm_watch(fd_, wd);
  }
  spots_ = std::move(fresh);
}

void InotifyExecWatch::Note(const std::string& path) {
  if (std::find(pending_.opened.begin(), pending_.opened.end(), path) == pending_.opened.end()) {
    pending_.opened.push_back(path);
  }
}

bool InotifyExecWatch::Collect() {
  if (fd_ < 0) return false;
  bool rearm = false;
  ForEachInotifyEvent(fd_, [&](const inotify_event& event) {
    if (event.mask & IN_Q_OVERFLOW) {
      // Lost events may have been anything, a replaced file included.
      pending_.lookAtEverything = true;
      rearm = true;
      return;
    }
    auto it = spots_.find(event.wd);
    if (it == spots_.end()) return;
    const Spot& spot = it->second;
    if (event.mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) rearm = true;
    const std::string name = event.len > 0 ? std::string(event.name) : std::string();
    if (event.mask & IN_OPEN) {
      if (name.empty()) {
        for (const std::string& path : spot.opened) Note(path);
      } else if (auto opened = spot.openedByName.find(name); opened != spot.openedByName.end()) {
        for (const std::string& path : opened->second) Note(path);
      }
    }
    if ((event.mask & kNameEvents) && !name.empty() && spot.names.count(Lower(name)) != 0) rearm = true;
  });
  if (rearm) {
    Arm();
    // Whatever started while a file was not watched had no event.
    pending_.lookAtEverything = true;
  }
  return !pending_.opened.empty() || pending_.lookAtEverything;
}

IExecWatch::Events InotifyExecWatch::Take() {
  Collect();
  return std::exchange(pending_, Events{});
}

}  // namespace platform
