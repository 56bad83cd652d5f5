// Executable paths can hold any byte but NUL. Real processes started from files with a line feed,
// "%n", quotes, brackets and invalid UTF-8 in their names are watched and pinned: each gets one log
// record that stays one line, and the settings file keeps its structure, refusing only what it
// cannot hold.
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "engine/console_message_boxes.h"
#include "engine/observation_cycle.h"
#include "platform/linux/ini_file.h"
#include "platform/linux/linux_system.h"
#include "settings/settings_file.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// A copy of sleep started from the given file; killed and reaped whatever happens.
class Sleeper {
 public:
  explicit Sleeper(const std::string& file) {
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(127);
      execl(file.c_str(), file.c_str(), "60", static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~Sleeper() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  Sleeper(const Sleeper&) = delete;
  Sleeper& operator=(const Sleeper&) = delete;
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

bool RunsFile(pid_t pid, const std::string& file) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    std::error_code error;
    if (fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", error).string() == file) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

int FirstProcessor() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0 || CPU_COUNT(&set) < 2) return -1;
  for (int c = 0; c < 32; ++c) {
    if (CPU_ISSET(c, &set)) return c;
  }
  return -1;
}

std::string Diagnostics(WatchList& list, platform::IniFile& file) {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* diag = open_memstream(&text, &size);
  SerializeWatchList(list, file, true, diag);
  std::fclose(diag);
  std::string lines(text, size);
  std::free(text);
  return lines;
}

TEST(HostilePaths, RealProcessesFromHostileFileNamesArePinnedLoggedOnceAndSavedSafely) {
  const int cpu = FirstProcessor();
  if (cpu < 0) GTEST_SKIP() << "needs two processors";
  TempDir dir;
  ASSERT_TRUE(dir.Ok());
  // One name the settings file cannot hold (a line feed), and one it can, with everything else
  // that could break a line, a format or a section.
  const std::string withLineFeed = dir.File("Line\nFeed %n%s.bin");
  const std::string withoutLineFeed = dir.File("q\"uo'te [MAV_RIN] a=b ;%n%s%08X \xff\xfe\xc3 tab\there");
  for (const std::string& file : {withLineFeed, withoutLineFeed}) {
    fs::copy_file("/bin/sleep", file);
  }
  Sleeper first(withLineFeed);
  Sleeper second(withoutLineFeed);
  ASSERT_TRUE(RunsFile(first.Pid(), withLineFeed));
  ASSERT_TRUE(RunsFile(second.Pid(), withoutLineFeed));

  WatchList list;
  list.Append({"/before", 1});
  list.Append({ToLowerAsciiCopy(withLineFeed), AffinityMask{1} << cpu});
  list.Append({ToLowerAsciiCopy(withoutLineFeed), AffinityMask{1} << cpu});
  list.Append({"/after", 2});

  platform::LinuxSystem system;
  ConsoleMessageBoxes boxes(nullptr);
  SystemSnapshot snapshot(system, boxes);
  const std::string logPath = dir.File("mavrin.log");
  ActivityLog log(system, logPath, nullptr);
  for (int tick = 0; tick < 3; ++tick) RunObservationCycle(list, snapshot, {}, log, nullptr);

  // One record per process, each a single line, the control byte escaped, "%n" as it stands.
  const std::string records = ReadFileBytes(logPath);
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = records.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(records.substr(start, end - start));
  }
  ASSERT_EQ(lines.size(), 2u) << records;
  char head[64];
  std::snprintf(head, sizeof head, ") set affinity mask 0x%08X to process \"", 1u << cpu);
  EXPECT_NE(records.find(head + EscapeForLog(ToLowerAsciiCopy(withLineFeed)) + "\"\n"), std::string::npos) << records;
  EXPECT_NE(records.find("line\\x0Afeed %n%s.bin\"\n"), std::string::npos) << records;
  EXPECT_NE(records.find(head + EscapeForLog(ToLowerAsciiCopy(withoutLineFeed)) + "\"\n"), std::string::npos);

  // The settings file refuses the path with the line feed, says so, and keeps everything else.
  platform::IniFile file(dir.File("mavrin.ini"));
  const std::string diag = Diagnostics(list, file);
  EXPECT_NE(diag.find("line\nfeed %n%s.bin, " + std::to_string(1 << cpu) + "\n failed. (process)\n"), std::string::npos)
      << diag;
  EXPECT_EQ(diag.find(" failed. (mask)"), std::string::npos);
  WatchList loaded;
  SerializeWatchList(loaded, file, false, nullptr);
  WatchList expected;
  expected.Append(list[0]);
  expected.Append(list[2]);
  expected.Append(list[3]);
  EXPECT_EQ(loaded, expected);

  // Still one section, and every line of it a slot key.
  const std::string saved = ReadFileBytes(dir.File("mavrin.ini"));
  std::size_t sections = 0, keys = 0;
  for (std::size_t start = 0, end; (end = saved.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = saved.substr(start, end - start);
    if (!line.empty() && line.front() == '[')
      ++sections;
    else if (line.size() > 4 && line[3] == '_' && line.find('=') != std::string::npos)
      ++keys;
  }
  EXPECT_EQ(sections, 1u) << saved;
  EXPECT_EQ(keys, 200u) << saved;
}

}  // namespace
