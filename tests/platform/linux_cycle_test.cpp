// Whole observation cycles on the real system, against copies of a small program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <thread>

#include "base/text.h"
#include "engine/console_message_boxes.h"
#include "engine/incremental_observation.h"
#include "engine/observation_cycle.h"
#include "platform/linux/inotify_exec_watch.h"
#include "platform/linux/linux_system.h"
#include "platform/linux/proc_table.h"
#include "tests/engine/test_support.h"
#include "tests/platform/child_process.h"

namespace {

namespace fs = std::filesystem;
using platformtest::AllowedLists;
using platformtest::ChildProcess;
using testing::ElementsAre;

class LinuxCycleTest : public enginetest::CycleFixture<platform::LinuxSystem, ConsoleMessageBoxes> {
 protected:
  LinuxCycleTest() : CycleFixture("") {}  // an empty display name: no windows

  void SetUp() override {
    cpu_set_t own;
    CPU_ZERO(&own);
    if (!platform::OnlineProcessorSet().Contains({0, 1}) || sched_getaffinity(0, sizeof(own), &own) != 0 ||
        !CPU_ISSET(0, &own) || !CPU_ISSET(1, &own)) {
      GTEST_SKIP() << "needs processors 0 and 1";
    }
  }

  ChildProcess& Start(const fs::path& path, int threads, const std::string& mode = "") {
    fs::create_directories(path.parent_path());
    if (!fs::exists(path)) fs::copy_file(MAVRIN_SLEEPER, path);
    std::vector<std::string> arguments{std::to_string(threads)};
    if (!mode.empty()) arguments.push_back(mode);
    children.push_back(std::make_unique<ChildProcess>(path.string(), arguments));
    ChildProcess& child = *children.back();
    EXPECT_TRUE(platformtest::WaitUntilRunning(child.pid(), path.string(), static_cast<std::size_t>(threads) + 1));
    return child;
  }

  std::vector<std::unique_ptr<ChildProcess>> children;  // killed before scratch is removed
};

TEST_F(LinuxCycleTest, GivesEveryThreadOfEveryMatchingProcessTheMaskOnce) {
  const fs::path watched = scratch.path() / "Apps" / "Worker";
  ChildProcess& threaded = Start(watched, 3);
  ChildProcess& plain = Start(watched, 0);
  // Same path apart from letter case: the same executable by the program's case rule.
  ChildProcess& otherCase = Start(scratch.path() / "Apps" / "worker", 0);
  // Same name in another directory, and an unrelated program in the watched directory.
  ChildProcess& otherDir = Start(scratch.path() / "Elsewhere" / "Worker", 2);
  ChildProcess& unrelated = Start(scratch.path() / "Apps" / "Helper", 0);

  std::string entryPath = watched.string();
  ToLowerAscii(entryPath);
  Watch(entryPath, 0x2);
  Tick();

  EXPECT_THAT(AllowedLists(threaded.pid()), ElementsAre("1"));
  EXPECT_THAT(AllowedLists(plain.pid()), ElementsAre("1"));
  EXPECT_THAT(AllowedLists(otherCase.pid()), ElementsAre("1"));
  EXPECT_THAT(AllowedLists(otherDir.pid()), ElementsAre("0-1"));
  EXPECT_THAT(AllowedLists(unrelated.pid()), ElementsAre("0-1"));

  const std::regex record("\\(\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2}\\) set affinity mask 0x00000002 to process \"" +
                          std::regex_replace(entryPath, std::regex("[.^$|()\\[\\]{}*+?\\\\]"), "\\$&") + "\"");
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);
  for (const std::string& line : lines) EXPECT_TRUE(std::regex_match(line, record)) << line;
  const std::string echoed = "set affinity mask 0x00000002 to process \"" + entryPath + "\"\n";
  EXPECT_EQ(out.Text(), "observing...\n" + echoed + echoed + echoed);

  // Everything is in place now: the next cycle changes and logs nothing.
  Tick();
  EXPECT_EQ(LogLines().size(), 3u);
  EXPECT_EQ(out.Text(), "observing...\n" + echoed + echoed + echoed + "observing...\n");
  EXPECT_THAT(AllowedLists(otherDir.pid()), ElementsAre("0-1"));
}

