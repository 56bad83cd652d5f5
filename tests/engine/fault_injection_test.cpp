// The snapshot and the observation cycle under a system that fails or loses processes at any
// step: for every k, the k-th system call either fails or finds its process gone. Nothing may
// crash or leak a handle, the snapshot must stay consistent, and the log may record a change only
// for a mask the system accepted.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/text.h"
#include "engine/observation_cycle.h"
#include "platform/fake/fake_system.h"
#include "platform/processor_set_text.h"
#include "tests/engine/test_support.h"

namespace {

using platform::FakeCall;
using platform::FakeCallRecord;
using platform::FakeSystem;
using platform::ProcessId;

struct Started {
  ProcessId pid;
  const char* path;
  AffinityMask mask;
};

// Three copies of one watched program (one already right), a second watched program, one whose
// entry the system refuses (mask 0), one the list does not name, and two windows.
const std::vector<Started> kProcesses = {
    {10, "/opt/Watched/app", 0x3}, {11, "/opt/Watched/app", 0x1}, {12, "/opt/Watched/app", 0x2},
    {20, "/usr/bin/other", 0x1},   {30, "/usr/bin/refused", 0x1}, {40, "/usr/bin/unwatched", 0xF},
};

class FaultTest : public enginetest::CycleFixture<FakeSystem> {
 protected:
  void Populate() {
    for (const Started& p : kProcesses) system.AddProcess(p.pid, p.path, p.mask);
    system.AddWindow(100, "App window", "AppClass", 10);
    system.AddWindow(101, "Other window", "OtherClass", 20);
    watchList.Append({"/opt/watched/app", 0x1});
    watchList.Append({"/usr/bin/other", 0x2});
    watchList.Append({"/usr/bin/refused", 0x0});
  }

  // Every listed process is one the system really had, with its lowered path, its mask as it was
  // when listed, the right processor count; sorted; every window is a listed, visible one.
  void ExpectConsistentSnapshot(const std::map<ProcessId, platform::ProcessorSet>& masksAtStart,
                                std::uint32_t processors) {
    const platform::ProcessorSet counted = platform::ProcessorSet::FirstN(processors);
    std::set<ProcessId> seen;
    for (const ProcessInfo& info : snapshot.processes) {
      SCOPED_TRACE(info.entry.th32ProcessID);
      EXPECT_FALSE(info.exePath.empty());
      EXPECT_TRUE(std::none_of(info.exePath.begin(), info.exePath.end(), [](char c) { return c >= 'A' && c <= 'Z'; }));
      ASSERT_EQ(masksAtStart.count(info.entry.th32ProcessID), 1u) << "a process that never existed";
      EXPECT_TRUE(seen.insert(info.entry.th32ProcessID).second) << "listed twice";
      EXPECT_EQ(info.affinityMask, masksAtStart.at(info.entry.th32ProcessID));
      EXPECT_EQ(info.cpuCount, static_cast<int>((info.affinityMask & counted).Count()));
    }
    EXPECT_TRUE(std::is_sorted(snapshot.processes.begin(), snapshot.processes.end(), ComesBefore));
    for (const WindowInfo& window : snapshot.windows) EXPECT_TRUE(window.hwnd == 100 || window.hwnd == 101);
    for (const WindowInfo& window : snapshot.windows) {
      const int row = snapshot.FindProcessByWindow(window.hwnd);
      EXPECT_GE(row, -1);
      EXPECT_LT(row, static_cast<int>(snapshot.processes.size()));
    }
    EXPECT_EQ(system.OpenHandleCount(), 0u);
  }

