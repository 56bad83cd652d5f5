// The Linux process calls against real processes started from copies of a small program.
#include "platform/linux/proc_processes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "tests/engine/test_support.h"
#include "tests/platform/child_process.h"

namespace {

namespace fs = std::filesystem;
using platform::ProcProcesses;
using platformtest::AllowedList;
using platformtest::AllowedLists;
using platformtest::ChildProcess;
using platformtest::ThreadsOf;
using platformtest::WaitUntilRunning;
using testing::ElementsAre;

class ProcProcessesTest : public testing::Test {
 protected:
  // A copy of the sleeper at dir/name, started with the given arguments.
  std::unique_ptr<ChildProcess> Start(const fs::path& dir, const std::string& name, int threads,
                                      const std::vector<std::string>& extra = {}) {
    fs::create_directories(dir);
    fs::path copy = dir / name;
    if (!fs::exists(copy)) fs::copy_file(MAVRIN_SLEEPER, copy);
    std::vector<std::string> arguments{std::to_string(threads)};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    auto child = std::make_unique<ChildProcess>(copy.string(), arguments);
    EXPECT_TRUE(child->Started());
    EXPECT_TRUE(WaitUntilRunning(child->pid(), copy.string(), static_cast<std::size_t>(threads) + 1));
    return child;
  }

  // Processors 0 and 1 online and ours to use; the mask tests need both.
  static bool TwoProcessors() {
    cpu_set_t own;
    CPU_ZERO(&own);
    return platform::OnlineProcessorSet().Contains({0, 1}) && sched_getaffinity(0, sizeof(own), &own) == 0 &&
           CPU_ISSET(0, &own) && CPU_ISSET(1, &own);
  }

