// Whole observation cycles on the real system, against copies of a small program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sched.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <thread>

#include "base/text.h"
#include "engine/console_message_boxes.h"
#include "engine/observation_cycle.h"
#include "platform/linux/linux_system.h"
#include "tests/engine/test_support.h"
#include "tests/platform/child_process.h"

namespace {

namespace fs = std::filesystem;
using platformtest::AllowedLists;
using platformtest::ChildProcess;
using testing::ElementsAre;

class LinuxCycleTest : public testing::Test {
 protected:
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

  void Tick() { RunObservationCycle(watchList, snapshot, quickChanged, log, out.get()); }

  enginetest::ScratchDirectory scratch;
  std::vector<std::unique_ptr<ChildProcess>> children;  // killed before scratch is removed
  platform::LinuxSystem system{""};                      // an empty display name: no windows
  ConsoleMessageBoxes boxes;
  SystemSnapshot snapshot{system, boxes};
  WatchList watchList;
  QuickChangedPaths quickChanged;
  enginetest::CapturedStream out;
  fs::path logPath = scratch.path() / "mavrin.log";
  ActivityLog log{system, logPath.string(), out.get()};
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
  watchList.Append(WatchEntry{entryPath, 0x2});
  Tick();

  EXPECT_THAT(AllowedLists(threaded.pid()), ElementsAre("1"));
  EXPECT_THAT(AllowedLists(plain.pid()), ElementsAre("1"));
  EXPECT_THAT(AllowedLists(otherCase.pid()), ElementsAre("1"));
  EXPECT_THAT(AllowedLists(otherDir.pid()), ElementsAre("0-1"));
  EXPECT_THAT(AllowedLists(unrelated.pid()), ElementsAre("0-1"));

  const std::regex record("\\(\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2}\\) set affinity mask 0x00000002 to process \"" +
                          std::regex_replace(entryPath, std::regex("[.^$|()\\[\\]{}*+?\\\\]"), "\\$&") + "\"");
  std::vector<std::string> lines = enginetest::Lines(enginetest::ReadFile(logPath));
  ASSERT_EQ(lines.size(), 3u);
  for (const std::string& line : lines) EXPECT_TRUE(std::regex_match(line, record)) << line;
  const std::string echoed = "set affinity mask 0x00000002 to process \"" + entryPath + "\"\n";
  EXPECT_EQ(out.Text(), "observing...\n" + echoed + echoed + echoed);

  // Everything is in place now: the next cycle changes and logs nothing.
  Tick();
  EXPECT_EQ(enginetest::Lines(enginetest::ReadFile(logPath)).size(), 3u);
  EXPECT_EQ(out.Text(), "observing...\n" + echoed + echoed + echoed + "observing...\n");
  EXPECT_THAT(AllowedLists(otherDir.pid()), ElementsAre("0-1"));
}

TEST_F(LinuxCycleTest, FindsAProcessWhoseExecutableWasRemoved) {
  const fs::path watched = scratch.path() / "removed-worker";
  ChildProcess& child = Start(watched, 1);
  fs::remove(watched);
  watchList.Append(WatchEntry{ToLowerAsciiCopy(watched.string()), 0x1});
  Tick();
  EXPECT_THAT(AllowedLists(child.pid()), ElementsAre("0"));
  EXPECT_EQ(enginetest::Lines(enginetest::ReadFile(logPath)).size(), 1u);
}

TEST_F(LinuxCycleTest, AThreadThatGivesItselfEveryProcessorBackIsPinnedAgain) {
  const fs::path watched = scratch.path() / "escaper";
  ChildProcess& child = Start(watched, 2, "escape-once");
  watchList.Append(WatchEntry{ToLowerAsciiCopy(watched.string()), 0x2});
  Tick();
  // Its main thread keeps the entry's processor; one other thread takes both back.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (AllowedLists(child.pid()).count("0-1") == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_THAT(AllowedLists(child.pid()), testing::Contains("0-1"));
  Tick();
  EXPECT_THAT(AllowedLists(child.pid()), ElementsAre("1"));
  const std::vector<std::string> lines = enginetest::Lines(enginetest::ReadFile(logPath));
  ASSERT_FALSE(lines.empty());
  EXPECT_THAT(lines.back(), testing::HasSubstr(") set affinity mask 0x00000002 to process"));
}

TEST_F(LinuxCycleTest, PinsAProcessWhoseMainThreadEnded) {
  const fs::path watched = scratch.path() / "main-exits";
  fs::copy_file(MAVRIN_SLEEPER, watched);
  children.push_back(std::make_unique<ChildProcess>(watched.string(), std::vector<std::string>{"2", "main-exits"}));
  const pid_t pid = children.back()->pid();
  ASSERT_TRUE(platformtest::WaitUntilMainThreadEnded(pid, 2));
  watchList.Append(WatchEntry{ToLowerAsciiCopy(watched.string()), 0x2});
  Tick();
  Tick();
  EXPECT_THAT(AllowedLists(pid), ElementsAre("1"));
  EXPECT_EQ(enginetest::Lines(enginetest::ReadFile(logPath)).size(), 1u);
}

TEST_F(LinuxCycleTest, ARefusedMaskIsLoggedOnceAsAFailure) {
  const fs::path watched = scratch.path() / "refused";
  ChildProcess& child = Start(watched, 0);
  watchList.Append(WatchEntry{ToLowerAsciiCopy(watched.string()), 0x0});
  for (int i = 0; i < 3; ++i) Tick();
  EXPECT_THAT(AllowedLists(child.pid()), ElementsAre("0-1"));
  std::vector<std::string> lines = enginetest::Lines(enginetest::ReadFile(logPath));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_THAT(lines[0], testing::EndsWith(") failed to set affinity mask 0x00000000 to process \"" +
                                          ToLowerAsciiCopy(watched.string()) + "\""));
}

}  // namespace