  // Change records must match, one for one, the sets the system accepted.
  void ExpectTruthfulLog(const std::vector<std::string>& acceptedRecords) {
    std::vector<std::string> changes;
    for (const std::string& line : LogLines()) {
      const std::size_t at = line.find(") ");
      ASSERT_NE(at, std::string::npos) << line;
      const std::string text = line.substr(at + 2);
      if (text.rfind("set affinity mask ", 0) == 0) changes.push_back(text);
    }
    std::vector<std::string> expected = acceptedRecords;
    std::sort(changes.begin(), changes.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(changes, expected);
  }

  std::map<ProcessId, platform::ProcessorSet> Masks() {
    std::map<ProcessId, platform::ProcessorSet> masks;
    for (const Started& p : kProcesses) {
      if (const platform::FakeProcess* process = system.FindProcess(p.pid)) masks[p.pid] = process->mask;
    }
    return masks;
  }

  // Runs a clean cycle and counts its calls, so that every call can be picked in turn.
  std::size_t CallsOfACleanCycle() {
    FakeSystem clean;
    for (const Started& p : kProcesses) clean.AddProcess(p.pid, p.path, p.mask);
    clean.AddWindow(100, "App window", "AppClass", 10);
    clean.AddWindow(101, "Other window", "OtherClass", 20);
    enginetest::RecordingMessageBoxes noBoxes;
    SystemSnapshot cleanSnapshot(clean, noBoxes);
    ActivityLog cleanLog(clean, (scratch.path() / "clean.log").string(), nullptr);
    RunObservationCycle(watchList, cleanSnapshot, quickChanged, cleanLog, nullptr);
    return clean.Calls().size();
  }

  // Runs one cycle in which fault(k-th call) happens, and checks everything afterwards.
  template <class Fault>
  void CycleWithFaultAt(std::size_t k, Fault fault) {
    std::size_t index = 0;
    std::vector<std::string> accepted;
    const auto masksAtStart = Masks();
    std::map<ProcessId, platform::ProcessorSet> masksWhenListed = masksAtStart;
    std::uint32_t processors = system.processorCount;
    system.beforeCall = [&](const FakeCallRecord& call) {
      if (index++ == k) fault(call);
      if (call.call == FakeCall::kProcessorCount) processors = system.processorCount;
      if (call.call == FakeCall::kGetMask && call.pid != 0) {
        if (const platform::FakeProcess* p = system.FindProcess(call.pid)) masksWhenListed[call.pid] = p->mask;
      }
      if (call.call == FakeCall::kSetMask) {
        // The oracle: what the system will answer to this very call.
        const platform::FakeProcess* p = system.FindProcess(call.pid);
        const platform::ProcessorSet online = platform::ProcessorSet::FirstN(system.processorCount);
        if (p != nullptr && !p->failSetMask && !call.mask.Empty() && online.Contains(call.mask)) {
          accepted.push_back("set affinity mask " + platform::FormatHexMask(call.mask) + " to process \"" +
                             ToLowerAsciiCopy(p->imagePath) + "\"");
        }
      }
    };
    RunObservationCycle(watchList, snapshot, quickChanged, log, nullptr);
    system.beforeCall = nullptr;
    ExpectConsistentSnapshot(masksWhenListed, processors);
    ExpectTruthfulLog(accepted);
  }
};

TEST_F(FaultTest, AProcessVanishingBeforeAnyCallOfACycle) {
  Populate();
  const std::size_t calls = CallsOfACleanCycle();
  ASSERT_GT(calls, 40u);
  for (std::size_t k = 0; k <= calls; ++k) {
    SCOPED_TRACE("call " + std::to_string(k));
    system = FakeSystem();
    std::filesystem::remove(logPath);
    log.ForgetFailure(30, 0x0, "/usr/bin/refused");
    Populate();
    CycleWithFaultAt(k, [&](const FakeCallRecord& call) {
      // The process the call is about ends just before it; a call about no process takes one of
      // the watched copies away.
      system.RemoveProcess(call.pid != 0 ? call.pid : 12);
      if (call.window != 0) system.RemoveWindow(call.window);
    });
    // The refused process gets its failure record only if it was still there to refuse.
    const bool refusalRecorded =
        enginetest::ReadFile(logPath).find("failed to set affinity mask 0x00000000") != std::string::npos;
    EXPECT_EQ(refusalRecorded, system.FindProcess(30) != nullptr);
  }
}

TEST_F(FaultTest, EachCallOfACycleFailingInTurn) {
  Populate();
  const std::size_t calls = CallsOfACleanCycle();
  for (std::size_t k = 0; k <= calls; ++k) {
    SCOPED_TRACE("call " + std::to_string(k));
    system = FakeSystem();
    std::filesystem::remove(logPath);
    Populate();
    CycleWithFaultAt(k, [&](const FakeCallRecord& call) {
      platform::FakeProcess* p = system.FindProcess(call.pid);
      platform::FakeWindow* w = system.FindWindow(call.window);
      switch (call.call) {
        case FakeCall::kSnapshot: system.failSnapshot = true; break;
        case FakeCall::kOpen:
          if (p) p->failOpen = true;
          break;
        case FakeCall::kGetMask:
          if (p) p->failGetMask = true;
          break;
        case FakeCall::kSetMask:
          if (p) p->failSetMask = true;
          break;
        case FakeCall::kRewrite:
          if (p) p->failRewrite = true;
          break;
        case FakeCall::kThreadMasks:
          if (p) p->failThreadMasks = true;
          break;
        case FakeCall::kIsRunning: system.RemoveProcess(call.pid); break;
        case FakeCall::kImagePath:
          if (p) p->failImagePath = true;
          break;
        case FakeCall::kWindowTitle:
          if (w) w->failTitle = true;
          break;
        case FakeCall::kWindowClass:
          if (w) w->failClass = true;
          break;
        case FakeCall::kIsVisible:
          if (w) w->failVisible = true;
          break;
        case FakeCall::kWindowOwner:
          if (w) w->failOwner = true;
          break;
        case FakeCall::kWindowProcessId:
          if (w) w->failProcessId = true;
          break;
        case FakeCall::kProcessorCount: system.processorCount = 0; break;
        default: break;
      }
    });
  }
}

// Refusals that last: every tick handles the other processes, and each refusal is on record once,
// not once a tick.
TEST_F(FaultTest, LastingRefusalsOverManyTicks) {
  Populate();
  watchList.Replace(1, {"/usr/bin/other", 0x12});  // names a processor the machine lacks
  system.FindProcess(12)->failImagePath = true;
  for (int tick = 0; tick < 5; ++tick) RunObservationCycle(watchList, snapshot, quickChanged, log, nullptr);
  const std::string text = enginetest::ReadFile(logPath);
  EXPECT_THAT(enginetest::Lines(text),
              testing::UnorderedElementsAre(
                  testing::HasSubstr(") set affinity mask 0x00000001 to process \"/opt/watched/app\""),
                  testing::HasSubstr(") failed to set affinity mask 0x00000012 to process \"/usr/bin/other\""),
                  testing::HasSubstr(") failed to set affinity mask 0x00000000 to process \"/usr/bin/refused\"")));
  EXPECT_EQ(system.FindProcess(10)->mask, 0x1u);
  EXPECT_EQ(system.FindProcess(12)->mask, 0x2u) << "a process whose path cannot be read is not listed";
  EXPECT_EQ(system.FindProcess(20)->mask, 0x1u);
  EXPECT_EQ(system.OpenHandleCount(), 0u);
}

// A window whose process ends between the window list and the process list, or whose window
// goes after the refresh: listed, but its lookup finds no process and never another one.
TEST_F(FaultTest, AWindowWhoseProcessEndsBetweenEnumerationAndLookup) {
  Populate();
  system.beforeCall = [&](const FakeCallRecord& call) {
    if (call.call == FakeCall::kSnapshot) system.RemoveProcess(10);
  };
  snapshot.Refresh();
  system.beforeCall = nullptr;
  ASSERT_EQ(snapshot.windows.size(), 2u);
  EXPECT_EQ(snapshot.FindProcessByWindow(100), -1);
  const int other = snapshot.FindProcessByWindow(101);
  ASSERT_GE(other, 0);
  EXPECT_EQ(snapshot.processes[static_cast<std::size_t>(other)].entry.th32ProcessID, 20u);

  system.RemoveWindow(101);
  EXPECT_EQ(snapshot.FindProcessByWindow(101), -1) << "a vanished window names no process";
  EXPECT_FALSE(snapshot.SetProcessorEnabled(0, static_cast<int>(snapshot.processes.size()), true));
  EXPECT_FALSE(snapshot.SetProcessorEnabled(0, -1, true));
  EXPECT_TRUE(boxes.shown.empty());
}

}  // namespace