  enginetest::ScratchDirectory scratch;
  ProcProcesses processes;
};

TEST_F(ProcProcessesTest, SnapshotNamesProcessesByTheirExecutableInItsOriginalCase) {
  auto upper = Start(scratch.path() / "one", "Sleeper-Copy", 0);
  auto lower = Start(scratch.path() / "one", "sleeper-copy", 0);
  auto other = Start(scratch.path() / "two", "Sleeper-Copy", 0);
  std::vector<platform::ProcessEntry> entries;
  ASSERT_TRUE(processes.SnapshotProcesses(entries));
  auto find = [&](pid_t pid) -> const platform::ProcessEntry* {
    for (const auto& e : entries) {
      if (e.th32ProcessID == static_cast<platform::ProcessId>(pid)) return &e;
    }
    return nullptr;
  };
  ASSERT_NE(find(upper->pid()), nullptr);
  ASSERT_NE(find(lower->pid()), nullptr);
  ASSERT_NE(find(other->pid()), nullptr);
  EXPECT_STREQ(find(upper->pid())->szExeFile, "Sleeper-Copy");
  EXPECT_STREQ(find(lower->pid())->szExeFile, "sleeper-copy");
  // Our own process is there; kernel threads (no executable) are not.
  EXPECT_NE(find(getpid()), nullptr);
  EXPECT_EQ(find(2), nullptr);

  for (const auto& [child, path] : {std::pair{upper.get(), scratch.path() / "one" / "Sleeper-Copy"},
                                    std::pair{other.get(), scratch.path() / "two" / "Sleeper-Copy"}}) {
    platform::ProcessHandle handle =
        processes.OpenProcess(platform::kListRights, static_cast<platform::ProcessId>(child->pid()));
    ASSERT_NE(handle, platform::kNoProcess);
    EXPECT_EQ(processes.GetProcessImagePath(handle), path.string());
    processes.CloseHandle(handle);
  }
}

TEST_F(ProcProcessesTest, ARemovedExecutableKeepsItsPath) {
  auto removed = Start(scratch.path(), "gone-soon", 0);
  fs::remove(scratch.path() / "gone-soon");
  // A file whose real name ends in " (deleted)" keeps it.
  auto oddName = Start(scratch.path(), "odd (deleted)", 0);

  std::vector<platform::ProcessEntry> entries;
  ASSERT_TRUE(processes.SnapshotProcesses(entries));
  for (const auto& e : entries) {
    if (e.th32ProcessID == static_cast<platform::ProcessId>(removed->pid())) {
      EXPECT_STREQ(e.szExeFile, "gone-soon");
    }
    if (e.th32ProcessID == static_cast<platform::ProcessId>(oddName->pid())) {
      EXPECT_STREQ(e.szExeFile, "odd (deleted)");
    }
  }
  // Right after the snapshot, and read through the link by an object that took no snapshot.
  ProcProcesses fresh;
  for (ProcProcesses* api : {&processes, &fresh}) {
    platform::ProcessHandle handle =
        api->OpenProcess(platform::kListRights, static_cast<platform::ProcessId>(removed->pid()));
    ASSERT_NE(handle, platform::kNoProcess);
    EXPECT_EQ(api->GetProcessImagePath(handle), (scratch.path() / "gone-soon").string());
    api->CloseHandle(handle);
    handle = api->OpenProcess(platform::kListRights, static_cast<platform::ProcessId>(oddName->pid()));
    ASSERT_NE(handle, platform::kNoProcess);
    EXPECT_EQ(api->GetProcessImagePath(handle), (scratch.path() / "odd (deleted)").string());
    api->CloseHandle(handle);
  }
}

TEST_F(ProcProcessesTest, AProcessWhoseMainThreadEndedIsSeenThroughALiveThread) {
  if (!TwoProcessors()) GTEST_SKIP() << "needs processors 0 and 1";
  const fs::path path = scratch.path() / "Headless-Main";
  fs::copy_file(MAVRIN_SLEEPER, path);
  ChildProcess child(path.string(), {"2", "main-exits"});
  ASSERT_TRUE(platformtest::WaitUntilMainThreadEnded(child.pid(), 2));
  // The live threads on processor 0; the ended main thread keeps what it had.
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(0, &one);
  for (pid_t tid : ThreadsOf(child.pid())) {
    if (tid != child.pid()) {
      ASSERT_EQ(0, sched_setaffinity(tid, sizeof one, &one));
    }
  }

  std::vector<platform::ProcessEntry> entries;
  ASSERT_TRUE(processes.SnapshotProcesses(entries));
  const auto pid = static_cast<platform::ProcessId>(child.pid());
  auto listed = std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return e.th32ProcessID == pid; });
  ASSERT_NE(listed, entries.end());
  EXPECT_STREQ(listed->szExeFile, "Headless-Main");
  ProcProcesses fresh;  // reads the link itself, without a snapshot
  for (ProcProcesses* api : {&processes, &fresh}) {
    platform::ProcessHandle handle = api->OpenProcess(platform::kListRights, pid);
    ASSERT_NE(handle, platform::kNoProcess);
    EXPECT_EQ(api->GetProcessImagePath(handle), path.string());
    api->CloseHandle(handle);
  }
  platform::ProcessHandle handle = processes.OpenProcess(platform::kListRights, pid);
  platform::ProcessorSet mask;
  platform::ProcessorSet system;
  ASSERT_TRUE(processes.GetProcessAffinityMask(handle, mask, system));
  EXPECT_EQ(mask, 0x1u) << "the mask of a thread that runs";
  EXPECT_TRUE(processes.RewriteProcessAffinityMask(handle, mask));
  EXPECT_TRUE(processes.SetProcessAffinityMask(handle, 0x2));
  processes.CloseHandle(handle);
  EXPECT_THAT(AllowedLists(child.pid()), ElementsAre("1"));
}

