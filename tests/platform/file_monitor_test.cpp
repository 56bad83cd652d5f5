// The settings file's monitor against the ways editors and tools really write files.
#include "platform/linux/inotify_file_monitor.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/engine/test_support.h"

namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);  // truncate and write, in place
  out << text;
}

TEST(InotifyFileMonitor, NoticesEveryWayAFileIsRewrittenAndNothingElse) {
  enginetest::ScratchDirectory scratch;
  const fs::path file = scratch.path() / "mavrin.ini";
  Write(file, "[MAV_RIN]\n");
  platform::InotifyFileMonitor monitor(file.string());
  EXPECT_FALSE(monitor.MayHaveChanged());

  Write(file, "[MAV_RIN]\n001_process_path=/a\n");
  EXPECT_TRUE(monitor.MayHaveChanged()) << "truncated and written";
  EXPECT_FALSE(monitor.MayHaveChanged()) << "told once";

  Write(scratch.path() / ".mavrin.ini.swp", "[MAV_RIN]\n001_process_path=/b\n");
  EXPECT_FALSE(monitor.MayHaveChanged()) << "another file of the directory";
  fs::rename(scratch.path() / ".mavrin.ini.swp", file);
  EXPECT_TRUE(monitor.MayHaveChanged()) << "renamed over";

  ASSERT_EQ(0, std::system(("sed -i 's/b$/c/' '" + file.string() + "'").c_str()));
  EXPECT_TRUE(monitor.MayHaveChanged()) << "sed -i";
  EXPECT_EQ(enginetest::ReadFile(file), "[MAV_RIN]\n001_process_path=/c\n");

  { std::ifstream reading(file); }
  EXPECT_FALSE(monitor.MayHaveChanged()) << "reading changes nothing";
  ASSERT_EQ(0, chmod(file.c_str(), 0));
  EXPECT_TRUE(monitor.MayHaveChanged()) << "made unreadable";
  fs::remove(file);
  EXPECT_TRUE(monitor.MayHaveChanged()) << "removed";
  Write(file, "");
  EXPECT_TRUE(monitor.MayHaveChanged()) << "created again";
}

// The program's loop collects whenever the descriptor is readable; the tick then reads nothing.
TEST(InotifyFileMonitor, ALoopThatCollectsIsToldOfEachChangeOnce) {
  enginetest::ScratchDirectory scratch;
  const fs::path file = scratch.path() / "mavrin.ini";
  Write(file, "[MAV_RIN]\n");
  platform::InotifyFileMonitor monitor(file.string());
  monitor.CollectedByLoop();
  auto readable = [&] {
    pollfd ready{monitor.Descriptor(), POLLIN, 0};
    return poll(&ready, 1, 0) == 1;
  };
  EXPECT_FALSE(readable());
  EXPECT_FALSE(monitor.MayHaveChanged());

  Write(scratch.path() / "other.ini", "");
  ASSERT_TRUE(readable());
  monitor.Collect();
  EXPECT_FALSE(readable());
  EXPECT_FALSE(monitor.MayHaveChanged()) << "another file of the directory";

  fs::remove(file);
  Write(file, "[MAV_RIN]\n001_process_path=/a\n");
  ASSERT_TRUE(readable());
  monitor.Collect();
  monitor.Collect();
  EXPECT_TRUE(monitor.MayHaveChanged()) << "removed and made again";
  EXPECT_FALSE(monitor.MayHaveChanged()) << "told once";

  // Its directory goes: looked at on every question until it can be watched again.
  fs::remove_all(scratch.path());
  ASSERT_TRUE(readable());
  monitor.Collect();
  EXPECT_TRUE(monitor.MayHaveChanged());
  EXPECT_TRUE(monitor.MayHaveChanged()) << "nothing to watch: every look may find it";
  fs::create_directories(scratch.path());
  Write(file, "");
  EXPECT_TRUE(monitor.MayHaveChanged());
  EXPECT_FALSE(monitor.MayHaveChanged()) << "watched again";
  Write(file, "[MAV_RIN]\n");
  ASSERT_TRUE(readable());
  monitor.Collect();
  EXPECT_TRUE(monitor.MayHaveChanged());
}

TEST(InotifyFileMonitor, FollowsALinkToItsTargetAndARelativePath) {
  enginetest::ScratchDirectory scratch;
  fs::create_directory(scratch.path() / "dotfiles");
  const fs::path target = scratch.path() / "dotfiles" / "mavrin.ini";
  Write(target, "[MAV_RIN]\n");
  fs::create_directory(scratch.path() / "run");
  fs::create_symlink(target, scratch.path() / "run" / "mavrin.ini");

  const fs::path before = fs::current_path();
  fs::current_path(scratch.path() / "run");
  platform::InotifyFileMonitor monitor("./mavrin.ini");
  fs::current_path(before);

  Write(target, "[MAV_RIN]\n001_process_path=/a\n");
  EXPECT_TRUE(monitor.MayHaveChanged()) << "the target edited where it lives";
  Write(scratch.path() / "dotfiles" / "other.ini", "");
  EXPECT_FALSE(monitor.MayHaveChanged());

  // The link now points elsewhere: that file is the one to follow.
  const fs::path moved = scratch.path() / "moved.ini";
  Write(moved, "");
  fs::remove(scratch.path() / "run" / "mavrin.ini");
  fs::create_symlink(moved, scratch.path() / "run" / "mavrin.ini");
  EXPECT_TRUE(monitor.MayHaveChanged());
  Write(moved, "[MAV_RIN]\n");
  EXPECT_TRUE(monitor.MayHaveChanged());
}

}  // namespace
