#pragma once
// Real processes for the integration tests. Every child is killed and reaped when its object goes
// away, and dies with the test process if that crashes (PR_SET_PDEATHSIG).
#include <dirent.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace platformtest {

// Where and how a child runs, beyond its arguments.
struct ChildSetup {
  std::string directory;                                         // empty: the test's own
  std::vector<std::pair<std::string, std::string>> environment;  // set (empty value: removed)
  std::string output;                                            // stdout and stderr into this file; empty: inherited
};

class ChildProcess {
 public:
  // Starts program with arguments; false from Started() if it could not be started.
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments, const ChildSetup& setup = {}) {
    std::vector<std::string> argvStrings{program};
    argvStrings.insert(argvStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& s : argvStrings) argv.push_back(s.data());
    argv.push_back(nullptr);
    pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(127);
      if (!setup.directory.empty() && chdir(setup.directory.c_str()) != 0) _exit(127);
      for (const auto& [name, value] : setup.environment) {
        if (value.empty()) {
          unsetenv(name.c_str());
        } else {
          setenv(name.c_str(), value.c_str(), 1);
        }
      }
      if (!setup.output.empty() && (freopen(setup.output.c_str(), "a", stdout) == nullptr ||
                                    freopen(setup.output.c_str(), "a", stderr) == nullptr)) {
        _exit(127);
      }
      execv(program.c_str(), argv.data());
      _exit(127);
    }
  }
  ~ChildProcess() { Kill(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool Started() const { return pid_ > 0; }

  void Kill() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }
  // The exit status (128 + signal for a killed child), or -1 when it has not ended within limit.
  int WaitExit(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (pid_ > 0) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (std::chrono::steady_clock::now() >= end) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }
  bool Running() const { return pid_ > 0 && kill(pid_, 0) == 0; }

 private:
  pid_t pid_ = -1;
};

inline std::vector<pid_t> ThreadsOf(pid_t pid) {
  std::vector<pid_t> tids;
  std::string dir = "/proc/" + std::to_string(pid) + "/task";
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d)) {
      if (e->d_name[0] >= '0' && e->d_name[0] <= '9') tids.push_back(std::atoi(e->d_name));
    }
    closedir(d);
  }
  return tids;
}

// Cpus_allowed_list of one thread, e.g. "0-1" or "1"; empty when it has ended.
inline std::string AllowedList(pid_t pid, pid_t tid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Cpus_allowed_list:", 0) == 0) {
      std::size_t start = line.find_first_not_of(" \t", sizeof("Cpus_allowed_list:") - 1);
      return start == std::string::npos ? std::string() : line.substr(start);
    }
  }
  return {};
}

// The Cpus_allowed_list values of all threads of a process.
inline std::set<std::string> AllowedLists(pid_t pid) {
  std::set<std::string> lists;
  for (pid_t tid : ThreadsOf(pid)) {
    std::string list = AllowedList(pid, tid);
    if (!list.empty()) lists.insert(list);
  }
  return lists;
}

// Waits until the child runs the given file with at least the given number of threads.
inline bool WaitUntilRunning(pid_t pid, const std::string& exe, std::size_t threads) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::error_code error;
  while (std::chrono::steady_clock::now() < deadline) {
    auto target = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
    if (!error && target.string() == exe && ThreadsOf(pid).size() >= threads) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

// Waits until the child's main thread has ended (its executable link reads as nothing) and the
// given number of other threads runs on.
inline bool WaitUntilMainThreadEnded(pid_t pid, std::size_t threads) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::error_code error;
  while (std::chrono::steady_clock::now() < deadline) {
    (void)std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
    if (error && ThreadsOf(pid).size() == threads + 1) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

}  // namespace platformtest
