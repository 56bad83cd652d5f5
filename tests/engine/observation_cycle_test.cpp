#include "engine/observation_cycle.h"

#include <algorithm>
#include <map>
#include <utility>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "engine/incremental_observation.h"
#include "platform/fake/fake_system.h"
#include "tests/engine/test_support.h"

namespace {

using platform::FakeCall;
using testing::ElementsAre;
using testing::HasSubstr;

constexpr char kApp[] = "c:\\tools\\app.exe";

class CycleTest : public enginetest::CycleFixture<platform::FakeSystem> {
 protected:
  CycleTest() {
    system.now.tm_year = 124;
    system.now.tm_mon = 2;
    system.now.tm_mday = 5;
    system.now.tm_hour = 9;
    system.now.tm_min = 7;
    system.now.tm_sec = 2;
  }
};

TEST_F(CycleTest, AnExecutableThatIsNotRunningCausesNothing) {
  system.AddProcess(1, "C:\\Tools\\Other.exe", 0x3);
  Watch(kApp, 0x1);
  Tick();
  EXPECT_EQ(out.Text(), "observing...\n");
  EXPECT_EQ(system.CountCalls(FakeCall::kSetMask), 0u);
  EXPECT_FALSE(std::filesystem::exists(logPath));
}

TEST_F(CycleTest, SetsDifferingCopiesOnlyAndLogsEachChange) {
  system.AddProcess(1, "C:\\Tools\\App.exe", 0x3);
  system.AddProcess(2, "C:\\TOOLS\\APP.EXE", 0x1);  // already right: no call, no record
  system.AddProcess(3, "c:\\tools\\app.exe", 0xF);
  system.AddProcess(4, "D:\\tools\\app.exe", 0x3);  // same name, other directory
  Watch(kApp, 0x1);
  Tick();

  EXPECT_EQ(system.CountCalls(FakeCall::kSetMask), 2u);
  EXPECT_EQ(system.CountCalls(FakeCall::kSetMask, 2), 0u);
  EXPECT_EQ(system.CountCalls(FakeCall::kSetMask, 4), 0u);
  EXPECT_EQ(system.FindProcess(1)->mask, 0x1u);
  EXPECT_EQ(system.FindProcess(3)->mask, 0x1u);
  EXPECT_EQ(system.FindProcess(4)->mask, 0x3u);
  std::vector<platform::ProcessId> openedToSet;
  for (const auto& call : system.Calls()) {
    if (call.call == FakeCall::kOpen && call.access == platform::kSetRights) openedToSet.push_back(call.pid);
  }
  EXPECT_THAT(openedToSet, testing::UnorderedElementsAre(1u, 3u));
  EXPECT_EQ(system.OpenHandleCount(), 0u);

  const std::string record = "set affinity mask 0x00000001 to process \"c:\\tools\\app.exe\"";
  EXPECT_THAT(LogLines(), ElementsAre("(2024/03/05 09:07:02) " + record, "(2024/03/05 09:07:02) " + record));
  EXPECT_EQ(out.Text(), "observing...\n" + record + "\n" + record + "\n");

  // The next tick finds everything in place.
  system.ClearCalls();
  Tick();
  EXPECT_EQ(system.CountCalls(FakeCall::kSetMask), 0u);
  EXPECT_EQ(LogLines().size(), 2u);
}

TEST_F(CycleTest, MasksAreWrittenWithEightUpperCaseDigits) {
  system.processorCount = 32;
  system.AddProcess(1, "/opt/a", 0x1);
  system.AddProcess(2, "/opt/b", 0x1);
  system.AddProcess(3, "/opt/c", 0x1);
  Watch("/opt/a", 0x3);
  Watch("/opt/b", 0x80000000u);
  Watch("/opt/c", 0xABCDEF);
  Tick();
  EXPECT_THAT(LogLines(), ElementsAre("(2024/03/05 09:07:02) set affinity mask 0x00000003 to process \"/opt/a\"",
                                      "(2024/03/05 09:07:02) set affinity mask 0x80000000 to process \"/opt/b\"",
                                      "(2024/03/05 09:07:02) set affinity mask 0x00ABCDEF to process \"/opt/c\""));
}

TEST_F(CycleTest, SetsBeyondCpu31AreAppliedAndLoggedWholeAndARefusalTheSame) {
  system.processorCount = 1000;
  const platform::ProcessorSet upper = platform::ProcessorSet::Range(64, 127);
  system.AddProcess(1, "/opt/a", platform::ProcessorSet::FirstN(1000));
  system.AddProcess(2, "/opt/b", upper);  // already right: every word compared, nothing set
  system.AddProcess(3, "/opt/c", 0x1);    // its entry names a processor the machine lacks
  Watch("/opt/a", upper);
  Watch("/opt/b", upper);
  Watch("/opt/c", platform::ProcessorSet{32, 1023});
  Tick();
  EXPECT_EQ(system.FindProcess(1)->mask, upper);
  EXPECT_EQ(system.CountCalls(FakeCall::kSetMask, 2), 0u);
  EXPECT_THAT(
      LogLines(),
      ElementsAre("(2024/03/05 09:07:02) set affinity mask 0xFFFFFFFFFFFFFFFF0000000000000000 to process \"/opt/a\"",
                  "(2024/03/05 09:07:02) failed to set affinity mask 0x80000000" + std::string(29 * 8, '0') +
                      "0000000100000000 to process \"/opt/c\""));
}

TEST_F(CycleTest, AppendsToWhatTheLogAlreadyHolds) {
  {
    std::ofstream existing(logPath);
    existing << "earlier line\n";
  }
  system.AddProcess(1, "/opt/a", 0x1);
  Watch("/opt/a", 0x2);
  Tick();
  EXPECT_THAT(LogLines(), ElementsAre("earlier line", HasSubstr("set affinity mask 0x00000002")));
}

TEST_F(CycleTest, QuickChangedExecutablesAreLeftAloneOnEveryTick) {
  system.AddProcess(1, "/opt/app", 0x3);
  Watch("/opt/app", 0x1);
  quickChanged.insert("/opt/app");
  Tick();
  system.AddProcess(2, "/opt/app", 0x2);  // a copy started later
  Tick();
  EXPECT_EQ(out.Text(),
            "observing...\n /opt/app is quick changed. so don't care it.\n"
            "observing...\n /opt/app is quick changed. so don't care it.\n");
  EXPECT_EQ(system.CountCalls(FakeCall::kSetMask), 0u);
  EXPECT_EQ(system.FindProcess(2)->mask, 0x2u);
  EXPECT_FALSE(std::filesystem::exists(logPath));
}

TEST_F(CycleTest, TwoEntriesForOnePathBothActOnTheMaskReadAtTheStartOfTheTick) {
  system.AddProcess(1, "/opt/app", 0x4);
  Watch("/opt/app", 0x1);
  Watch("/opt/app", 0x2);
  Tick();
  EXPECT_EQ(system.FindProcess(1)->mask, 0x2u);
  EXPECT_THAT(LogLines(), ElementsAre(HasSubstr("0x00000001"), HasSubstr("0x00000002")));
  Tick();  // has B: gets A again
  EXPECT_EQ(system.FindProcess(1)->mask, 0x1u);
  Tick();  // has A: gets B again
  EXPECT_EQ(system.FindProcess(1)->mask, 0x2u);
  EXPECT_THAT(LogLines(), ElementsAre(HasSubstr("0x00000001"), HasSubstr("0x00000002"), HasSubstr("0x00000001"),
                                      HasSubstr("0x00000002")));
}

TEST_F(CycleTest, ARefusedMaskIsRecordedAsAFailureOncePerProcess) {
  system.AddProcess(1, "/opt/app", 0x3);
  system.AddProcess(2, "/opt/app", 0x3);
  Watch("/opt/app", 0x0);
  for (int i = 0; i < 5; ++i) Tick();
  const std::string failure = "failed to set affinity mask 0x00000000 to process \"/opt/app\"";
  EXPECT_THAT(LogLines(), ElementsAre("(2024/03/05 09:07:02) " + failure, "(2024/03/05 09:07:02) " + failure));
  // Still tried on every tick: the system may accept it later.
  EXPECT_EQ(system.CountCalls(FakeCall::kSetMask), 10u);
  EXPECT_EQ(system.FindProcess(1)->mask, 0x3u);

  // A process that is gone is forgotten; a new one under a reused id is news again.
  system.RemoveProcess(2);
  Tick();
  EXPECT_EQ(log.RememberedFailureCount(), 1u);
  system.AddProcess(2, "/opt/app", 0x3);
  Tick();
  Tick();
  EXPECT_EQ(LogLines().size(), 3u);
}

TEST_F(CycleTest, AProcessThatCannotBeOpenedIsAFailureOneThatEndedIsNothing) {
  system.AddProcess(1, "/opt/locked", 0x3);
  system.AddProcess(2, "/opt/ending", 0x3);
  system.AddProcess(3, "/opt/fine", 0x3);
  system.AddProcess(4, "/opt/ends-while-set", 0x3);
  Watch("/opt/locked", 0x1);
  Watch("/opt/ending", 0x1);
  Watch("/opt/fine", 0x1);
  Watch("/opt/ends-while-set", 0x1);
  system.beforeCall = [&](const platform::FakeCallRecord& call) {
    // Listing works for "locked", opening it to set its mask does not.
    if (call.call == FakeCall::kOpen && call.pid == 1) {
      system.FindProcess(1)->failOpen = call.access == platform::kSetRights;
    }
    // "ending" ends between the refresh and the set, the other one during the set.
    if (call.call == FakeCall::kOpen && call.pid == 2 && call.access == platform::kSetRights) system.RemoveProcess(2);
    if (call.call == FakeCall::kSetMask && call.pid == 4) system.RemoveProcess(4);
  };
  Tick();
  EXPECT_THAT(LogLines(), ElementsAre(HasSubstr(") failed to set affinity mask 0x00000001 to process \"/opt/locked\""),
                                      HasSubstr(") set affinity mask 0x00000001 to process \"/opt/fine\"")));
  EXPECT_EQ(system.OpenHandleCount(), 0u);
  Tick();
  Tick();
  EXPECT_EQ(LogLines().size(), 2u);
}

TEST_F(CycleTest, AThreadThatSetItsOwnMaskIsPutBackAndOnlyWatchedProcessesAreAskedAboutThreads) {
  system.AddProcess(1, "/opt/app", 0x1).threadMasks = {0x1, 0xF, 0x1};  // one thread escaped
  system.AddProcess(2, "/opt/app", 0x1).threadMasks = {0x1};
  system.AddProcess(3, "/opt/other", 0x1).threadMasks = {0xF};
  Watch("/opt/app", 0x1);
  Tick();
  EXPECT_EQ(system.FindProcess(1)->threadMasks, (std::vector<platform::ProcessorSet>{0x1, 0x1, 0x1}));
  EXPECT_EQ(system.CountCalls(FakeCall::kSetMask), 1u);
  EXPECT_EQ(system.CountCalls(FakeCall::kThreadMasks, 3), 0u) << "an unwatched process costs nothing more";
  EXPECT_THAT(LogLines(), ElementsAre("(2024/03/05 09:07:02) set affinity mask 0x00000001 to process \"/opt/app\""));
  system.ClearCalls();
  Tick();
  EXPECT_EQ(system.CountCalls(FakeCall::kSetMask), 0u);
  // Threads that cannot be read are set rather than trusted.
  system.FindProcess(2)->failThreadMasks = true;
  Tick();
  EXPECT_EQ(system.CountCalls(FakeCall::kSetMask, 2), 1u);
  EXPECT_EQ(LogLines().size(), 2u);
}

TEST_F(CycleTest, RecordsAndNotesFollowTheListOrderWhateverTheProcessOrder) {
  system.AddProcess(1, "/opt/a", 0x3);
  system.AddProcess(2, "/opt/b", 0x3);
  system.AddProcess(3, "/opt/c", 0x3);
  Watch("/opt/c", 0x1);
  Watch("/opt/q", 0x1);
  Watch("/opt/a", 0x2);
  Watch("/opt/b", 0x1);
  quickChanged.insert("/opt/q");
  quickChanged.insert("/opt/unlisted");
  Tick();
  EXPECT_EQ(out.Text(),
            "observing...\n"
            "set affinity mask 0x00000001 to process \"/opt/c\"\n"
            " /opt/q is quick changed. so don't care it.\n"
            "set affinity mask 0x00000002 to process \"/opt/a\"\n"
            "set affinity mask 0x00000001 to process \"/opt/b\"\n");
}

TEST_F(CycleTest, AFailureIsNewsAgainAfterTheMaskWasOnceAccepted) {
  system.processorCount = 4;
  system.AddProcess(1, "/opt/app", 0x3);
  Watch("/opt/app", 0x10);  // processor 4 is not there yet
  Tick();
  Tick();
  system.processorCount = 8;  // now it is
  Tick();
  EXPECT_EQ(system.FindProcess(1)->mask, 0x10u);
  system.FindProcess(1)->mask = 0x3;  // someone moves it back, and the processor goes away
  system.processorCount = 4;
  Tick();
  Tick();
  EXPECT_THAT(LogLines(), ElementsAre(HasSubstr(") failed to set affinity mask 0x00000010"),
                                      HasSubstr(") set affinity mask 0x00000010"),
                                      HasSubstr(") failed to set affinity mask 0x00000010")));
}

TEST_F(CycleTest, AnUnwritableLogLosesTheRecordButNotTheChange) {
  ActivityLog unwritable(system, (scratch.path() / "missing-dir" / "mavrin.log").string(), out.get(), nullptr);
  system.AddProcess(1, "/opt/app", 0x3);
  system.AddProcess(2, "/opt/zero", 0x3);
  Watch("/opt/app", 0x1);
  Watch("/opt/zero", 0x0);
  RunObservationCycle(watchList, snapshot, quickChanged, unwritable, out.get());
  EXPECT_EQ(system.FindProcess(1)->mask, 0x1u);
  EXPECT_EQ(out.Text(), "observing...\n");  // not even the console line

  // The failure is recorded once the log can be written.
  std::filesystem::create_directory(scratch.path() / "missing-dir");
  RunObservationCycle(watchList, snapshot, quickChanged, unwritable, out.get());
  RunObservationCycle(watchList, snapshot, quickChanged, unwritable, out.get());
  EXPECT_THAT(enginetest::Lines(enginetest::ReadFile(scratch.path() / "missing-dir" / "mavrin.log")),
              ElementsAre("(2024/03/05 09:07:02) failed to set affinity mask 0x00000000 to process \"/opt/zero\""));
}

TEST_F(CycleTest, APathCannotForgeLogRecords) {
  const std::string hostile = "/tmp/x\n(2024/01/01 00:00:00) set affinity mask 0x00000001 to process \"/bin/y\"\r%s%n";
  system.AddProcess(1, hostile, 0x3);
  Watch(hostile, 0x1);
  quickChanged.insert("/q\x1b[2J");
  Watch("/q\x1b[2J", 0x1);
  Tick();
  EXPECT_THAT(LogLines(), ElementsAre("(2024/03/05 09:07:02) set affinity mask 0x00000001 to process "
                                      "\"/tmp/x\\x0A(2024/01/01 00:00:00) set affinity mask 0x00000001 to process "
                                      "\"/bin/y\"\\x0D%s%n\""));
  EXPECT_THAT(out.Text(), HasSubstr(" /q\\x1B[2J is quick changed. so don't care it.\n"));
}

// A process table and an exec watch that say what the test tells them, over the fake system.
class FakeTable final : public platform::IProcessTable {
 public:
  void Update(Look look, platform::TableChanges& changes) override {
    looks.push_back(look);
    changes.started.clear();
    changes.ended.clear();
    for (const auto& [pid, process] : processes) {
      if (look == Look::kEverything || reported.count(pid) == 0 || reported[pid] != process.identity) {
        changes.started.push_back(process);
        reported[pid] = process.identity;
      }
    }
  }
  bool CurrentPath(platform::ProcessId pid, std::uint64_t identity, std::string& exePath) override {
    auto it = now.find(pid);
    if (it == now.end()) it = processes.find(pid);
    if (it == processes.end() || it == now.end() || it->second.identity != identity) return false;
    exePath = it->second.exePath;
    return true;
  }
  void ForEach(const std::function<void(const platform::TableProcess&)>& visit) const override {
    for (const auto& item : processes) visit(item.second);
  }
  std::map<platform::ProcessId, platform::TableProcess> processes;
  // What the system says of a process now, where that is not what the table has read.
  std::map<platform::ProcessId, platform::TableProcess> now;
  std::map<platform::ProcessId, std::uint64_t> reported;
  std::vector<Look> looks;
};

class FakeExecWatch final : public platform::IExecWatch {
 public:
  void Watch(const std::vector<std::string>& list) override { paths = list; }
  bool Complete() const override { return complete; }
  Events Take() override { return std::exchange(pending, Events{}); }
  std::vector<std::string> paths;
  bool complete = true;
  Events pending;
};

class IncrementalTest : public CycleTest {
 protected:
  using Look = platform::IProcessTable::Look;

