#pragma once
// Running the real program from a harness: started without a display in a scratch directory, its
// output in a file there, and what /proc tells of it and of other processes.
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
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

// Copies what comes through the pipe to writeFd until the writing end closes; it dies with the
// harness. A process of its own, so that its work is nobody's measured time.
inline pid_t StartRelay(const int (&ends)[2], int writeFd) {
  const pid_t parent = getpid();
  if (const pid_t pid = fork(); pid != 0) return pid;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(0);
  close(ends[1]);
  const int readFd = ends[0];
  char buffer[4096];
  for (ssize_t n; (n = read(readFd, buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || write(writeFd, buffer, static_cast<std::size_t>(n)) != n) break;
  }
  _exit(0);
}

// Starts argv[0] with its standard output and error in `out` (/dev/null when empty). With a
// working directory it runs as the program does for a user without a display: there, with its own
// runtime directory. The child dies with the harness. With relay, the output reaches `out` through
// a pipe, as it reaches a terminal or the session's journal, so that the program's own time does
// not hold what a file system charges for each line written to a file; the relay that copies it
// (to be reaped once the program has ended) goes into *relay.
inline pid_t Start(const std::vector<std::string>& argv, const std::filesystem::path& cwd,
                   const std::filesystem::path& runtime, const std::filesystem::path& out, pid_t* relay = nullptr) {
  const pid_t parent = getpid();
  // Emptied before the child exists: a counter that reads it as soon as this returns must not find
  // the ticks of a program that ran before in the same place.
  int fd = open(out.empty() ? "/dev/null" : out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  int ends[2] = {-1, -1};
  if (relay != nullptr && fd >= 0 && pipe2(ends, O_CLOEXEC) == 0) {
    *relay = StartRelay(ends, fd);
    close(ends[0]);
    close(fd);
    fd = ends[1];
  }
  const pid_t pid = fork();
  if (pid != 0) {
    if (fd >= 0) close(fd);
    return pid;
  }
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  if (!cwd.empty()) {
    if (chdir(cwd.c_str()) != 0) _exit(127);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("MAVRIN_INSTANCE_DIR", runtime.c_str(), 1);
  }
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
    for (std::size_t at = chunk.find(kLine); at != std::string::npos; at = chunk.find(kLine, at + kLine.size()))
      ++ticks_;
    return ticks_;
  }
  long Ticks() const { return ticks_; }

 private:
  std::filesystem::path path_;
  std::size_t offset_ = 0;
  long ticks_ = 0;
};

// The processes on the system: the numeric entries of /proc.
inline std::size_t CountProcesses() {
  std::size_t count = 0;
  if (DIR* dir = opendir("/proc")) {
    while (const dirent* entry = readdir(dir)) count += entry->d_name[0] >= '1' && entry->d_name[0] <= '9';
    closedir(dir);
  }
  return count;
}

// The id the kernel allocated last (processes and threads alike); 0 when it cannot be read.
inline long LastAllocatedId() {
  std::ifstream last("/proc/sys/kernel/ns_last_pid");
  long id = 0;
  return last >> id ? id : 0;
}

// Idle children (forks of the harness, so none runs a watched file), killed and reaped when this
// goes away; they also die with the harness.
class IdleProcesses {
 public:
  IdleProcesses() = default;
  explicit IdleProcesses(int count) { Add(count); }
  ~IdleProcesses() {
    for (pid_t pid : pids_) kill(pid, SIGKILL);
    for (pid_t pid : pids_) waitpid(pid, nullptr, 0);
  }
  IdleProcesses(const IdleProcesses&) = delete;
  IdleProcesses& operator=(const IdleProcesses&) = delete;

  // Starts count more; false when the system would not start them all.
  bool Add(int count) {
    const pid_t parent = getpid();
    for (int i = 0; i < count; ++i) {
      const pid_t pid = fork();
      if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(0);
        for (;;) pause();
      }
      if (pid < 0) {
        std::fprintf(stderr, "could only start %d of %d processes\n", i, count);
        return false;
      }
      pids_.push_back(pid);
    }
    return true;
  }
  // Tops the system up to `total` processes.
  bool FillTo(std::size_t total) {
    const std::size_t now = CountProcesses();
    return now >= total || Add(static_cast<int>(total - now));
  }
  std::size_t Count() const { return pids_.size(); }

 private:
  std::vector<pid_t> pids_;
};

// The least work any look at every process must do, which each figure is measured against: list
// /proc, read each executable link and each mask. Returns the processes it could read.
inline std::size_t BareWalk() {
  std::size_t listed = 0;
  const int procFd = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (procFd < 0) return 0;
  DIR* dir = fdopendir(procFd);
  if (dir == nullptr) {
    close(procFd);
    return 0;
  }
  char link[4096];
  char name[300];
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    std::snprintf(name, sizeof(name), "%s/exe", entry->d_name);
    if (readlinkat(procFd, name, link, sizeof(link)) <= 0) continue;
    cpu_set_t set;
    if (sched_getaffinity(std::atoi(entry->d_name), sizeof(set), &set) == 0) ++listed;
  }
  closedir(dir);
  return listed;
}

// Processor time of every thread of the process so far, in nanoseconds (from schedstat, which
// counts to the nanosecond where /proc/PID/stat counts in ticks).
inline long long ThreadsCpuNs(pid_t pid) {
  long long total = 0;
  const std::string task = "/proc/" + std::to_string(pid) + "/task";
  if (DIR* dir = opendir(task.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
      std::ifstream stat(task + "/" + entry->d_name + "/schedstat");
      long long ns = 0;
      if (stat >> ns) total += ns;
    }
    closedir(dir);
  }
  return total;
}

// The processors this process may use, lowest first.
inline std::vector<int> OwnProcessors() {
  std::vector<int> cpus;
  cpu_set_t own;
  CPU_ZERO(&own);
  if (sched_getaffinity(0, sizeof own, &own) != 0) return cpus;
  for (int c = 0; c < CPU_SETSIZE; ++c) {
    if (CPU_ISSET(c, &own)) cpus.push_back(c);
  }
  return cpus;
}

inline std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  }
  return text;
}

// Waits until the program has ticked `ticks` times, or gives false after `seconds` or when it ended.
inline bool WaitForTicks(TickCounter& counter, long ticks, pid_t program, int seconds) {
  for (int waited = 0; waited < seconds * 50; ++waited) {
    if (counter.Update() >= ticks) return true;
    if (waitpid(program, nullptr, WNOHANG) != 0) return false;
    usleep(20000);
  }
  return counter.Update() >= ticks;
}

}  // namespace harness
