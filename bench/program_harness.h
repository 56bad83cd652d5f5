#pragma once
// Running the real program from a harness: started without a display in a scratch directory, its
// output in a file there, and what /proc tells of it and of other processes.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace harness {

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A field of /proc/PID/status ("Cpus_allowed_list", "VmRSS"), empty when it cannot be read.
inline std::string StatusField(pid_t pid, const char* field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  const std::string prefix = std::string(field) + ":";
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(prefix, 0) == 0) {
      const std::size_t start = line.find_first_not_of(" \t", prefix.size());
      return start == std::string::npos ? std::string() : line.substr(start);
    }
  }
  return {};
}

// Starts argv[0] with its standard output and error in `out` (/dev/null when empty). With a
// working directory it runs as the program does for a user without a display: there, with its own
// runtime directory. The child dies with the harness.
inline pid_t Start(const std::vector<std::string>& argv, const std::filesystem::path& cwd,
                   const std::filesystem::path& runtime, const std::filesystem::path& out) {
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid != 0) return pid;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  if (!cwd.empty()) {
    if (chdir(cwd.c_str()) != 0) _exit(127);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("MAVRIN_INSTANCE_DIR", runtime.c_str(), 1);
  }
  const int fd = open(out.empty() ? "/dev/null" : out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd >= 0) {
    dup2(fd, 1);
    dup2(fd, 2);
    close(fd);
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  _exit(127);
}

// The program's ticks as it counts them: the "observing..." lines of its output so far.
class TickCounter {
 public:
  explicit TickCounter(std::filesystem::path out) : path_(std::move(out)) {}
  long Update() {
    std::ifstream in(path_, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset_));
    std::string chunk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Only whole lines count; a part line waits for the next look.
    const std::size_t end = chunk.rfind('\n');
    if (end == std::string::npos) return ticks_;
    chunk.resize(end + 1);
    offset_ += chunk.size();
    static const std::string kLine = "observing...\n";
    for (std::size_t at = chunk.find(kLine); at != std::string::npos; at = chunk.find(kLine, at + kLine.size())) ++ticks_;
    return ticks_;
  }
  long Ticks() const { return ticks_; }

 private:
  std::filesystem::path path_;
  std::size_t offset_ = 0;
  long ticks_ = 0;
};

}  // namespace harness