TEST_F(LinuxCycleTest, FindsAProcessWhoseExecutableWasRemoved) {
  const fs::path watched = scratch.path() / "removed-worker";
  ChildProcess& child = Start(watched, 1);
  fs::remove(watched);
  Watch(ToLowerAsciiCopy(watched.string()), 0x1);
  Tick();
  EXPECT_THAT(AllowedLists(child.pid()), ElementsAre("0"));
  EXPECT_EQ(LogLines().size(), 1u);
}

TEST_F(LinuxCycleTest, AThreadThatGivesItselfEveryProcessorBackIsPinnedAgain) {
  const fs::path watched = scratch.path() / "escaper";
  ChildProcess& child = Start(watched, 2, "escape-once");
  Watch(ToLowerAsciiCopy(watched.string()), 0x2);
  Tick();
  // Its main thread keeps the entry's processor; one other thread takes both back.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (AllowedLists(child.pid()).count("0-1") == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_THAT(AllowedLists(child.pid()), testing::Contains("0-1"));
  Tick();
  EXPECT_THAT(AllowedLists(child.pid()), ElementsAre("1"));
  const std::vector<std::string> lines = LogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_THAT(lines.back(), testing::HasSubstr(") set affinity mask 0x00000002 to process"));
}

TEST_F(LinuxCycleTest, PinsAProcessWhoseMainThreadEnded) {
  const fs::path watched = scratch.path() / "main-exits";
  fs::copy_file(MAVRIN_SLEEPER, watched);
  children.push_back(std::make_unique<ChildProcess>(watched.string(), std::vector<std::string>{"2", "main-exits"}));
  const pid_t pid = children.back()->pid();
  ASSERT_TRUE(platformtest::WaitUntilMainThreadEnded(pid, 2));
  Watch(ToLowerAsciiCopy(watched.string()), 0x2);
  Tick();
  Tick();
  EXPECT_THAT(AllowedLists(pid), ElementsAre("1"));
  EXPECT_EQ(LogLines().size(), 1u);
}

TEST_F(LinuxCycleTest, ARefusedMaskIsLoggedOnceAsAFailure) {
  const fs::path watched = scratch.path() / "refused";
  ChildProcess& child = Start(watched, 0);
  Watch(ToLowerAsciiCopy(watched.string()), 0x0);
  for (int i = 0; i < 3; ++i) Tick();
  EXPECT_THAT(AllowedLists(child.pid()), ElementsAre("0-1"));
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_THAT(lines[0], testing::EndsWith(") failed to set affinity mask 0x00000000 to process \"" +
                                          ToLowerAsciiCopy(watched.string()) + "\""));
}

// The same cycles where a process table is kept and watched executables report their starts: ticks
// look only at what is new, and a start is pinned by its event, with no tick in between.
class IncrementalCycleTest : public LinuxCycleTest {
 protected:
  void Tick() { observation.Tick(watchList, quickChanged, log, out.get()); }

  // Waits for word from the exec watch, then acts on it as the program's loop does.
  bool HandleEvents() {
    pollfd ready{execWatch.Descriptor(), POLLIN, 0};
    const bool any = poll(&ready, 1, 5000) == 1;
    observation.HandleExecEvents(watchList, quickChanged, log);
    return any;
  }

  // A copy of the sleeper, "launcher", that on SIGUSR1 execs `watched` (also a copy) under its own
  // id; -1 when it did not start.
  pid_t StartLauncherOf(const fs::path& watched) {
    fs::copy_file(MAVRIN_SLEEPER, watched);
    const fs::path launcher = scratch.path() / "launcher";
    fs::copy_file(MAVRIN_SLEEPER, launcher);
    children.push_back(std::make_unique<ChildProcess>(launcher.string(),
                                                      std::vector<std::string>{"1", "exec-on-usr1", watched.string()}));
    const pid_t pid = children.back()->pid();
    return platformtest::WaitUntilRunning(pid, launcher.string(), 2) ? pid : -1;
  }

  platform::ProcTable table;
  platform::InotifyExecWatch execWatch;
  IncrementalObservation observation{
      system, table, &execWatch,
      IncrementalObservation::Clock{platform::SteadyMicroseconds, platform::PauseMicroseconds}};
};