  // A process of the fake system that the table knows too.
  void Run(platform::ProcessId pid, const std::string& path, AffinityMask mask, std::uint64_t identity = 1) {
    system.AddProcess(pid, path, mask);
    table.processes[pid] = platform::TableProcess{pid, identity, path};
  }
  void Opened(const std::string& path) {
    watch.pending.opened.push_back(path);
    observation.HandleExecEvents(watchList, quickChanged, log);
  }
  void TickLater() {
    nowUs += 1'000'000;
    observation.Tick(watchList, quickChanged, log, out.get());
  }
  std::size_t CountLooks(Look look) const {
    return static_cast<std::size_t>(std::count(table.looks.begin(), table.looks.end(), look));
  }

  FakeTable table;
  FakeExecWatch watch;
  std::int64_t nowUs = 5'000'000;
  IncrementalObservation observation{
      system, table, &watch,
      IncrementalObservation::Clock{[this] { return nowUs; }, [this](std::int64_t us) { nowUs += us; }}};
};

TEST_F(IncrementalTest, AStartIsPinnedByItsEventAndAFruitlessOneLeadsToOneLookAtEverything) {
  Watch(kApp, 0x1);
  TickLater();  // start-up: every process
  TickLater();
  EXPECT_THAT(table.looks, ElementsAre(Look::kEverything, Look::kRound));
  EXPECT_THAT(watch.paths, ElementsAre(kApp));

  Run(5, "C:\\Tools\\App.exe", 0x3);
  table.looks.clear();
  Opened(kApp);
  EXPECT_EQ(system.FindProcess(5)->mask, 0x1u);
  EXPECT_THAT(table.looks, ElementsAre(Look::kRecent));
  EXPECT_EQ(LogLines().size(), 1u);

  // Opened, but nothing new runs it: a short wait, then every process once.
  table.looks.clear();
  nowUs += 1'000'000;
  Opened(kApp);
  EXPECT_GT(CountLooks(Look::kRecent), 3u);
  EXPECT_EQ(CountLooks(Look::kEverything), 1u);
  // Read again at once: one look, no wait, and every process waits for the next tick.
  table.looks.clear();
  Opened(kApp);
  EXPECT_THAT(table.looks, ElementsAre(Look::kRecent));
  TickLater();
  EXPECT_EQ(CountLooks(Look::kEverything), 1u);
  EXPECT_EQ(LogLines().size(), 1u);
}

TEST_F(IncrementalTest, WhatCouldHideAStartLeadsToALookAtEverything) {
  Watch(kApp, 0x1);
  TickLater();
  // Word that came while observation was held back.
  watch.pending.opened.push_back(kApp);
  observation.DropExecEvents();
  table.looks.clear();
  TickLater();
  TickLater();
  EXPECT_THAT(table.looks, ElementsAre(Look::kEverything, Look::kRound));

  // A changed list is watched anew.
  Watch("c:\\tools\\other.exe", 0x2);
  table.looks.clear();
  TickLater();
  EXPECT_THAT(table.looks, ElementsAre(Look::kEverything));
  EXPECT_EQ(watch.paths.size(), 2u);

  // Lost events, and a watch that cannot be kept complete.
  watch.pending.lookAtEverything = true;
  table.looks.clear();
  nowUs += 1'000'000;
  observation.HandleExecEvents(watchList, quickChanged, log);
  EXPECT_EQ(CountLooks(Look::kEverything), 1u);
  watch.complete = false;
  table.looks.clear();
  TickLater();
  TickLater();
  EXPECT_THAT(table.looks, ElementsAre(Look::kEverything, Look::kEverything));
}

TEST_F(IncrementalTest, OnlyTheProcessThatStillRunsTheFileIsSetAndQuickChangesAreLeftAlone) {
  Watch(kApp, 0x1);
  Watch("c:\\tools\\mine.exe", 0x1);
  quickChanged.insert("c:\\tools\\mine.exe");
  TickLater();
  Run(5, "C:\\Tools\\App.exe", 0x3);
  Run(6, "C:\\Tools\\App.exe", 0x3);
  Run(7, "C:\\Tools\\Mine.exe", 0x3);
  Run(8, "C:\\Tools\\App.exe", 0x3);
  // Since the table read them, 5 ran another file and 6's id went to another process.
  table.now[5] = platform::TableProcess{5, 1, "C:\\Tools\\Else.exe"};
  table.now[6] = platform::TableProcess{6, 2, "C:\\Tools\\App.exe"};
  TickLater();
  EXPECT_EQ(system.FindProcess(5)->mask, 0x3u);
  EXPECT_EQ(system.FindProcess(6)->mask, 0x3u);
  EXPECT_EQ(system.FindProcess(7)->mask, 0x3u);
  EXPECT_EQ(system.FindProcess(8)->mask, 0x1u);
  TickLater();
  EXPECT_THAT(LogLines(), ElementsAre(HasSubstr("0x00000001 to process \"c:\\tools\\app.exe\"")));
  EXPECT_THAT(out.Text(), HasSubstr(" c:\\tools\\mine.exe is quick changed."));
}

}  // namespace
