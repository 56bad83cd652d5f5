#pragma once
#include <functional>
#include <string>
#include <thread>

#include "platform/instance_guard.h"

namespace platform {

// A lock on a file in a directory only the user can write, taken and tested in one step and
// released by the kernel when the process ends, however it ends; beside it a socket on which a
// later start asks the running instance to come forward.
class LinuxInstanceGuard : public IInstanceGuard {
 public:
  // directory: where the lock and the socket live; empty: DefaultDirectory(). A directory that is
  // not the user's own and private is not used (the default is used instead).
  explicit LinuxInstanceGuard(std::string directory = {});
  ~LinuxInstanceGuard() override;
  LinuxInstanceGuard(const LinuxInstanceGuard&) = delete;
  LinuxInstanceGuard& operator=(const LinuxInstanceGuard&) = delete;

  bool TryAcquire(const std::string& name) override;
  bool AskHolderToComeForward(const std::string& name) override;
  void ListenForRequests(std::function<void()> onRequest) override;

  // The same place however the program was started, whatever the environment says: the login's
  // runtime directory /run/user/UID when it is the user's own and private, else a directory for
  // this host under the home directory of the password database (~/.cache/mavrin/HOST), made
  // private when missing. Never a shared name another user could take. Empty when neither can be had.
  static std::string DefaultDirectory();
  // Whether path is a directory that belongs to this user and that nobody else may write to.
  static bool IsPrivateDirectory(const std::string& path);
  const std::string& Directory() const { return directory_; }

 private:
  void StopListening();
  void Serve();

  std::string directory_;
  std::string socketPath_;
  int lockFd_ = -1;
  int listenFd_ = -1;
  int stopRead_ = -1;
  int stopWrite_ = -1;
  std::function<void()> onRequest_;
  std::thread listener_;
};

}  // namespace platform