TEST_F(IncrementalCycleTest, TicksKeepEveryMatchingProcessOnItsEntryAsTheFullTickDoes) {
  const fs::path watched = scratch.path() / "Apps" / "Worker";
  ChildProcess& threaded = Start(watched, 3);
  ChildProcess& otherCase = Start(scratch.path() / "Apps" / "worker", 0);
  ChildProcess& unrelated = Start(scratch.path() / "Apps" / "Helper", 0);
  ChildProcess& escaper = Start(scratch.path() / "Apps" / "Escaper", 2, "escape-once");
  Watch(ToLowerAsciiCopy(watched.string()), 0x2);
  Watch(ToLowerAsciiCopy((scratch.path() / "Apps" / "Escaper").string()), 0x2);
  Tick();
  EXPECT_THAT(AllowedLists(threaded.pid()), ElementsAre("1"));
  EXPECT_THAT(AllowedLists(otherCase.pid()), ElementsAre("1"));
  EXPECT_THAT(AllowedLists(unrelated.pid()), ElementsAre("0-1"));

  // A thread that takes its processors back is put back by the next tick, though nothing is new.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (AllowedLists(escaper.pid()).count("0-1") == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_THAT(AllowedLists(escaper.pid()), testing::Contains("0-1"));
  Tick();
  Tick();
  EXPECT_THAT(AllowedLists(escaper.pid()), ElementsAre("1"));
  EXPECT_EQ(LogLines().size(), 4u);  // one per change: two processes, the escaper twice

  // An entry changed by hand applies to the processes already known.
  watchList.Replace(0, WatchEntry{ToLowerAsciiCopy(watched.string()), 0x1});
  Tick();
  EXPECT_THAT(AllowedLists(threaded.pid()), ElementsAre("0"));
  EXPECT_EQ(LogLines().size(), 6u);
}

TEST_F(IncrementalCycleTest, AWatchedProgramIsPinnedAtItsStartWithoutATick) {
  const fs::path watched = scratch.path() / "Bin" / "Game";
  fs::create_directories(watched.parent_path());
  fs::copy_file(MAVRIN_SLEEPER, watched);
  Watch(ToLowerAsciiCopy(watched.string()), 0x2);
  Tick();
  ASSERT_TRUE(execWatch.Complete());

  ChildProcess& first = Start(watched, 2);
  ASSERT_TRUE(HandleEvents());
  EXPECT_THAT(AllowedLists(first.pid()), ElementsAre("1"));

  // An upgrade renames a new file over the old one: the new file is watched in its turn.
  const fs::path staged = scratch.path() / "Bin" / "Game.new";
  fs::copy_file(MAVRIN_SLEEPER, staged);
  fs::rename(staged, watched);
  HandleEvents();
  ChildProcess& upgraded = Start(watched, 1);
  ASSERT_TRUE(HandleEvents());
  EXPECT_THAT(AllowedLists(upgraded.pid()), ElementsAre("1"));

  // Deleted, then made again: watched again once it is there.
  fs::remove(watched);
  HandleEvents();
  fs::copy_file(MAVRIN_SLEEPER, watched);
  HandleEvents();
  ChildProcess& recreated = Start(watched, 1);
  ASSERT_TRUE(HandleEvents());
  EXPECT_THAT(AllowedLists(recreated.pid()), ElementsAre("1"));

  // An entry whose directory does not exist yet is watched once its file is there.
  const fs::path later = scratch.path() / "Later" / "Sub" / "Tool";
  Watch(ToLowerAsciiCopy(later.string()), 0x1);
  observation.Follow(watchList);
  fs::create_directories(later.parent_path());
  HandleEvents();
  fs::copy_file(MAVRIN_SLEEPER, later);
  HandleEvents();
  ChildProcess& installed = Start(later, 1);
  ASSERT_TRUE(HandleEvents());
  EXPECT_THAT(AllowedLists(installed.pid()), ElementsAre("0"));
  EXPECT_EQ(LogLines().size(), 4u);
  EXPECT_EQ(out.Text().find("observing...", 1), std::string::npos) << "a tick ran";
}

TEST_F(IncrementalCycleTest, AKnownProcessThatStartsAWatchedFileIsPinned) {
  const fs::path watched = scratch.path() / "watched";
  const pid_t pid = StartLauncherOf(watched);
  ASSERT_GT(pid, 0);
  Watch(ToLowerAsciiCopy(watched.string()), 0x1);
  Tick();
  Tick();
  EXPECT_THAT(AllowedLists(pid), ElementsAre("0-1"));

  kill(pid, SIGUSR1);
  ASSERT_TRUE(platformtest::WaitUntilRunning(pid, watched.string(), 1));
  HandleEvents();
  // Found by the event or, failing that, by the next tick's look at every process.
  if (AllowedLists(pid) != std::set<std::string>{"0"}) Tick();
  EXPECT_THAT(AllowedLists(pid), ElementsAre("0"));
  EXPECT_EQ(LogLines().size(), 1u);
}