// The mask tests run with kernel buffers sized for this machine's possible processors, and with
// buffers for the full 1024 processors a set holds, as on the largest machines.
class ProcMaskTest : public ProcProcessesTest, public testing::WithParamInterface<std::size_t> {
 protected:
  ProcProcesses processes{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(Buffers, ProcMaskTest, testing::Values(platform::PossibleCpuSetBytes(), CPU_ALLOC_SIZE(1024)),
                         [](const auto& info) { return std::to_string(info.param) + "Bytes"; });

TEST_P(ProcMaskTest, SettingAMaskReachesEveryThreadAndRefusalsChangeNothing) {
  if (!TwoProcessors()) GTEST_SKIP() << "needs processors 0 and 1";
  auto child = Start(scratch.path(), "threads", 4);
  const auto pid = static_cast<platform::ProcessId>(child->pid());
  ASSERT_EQ(ThreadsOf(child->pid()).size(), 5u);
  platform::ProcessHandle handle = processes.OpenProcess(platform::kSetRights, pid);
  ASSERT_NE(handle, platform::kNoProcess);

  EXPECT_TRUE(processes.SetProcessAffinityMask(handle, 0x2));
  EXPECT_THAT(AllowedLists(child->pid()), ElementsAre("1"));
  platform::ProcessorSet mask;
  platform::ProcessorSet system;
  ASSERT_TRUE(processes.GetProcessAffinityMask(handle, mask, system));
  EXPECT_EQ(mask, 0x2u);
  EXPECT_EQ(system, platform::OnlineProcessorSet());

  EXPECT_FALSE(processes.SetProcessAffinityMask(handle, 0));
  EXPECT_FALSE(processes.SetProcessAffinityMask(handle, 0x80000003u));  // processor 31 is not online
  // Processors beyond the machine, and beyond what the buffer holds: refused, never cut to 0-1.
  EXPECT_FALSE(processes.SetProcessAffinityMask(handle, platform::ProcessorSet{0, 1, 64}));
  EXPECT_FALSE(processes.SetProcessAffinityMask(handle, platform::ProcessorSet{1, 1023}));
  platform::ProcessorSet absent = platform::ProcessorSet::FirstN(platform::ProcessorSet::kCapacity);
  absent.RemoveAll(platform::OnlineProcessorSet());
  if (!absent.Empty()) {
    EXPECT_FALSE(
        processes.SetProcessAffinityMask(handle, platform::ProcessorSet{0, static_cast<unsigned>(absent.Lowest())}));
  }
  EXPECT_THAT(AllowedLists(child->pid()), ElementsAre("1"));

  EXPECT_TRUE(processes.SetProcessAffinityMask(handle, 0x3));
  EXPECT_THAT(AllowedLists(child->pid()), ElementsAre("0-1"));
  processes.CloseHandle(handle);
}

TEST_P(ProcMaskTest, TheListingProbeChangesNoThread) {
  if (!TwoProcessors()) GTEST_SKIP() << "needs processors 0 and 1";
  auto child = Start(scratch.path(), "mixed", 3);
  // The main thread on processor 0, the others on both.
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(0, &one);
  ASSERT_EQ(sched_setaffinity(child->pid(), sizeof(one), &one), 0);
  platform::ProcessHandle handle =
      processes.OpenProcess(platform::kListRights, static_cast<platform::ProcessId>(child->pid()));
  ASSERT_NE(handle, platform::kNoProcess);
  platform::ProcessorSet mask;
  platform::ProcessorSet system;
  ASSERT_TRUE(processes.GetProcessAffinityMask(handle, mask, system));
  EXPECT_EQ(mask, 0x1u);
  // Even a wrong "current" mask must not change anything.
  EXPECT_TRUE(processes.RewriteProcessAffinityMask(handle, 0x3));
  processes.CloseHandle(handle);
  for (pid_t tid : ThreadsOf(child->pid())) {
    EXPECT_EQ(AllowedList(child->pid(), tid), tid == child->pid() ? "0" : "0-1") << "thread " << tid;
  }
}

TEST_P(ProcMaskTest, ThreadsStartedWhileSettingGetTheMaskToo) {
  if (!TwoProcessors()) GTEST_SKIP() << "needs processors 0 and 1";
  auto child = Start(scratch.path(), "churning", 2, {"churn"});
  platform::ProcessHandle handle =
      processes.OpenProcess(platform::kSetRights, static_cast<platform::ProcessId>(child->pid()));
  ASSERT_NE(handle, platform::kNoProcess);
  for (std::uint32_t mask : {0x1u, 0x2u, 0x1u}) {
    ASSERT_TRUE(processes.SetProcessAffinityMask(handle, mask));
    std::string expected = mask == 0x1u ? "0" : "1";
    EXPECT_THAT(AllowedLists(child->pid()), ElementsAre(expected));
  }
  processes.CloseHandle(handle);
}

TEST_P(ProcMaskTest, EveryThreadCheckSeesEachThreadAsItIsNow) {
  if (!TwoProcessors()) GTEST_SKIP() << "needs processors 0 and 1";
  auto child = Start(scratch.path(), "threads", 4, {"swap-on-usr1"});
  const auto pid = static_cast<platform::ProcessId>(child->pid());
  // As a tick does it: the id allocated last is read first, then the threads are checked. A check
  // with no read before it must not take the threads for known.
  struct Proc {
    int fd = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ~Proc() { close(fd); }
  } proc;
  platform::AllocatedIds ids(proc.fd);
  processes.FollowIds(&ids);
  auto checkUnread = [&](std::uint32_t mask) {
    platform::ProcessHandle handle = processes.OpenProcess(platform::kQueryRights, pid);
    const bool every = processes.EveryThreadHasMask(handle, mask);
    processes.CloseHandle(handle);
    return every;
  };
  auto check = [&](std::uint32_t mask) {
    platform::ProcessId last = 0;
    ids.Read(last);
    return checkUnread(mask);
  };
  auto setAll = [&](std::uint32_t mask) {
    platform::ProcessHandle handle = processes.OpenProcess(platform::kSetRights, pid);
    const bool set = processes.SetProcessAffinityMask(handle, mask);
    processes.CloseHandle(handle);
    return set;
  };
  ASSERT_TRUE(setAll(0x2));
  EXPECT_TRUE(check(0x2));
  EXPECT_FALSE(check(0x3));
  EXPECT_TRUE(check(0x2));
  // One thread other than the first drifts, and comes back.
  const std::vector<pid_t> threads = ThreadsOf(child->pid());
  ASSERT_EQ(threads.size(), 5u);
  cpu_set_t set;
  for (int cpu : {0, 1}) {
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    ASSERT_EQ(sched_setaffinity(threads.back(), sizeof(set), &set), 0);
    EXPECT_EQ(check(0x2), cpu == 1) << "thread " << threads.back() << " on processor " << cpu;
  }
  // A thread that moves itself as it starts: one more thread, checked after a read of the ids; one
  // more again, checked with no read before it; then one in the place of one that ended (as many
  // threads as before, one of them new).
  auto settled = [&](std::size_t count, const std::vector<pid_t>& before) {
    for (int i = 0; i < 500; ++i) {
      const std::vector<pid_t> now = ThreadsOf(child->pid());
      const bool moved = std::any_of(now.begin(), now.end(), [&](pid_t tid) {
        return std::find(before.begin(), before.end(), tid) == before.end() && AllowedList(child->pid(), tid) == "0";
      });
      if (now.size() == count && moved) return now;
      usleep(2000);
    }
    return std::vector<pid_t>{};
  };
  struct Event {
    int signal;
    std::size_t threads;
    bool readFirst;
  };
  std::vector<pid_t> current = threads;
  for (const Event& event : {Event{SIGUSR2, 6, true}, Event{SIGUSR2, 7, false}, Event{SIGUSR1, 7, true}}) {
    ASSERT_EQ(kill(child->pid(), event.signal), 0);
    current = settled(event.threads, current);
    ASSERT_EQ(current.size(), event.threads);
    EXPECT_FALSE(event.readFirst ? check(0x2) : checkUnread(0x2))
        << "signal " << event.signal << ", " << event.threads << " threads, read first: " << event.readFirst;
    ASSERT_TRUE(setAll(0x2));
    EXPECT_TRUE(check(0x2));
  }
  child->Kill();
  EXPECT_FALSE(check(0x2));
}

TEST_P(ProcMaskTest, AHandleOutlivingItsProcessFailsEveryCall) {
  auto child = Start(scratch.path(), "short-lived", 1);
  const auto pid = static_cast<platform::ProcessId>(child->pid());
  platform::ProcessHandle handle = processes.OpenProcess(platform::kSetRights, pid);
  ASSERT_NE(handle, platform::kNoProcess);
  child->Kill();
  platform::ProcessorSet mask;
  platform::ProcessorSet system;
  // (As on Windows, a mask read right at the open may still be reported by the first call.)
  EXPECT_FALSE(processes.SetProcessAffinityMask(handle, 0x1));
  EXPECT_FALSE(processes.RewriteProcessAffinityMask(handle, 0x1));
  EXPECT_FALSE(processes.GetProcessAffinityMask(handle, mask, system));
  EXPECT_EQ(processes.GetProcessImagePath(handle), "");
  processes.CloseHandle(handle);
  EXPECT_EQ(processes.OpenProcess(platform::kSetRights, pid), platform::kNoProcess);
  EXPECT_EQ(processes.OpenProcess(platform::kSetRights, 0), platform::kNoProcess);
  // Unknown handles are refused, not trusted.
  EXPECT_FALSE(processes.SetProcessAffinityMask(handle, 0x1));
  processes.CloseHandle(handle);
}

TEST(ProcessorCount, CountsOnlineProcessors) {
  ProcProcesses processes;
  EXPECT_EQ(processes.GetProcessorCount(), static_cast<std::uint32_t>(sysconf(_SC_NPROCESSORS_ONLN)));
  EXPECT_EQ(static_cast<long>(platform::OnlineProcessorSet().Count()), sysconf(_SC_NPROCESSORS_ONLN));
}

}  // namespace
