#pragma once
// An X server of our own (Xvfb) on a free display number, gone when the object is.
#include <poll.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/platform/child_process.h"

namespace platformtest {

inline constexpr char kXvfb[] = "/usr/bin/Xvfb";

class PrivateXServer {
 public:
  explicit PrivateXServer(const std::string& screen = "640x480x24") {
    int fds[2];
    if (pipe(fds) != 0) return;
    server_ = std::make_unique<ChildProcess>(
        kXvfb,
        std::vector<std::string>{"-displayfd", std::to_string(fds[1]), "-nolisten", "tcp", "-screen", "0", screen});
    close(fds[1]);
    std::string number;
    pollfd ready{fds[0], POLLIN, 0};
    while (poll(&ready, 1, 10000) > 0) {
      char c = 0;
      if (read(fds[0], &c, 1) != 1 || c == '\n') break;
      number += c;
    }
    close(fds[0]);
    if (!number.empty()) name_ = ":" + number;
  }
  bool Running() const { return !name_.empty(); }
  const std::string& Name() const { return name_; }
  void Stop() { server_.reset(); }

 private:
  std::unique_ptr<ChildProcess> server_;
  std::string name_;
};

}  // namespace platformtest