// What no event tells of, the round finds: every known process is read again within a round of
// updates, while one that can never run another file costs nothing and one that lives on in its
// threads stays known.
TEST_F(IncrementalCycleTest, ARoundFindsAnExecUnderAKnownIdAndKeepsProcessesThatLiveOnInThreads) {
  const fs::path watched = scratch.path() / "watched";
  const pid_t execs = StartLauncherOf(watched);
  ASSERT_GT(execs, 0);
  const fs::path lingering = scratch.path() / "main-exits";
  fs::copy_file(MAVRIN_SLEEPER, lingering);
  children.push_back(std::make_unique<ChildProcess>(lingering.string(), std::vector<std::string>{"2", "main-exits"}));
  const pid_t lives = children.back()->pid();
  ASSERT_TRUE(platformtest::WaitUntilMainThreadEnded(lives, 2));

  platform::TableChanges changes;
  table.Update(platform::IProcessTable::Look::kEverything, changes);
  auto known = [&](pid_t pid) {
    std::string path;
    table.ForEach([&](const platform::TableProcess& p) {
      if (p.pid == static_cast<platform::ProcessId>(pid)) path = p.exePath;
    });
    return path;
  };
  ASSERT_EQ(known(execs), (scratch.path() / "launcher").string());
  ASSERT_EQ(known(lives), lingering.string());

  kill(execs, SIGUSR1);
  ASSERT_TRUE(platformtest::WaitUntilRunning(execs, watched.string(), 1));
  int updates = 0;
  bool found = false;
  for (; updates < 200 && !found; ++updates) {
    table.Update(platform::IProcessTable::Look::kRound, changes);
    for (const platform::TableProcess& p : changes.started) found |= p.pid == static_cast<platform::ProcessId>(execs);
    EXPECT_THAT(changes.ended, testing::Not(testing::Contains(static_cast<platform::ProcessId>(lives))));
  }
  EXPECT_TRUE(found);
  EXPECT_LE(updates, 62) << "a round takes about a minute of ticks";
  EXPECT_EQ(known(execs), watched.string());
  EXPECT_EQ(known(lives), lingering.string());
}

TEST_F(IncrementalCycleTest, AReusedProcessIdIsNotTakenForTheProgramThatHadIt) {
  const fs::path watched = scratch.path() / "old-owner";
  const fs::path other = scratch.path() / "new-owner";
  fs::copy_file(MAVRIN_SLEEPER, other);
  ChildProcess& owner = Start(watched, 0);
  const pid_t pid = owner.pid();
  Watch(ToLowerAsciiCopy(watched.string()), 0x2);
  // The newcomer is watched too: its threads are checked under the id whose old threads were.
  Watch(ToLowerAsciiCopy(other.string()), 0x1);
  Tick();
  Tick();
  ASSERT_THAT(AllowedLists(pid), ElementsAre("1"));
  owner.Kill();

  // Only one allowed to set the next id can hand the same id to another program at will.
  std::unique_ptr<ChildProcess> successor;
  for (int attempt = 0; attempt < 20 && !successor; ++attempt) {
    std::ofstream last("/proc/sys/kernel/ns_last_pid");
    if (!(last << (pid - 1) << std::flush)) GTEST_SKIP() << "cannot choose process ids here";
    last.close();
    auto child = std::make_unique<ChildProcess>(other.string(), std::vector<std::string>{"1"});
    if (child->pid() == pid) successor = std::move(child);
  }
  if (!successor) GTEST_SKIP() << "the id was taken by another process each time";
  ASSERT_TRUE(platformtest::WaitUntilRunning(pid, other.string(), 2));
  // Only its main thread where the entry wants it: the other is found by listing its threads.
  cpu_set_t first;
  CPU_ZERO(&first);
  CPU_SET(0, &first);
  ASSERT_EQ(sched_setaffinity(pid, sizeof first, &first), 0);
  Tick();
  Tick();
  EXPECT_THAT(AllowedLists(pid), ElementsAre("0"));
  EXPECT_EQ(LogLines().size(), 2u);
}

}  // namespace
