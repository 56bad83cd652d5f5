#include "platform/linux/linux_instance_guard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace platform {

namespace {

// Per user and login: the runtime directory is private to the session; without one, a name that
// carries the user id keeps two users' instances apart.
std::string LockPath(const std::string& name) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/' && access(runtime, W_OK) == 0) {
    return std::string(runtime) + "/" + name + ".lock";
  }
  return "/tmp/" + name + "-" + std::to_string(getuid()) + ".lock";
}

}  // namespace

LinuxInstanceGuard::~LinuxInstanceGuard() {
  if (fd_ >= 0) close(fd_);
}

bool LinuxInstanceGuard::TryAcquire(const std::string& name) {
  if (fd_ >= 0) return true;
  const std::string path = LockPath(name);
  // O_NOFOLLOW: in a shared /tmp another user could plant a link to a file of ours.
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return true;  // no marker can be made: run unguarded, as the guard's failure is not fatal
  // flock is taken and tested in one step and dies with the process, so neither a race between two
  // starts nor a kill -9 can leave a stale or doubled instance.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

}  // namespace platform
