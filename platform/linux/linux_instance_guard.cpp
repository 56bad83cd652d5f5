#include "platform/linux/linux_instance_guard.h"

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace platform {

namespace {

constexpr char kRequest[] = "forward\n";
constexpr char kAnswer[] = "ok\n";
// Long enough for a busy main loop to take the request, short enough that a hung holder does not
// keep a second start waiting for long.
constexpr int kExchangeTimeoutMs = 3000;

std::string HomeFromPasswordDatabase() {
  const long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(hint > 0 ? static_cast<std::size_t>(hint) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
      found->pw_dir == nullptr) {
    return {};
  }
  return found->pw_dir;
}

// One home can be shared by several machines (NFS); each machine runs its own instance.
std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  std::string host = name;
  for (char& c : host) {
    if (c == '/') c = '_';
  }
  return host;
}

void MakeDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return;
}

bool FitsSocketAddress(const std::string& path) { return path.size() < sizeof(sockaddr_un{}.sun_path); }

sockaddr_un SocketAddress(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

void SetTimeouts(int fd, int milliseconds) {
  timeval limit{};
  limit.tv_sec = milliseconds / 1000;
  limit.tv_usec = (milliseconds % 1000) * 1000;
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

// Both ends make sure the other is this same user: the directory is private, but a socket's
// peer can be told for certain.
bool PeerIsThisUser(int fd) {
  ucred peer{};
  socklen_t length = sizeof peer;
  return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == getuid();
}

bool WriteAll(int fd, const char* text) {
  std::size_t left = std::strlen(text);
  while (left > 0) {
    const ssize_t n = send(fd, text, left, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

// One line of at most a few bytes; empty on a timeout or a closed connection.
std::string ReadLine(int fd) {
  std::string line;
  char c = 0;
  while (line.size() < 32) {
    const ssize_t n = recv(fd, &c, 1, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return {};
    line += c;
    if (c == '\n') return line;
  }
  return {};
}

}  // namespace

std::string LinuxInstanceGuard::DefaultDirectory() {
  const std::string runtime = "/run/user/" + std::to_string(getuid());
  if (IsPrivateDirectory(runtime)) return runtime;
  const std::string home = HomeFromPasswordDatabase();
  if (home.empty() || home[0] != '/') return {};
  std::string dir = home + "/.cache";
  MakeDirectory(dir);
  dir += "/mavrin";
  MakeDirectory(dir);
  dir += "/" + HostName();
  MakeDirectory(dir);
  return IsPrivateDirectory(dir) ? dir : std::string();
}

bool LinuxInstanceGuard::IsPrivateDirectory(const std::string& path) {
  struct stat info {};
  if (path.empty() || stat(path.c_str(), &info) != 0) return false;
  return S_ISDIR(info.st_mode) && info.st_uid == getuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

LinuxInstanceGuard::LinuxInstanceGuard(std::string directory) {
  if (!directory.empty()) {
    MakeDirectory(directory);
    if (IsPrivateDirectory(directory)) directory_ = std::move(directory);
  }
  if (directory_.empty()) directory_ = DefaultDirectory();
}

LinuxInstanceGuard::~LinuxInstanceGuard() {
  StopListening();
  if (lockFd_ >= 0) close(lockFd_);
}

bool LinuxInstanceGuard::TryAcquire(const std::string& name) {
  if (lockFd_ >= 0) return true;
  if (directory_.empty()) return true;  // no private place at all: run unguarded rather than not at all
  const std::string path = directory_ + "/" + name + ".lock";
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return true;
  // flock is taken and tested in one step and dies with the process, so neither a race between two
  // starts nor a kill -9 can leave a stale or doubled instance.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  lockFd_ = fd;
  const std::string socketPath = directory_ + "/" + name + ".sock";
  if (FitsSocketAddress(socketPath)) socketPath_ = socketPath;
  return true;
}

bool LinuxInstanceGuard::AskHolderToComeForward(const std::string& name) {
  if (directory_.empty()) return false;
  const std::string path = directory_ + "/" + name + ".sock";
  if (!FitsSocketAddress(path)) return false;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  SetTimeouts(fd, kExchangeTimeoutMs);
  const sockaddr_un address = SocketAddress(path);
  bool answered = false;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 && PeerIsThisUser(fd) &&
      WriteAll(fd, kRequest)) {
    answered = ReadLine(fd) == kAnswer;
  }
  close(fd);
  return answered;
}

void LinuxInstanceGuard::ListenForRequests(std::function<void()> onRequest) {
  if (lockFd_ < 0 || listenFd_ >= 0 || !onRequest || socketPath_.empty()) return;
  // A socket left by a holder that was killed is stale: we hold the lock, so nobody else serves it.
  unlink(socketPath_.c_str());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  const sockaddr_un address = SocketAddress(socketPath_);
  int stop[2] = {-1, -1};
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(fd, 4) != 0 ||
      pipe2(stop, O_CLOEXEC) != 0) {
    close(fd);
    return;
  }
  listenFd_ = fd;
  stopRead_ = stop[0];
  stopWrite_ = stop[1];
  onRequest_ = std::move(onRequest);
  listener_ = std::thread([this] { Serve(); });
}

void LinuxInstanceGuard::StopListening() {
  if (listener_.joinable()) {
    const char stop = 1;
    while (write(stopWrite_, &stop, 1) < 0 && errno == EINTR) {
    }
    listener_.join();
  }
  if (listenFd_ >= 0) {
    close(listenFd_);
    listenFd_ = -1;
    // Only the holder ever binds the name, so the name is still ours to remove.
    if (!socketPath_.empty()) unlink(socketPath_.c_str());
  }
  if (stopRead_ >= 0) close(stopRead_);
  if (stopWrite_ >= 0) close(stopWrite_);
  stopRead_ = stopWrite_ = -1;
}

void LinuxInstanceGuard::Serve() {
  for (;;) {
    pollfd waits[2] = {{listenFd_, POLLIN, 0}, {stopRead_, POLLIN, 0}};
    if (poll(waits, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (waits[1].revents != 0) return;
    if ((waits[0].revents & POLLIN) == 0) continue;
    const int client = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    SetTimeouts(client, kExchangeTimeoutMs);
    if (PeerIsThisUser(client) && ReadLine(client) == kRequest) {
      onRequest_();
      WriteAll(client, kAnswer);
    }
    close(client);
  }
}

}  // namespace platform
