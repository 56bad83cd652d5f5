#include "engine/system_snapshot.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fake/fake_system.h"
#include "tests/engine/test_support.h"

namespace {

using platform::FakeCall;
using platform::FakeSystem;
using testing::ElementsAre;

class SnapshotTest : public enginetest::CycleFixture<FakeSystem> {
 protected:
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const ProcessInfo& info : snapshot.processes) names.emplace_back(info.entry.szExeFile);
    return names;
  }
  std::vector<platform::WindowHandle> Windows() const {
    std::vector<platform::WindowHandle> handles;
    for (const WindowInfo& info : snapshot.windows) handles.push_back(info.hwnd);
    return handles;
  }
};

TEST_F(SnapshotTest, SortsLowerCaseInitialsFirstThenByUnsignedBytes) {
  system.AddProcess(1, "C:\\x\\b.exe", 1);
  system.AddProcess(2, "C:\\x\\A.exe", 1);
  system.AddProcess(3, "C:\\x\\1.exe", 1);
  system.AddProcess(4, "C:\\x\\a.exe", 1);
  EXPECT_TRUE(snapshot.Refresh());
  EXPECT_THAT(Names(), ElementsAre("a.exe", "b.exe", "1.exe", "A.exe"));

  // A prefix comes first; bytes compare unsigned, so UTF-8 lead bytes follow ASCII; '_' (0x5F)
  // sorts after 'Z' among the names without a lower-case initial.
  snapshot.processes.clear();
  FakeSystem other;
  SystemSnapshot second(other, boxes);
  other.AddProcess(1, "/x/ab", 1);
  other.AddProcess(2, "/x/a", 1);
  other.AddProcess(3, "/x/_tool", 1);
  other.AddProcess(4, "/x/Zed", 1);
  other.AddProcess(5, "/x/\xC3\xA9t\xC3\xA9", 1);
  other.AddProcess(6, "/x/a\xC3\xA9", 1);
  second.Refresh();
  std::vector<std::string> names;
  for (const ProcessInfo& info : second.processes) names.emplace_back(info.entry.szExeFile);
  EXPECT_THAT(names, ElementsAre("a", "ab", "a\xC3\xA9", "Zed", "_tool", "\xC3\xA9t\xC3\xA9"));
}

TEST_F(SnapshotTest, CopiesOfOneProgramStandTogetherWithTheSameLoweredPath) {
  system.AddProcess(10, "C:\\Program Files\\App\\APP.EXE", 3);
  system.AddProcess(11, "C:\\Windows\\zz.exe", 3);
  system.AddProcess(12, "C:\\Program Files\\App\\APP.EXE", 1);
  snapshot.Refresh();
  ASSERT_EQ(snapshot.processes.size(), 3u);
  EXPECT_THAT(Names(), ElementsAre("zz.exe", "APP.EXE", "APP.EXE"));
  EXPECT_EQ(snapshot.processes[1].exePath, "c:\\program files\\app\\app.exe");
  EXPECT_EQ(snapshot.processes[2].exePath, "c:\\program files\\app\\app.exe");
  // The entry is the system's record, copied whole.
  EXPECT_EQ(snapshot.processes[0].entry.th32ProcessID, 11u);
}

TEST_F(SnapshotTest, ListsOnlyProcessesWhoseMaskCanBeSetAndWhosePathCanBeRead) {
  system.AddProcess(1, "/bin/listed", 1);
  system.AddProcess(2, "/bin/no-open", 1).failOpen = true;
  system.AddProcess(3, "/bin/no-get", 1).failGetMask = true;
  system.AddProcess(4, "/bin/read-not-set", 1).failRewrite = true;
  system.AddProcess(5, "/bin/no-path", 1).failImagePath = true;
  system.AddProcess(6, "", 1);
  snapshot.Refresh();
  EXPECT_THAT(Names(), ElementsAre("listed"));
  EXPECT_EQ(system.OpenHandleCount(), 0u);
  for (const auto& call : system.Calls()) {
    if (call.call == FakeCall::kOpen) {
      EXPECT_EQ(call.access, platform::kListRights);
    }
  }
  // The probe writes back the mask just read and nothing else.
  EXPECT_EQ(system.CountCalls(FakeCall::kSetMask), 0u);
  for (const auto& call : system.Calls()) {
    if (call.call == FakeCall::kRewrite && call.pid == 1) {
      EXPECT_EQ(call.mask, 1u);
    }
  }
}

TEST_F(SnapshotTest, RefreshReplacesBothListsAndSurvivesAFailedProcessSnapshot) {
  system.AddProcess(1, "/bin/one", 1);
  system.AddWindow(0x10, "One", "OneClass", 1);
  snapshot.Refresh();
  ASSERT_EQ(snapshot.processes.size(), 1u);
  ASSERT_EQ(snapshot.windows.size(), 1u);

  system.failSnapshot = true;
  system.AddWindow(0x20, "Two", "TwoClass", 1);
  EXPECT_TRUE(snapshot.Refresh());
  EXPECT_TRUE(snapshot.processes.empty());
  EXPECT_THAT(Windows(), ElementsAre(0x10u, 0x20u));

  system.failSnapshot = false;
  system.RemoveProcess(1);
  system.AddProcess(2, "/bin/two", 1);
  snapshot.Refresh();
  EXPECT_THAT(Names(), ElementsAre("two"));
}

TEST_F(SnapshotTest, CountsOnlyProcessorsTheSystemHas) {
  system.processorCount = 4;
  system.AddProcess(1, "/bin/a", 0x1D);
  snapshot.Refresh();
  ASSERT_EQ(snapshot.processes.size(), 1u);
  EXPECT_EQ(snapshot.processes[0].cpuCount, 3);
  EXPECT_EQ(snapshot.processes[0].affinityMask, 0x1Du);

  system.processorCount = 32;
  system.FindProcess(1)->mask = 0xFFFFFFFFu;
  snapshot.Refresh();
  EXPECT_EQ(snapshot.processes[0].cpuCount, 32);

  system.processorCount = 2;
  system.FindProcess(1)->mask = 0x80000001u;
  snapshot.Refresh();
  EXPECT_EQ(snapshot.processes[0].cpuCount, 1);
}

TEST_F(SnapshotTest, KeepsOnlyVisibleUnownedTitledWindowsOtherThanTheDesktop) {
  system.AddWindow(1, "Editor", "EditClass", 7);
  system.AddWindow(2, "Hidden", "EditClass", 7).visible = false;
  system.AddWindow(3, "Dialog", "#32770", 7).owner = 1;
  system.AddWindow(4, "", "Blank", 7);
  system.AddWindow(5, "Program Manager", "Progman", 0);
  system.AddWindow(6, "Look-alike", "progman", 7);
  system.AddWindow(7, std::string(300, 'T'), "Long", 7);
  system.AddWindow(8, "Title unreadable", "X", 7).failTitle = true;
  system.AddWindow(9, "Class unreadable", "X", 7).failClass = true;
  snapshot.Refresh();
  // The system's order is kept.
  EXPECT_THAT(Windows(), ElementsAre(1u, 6u, 7u, 9u));
  // Title and class are read for every window, into 128-byte buffers.
  EXPECT_EQ(system.CountCalls(FakeCall::kWindowTitle), 9u);
  EXPECT_EQ(system.CountCalls(FakeCall::kWindowClass), 9u);
}

TEST_F(SnapshotTest, FindsTheProcessOfAWindow) {
  system.AddProcess(30, "/bin/zeta", 1);
  system.AddProcess(20, "/bin/alpha", 1);
  system.AddProcess(40, "/bin/root-only", 1).failOpen = true;
  system.AddWindow(1, "Main", "Z", 30);
  system.AddWindow(2, "Tools", "Z", 30);
  system.AddWindow(3, "Alpha", "A", 20);
  system.AddWindow(4, "Privileged", "P", 40);
  system.AddWindow(5, "Newcomer", "N", 50);

  EXPECT_EQ(snapshot.FindProcessByWindow(1), -1);  // nothing listed yet
  snapshot.Refresh();
  EXPECT_EQ(snapshot.FindProcessByWindow(1), 1);
  EXPECT_EQ(snapshot.FindProcessByWindow(2), 1);
  EXPECT_EQ(snapshot.FindProcessByWindow(3), 0);
  EXPECT_EQ(snapshot.FindProcessByWindow(4), -1);
  EXPECT_EQ(snapshot.FindProcessByWindow(5), -1);
  system.RemoveWindow(3);
  EXPECT_EQ(snapshot.FindProcessByWindow(3), -1);
}

TEST_F(SnapshotTest, SetProcessorEnabledChangesOneBitOfTheMaskReadAtTheRefresh) {
  system.AddProcess(5, "/bin/app", 0x3);
  snapshot.Refresh();
  // Someone else changes the mask after the refresh; the operation works from the value listed.
  system.FindProcess(5)->mask = 0x1;
  system.ClearCalls();
  EXPECT_TRUE(snapshot.SetProcessorEnabled(2, 0, true));
  EXPECT_EQ(system.FindProcess(5)->mask, 0x7u);
  EXPECT_EQ(system.CountCalls(FakeCall::kOpen), 1u);
  EXPECT_EQ(system.Calls().front().access, platform::kSetRights);
  EXPECT_EQ(system.OpenHandleCount(), 0u);
  // The listed mask is not updated.
  EXPECT_EQ(snapshot.processes[0].affinityMask, 0x3u);

  EXPECT_TRUE(snapshot.SetProcessorEnabled(1, 0, false));
  EXPECT_EQ(system.FindProcess(5)->mask, 0x1u);
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(SnapshotTest, SetProcessorEnabledRejectsPositionsOutsideTheList) {
  EXPECT_FALSE(snapshot.SetProcessorEnabled(0, 0, true));  // empty list
  system.AddProcess(5, "/bin/app", 0x3);
  snapshot.Refresh();
  system.ClearCalls();
  EXPECT_FALSE(snapshot.SetProcessorEnabled(0, 1, true));
  EXPECT_FALSE(snapshot.SetProcessorEnabled(0, -1, true));
  EXPECT_FALSE(snapshot.SetProcessorEnabled(1024, 0, true));  // no set holds it
  EXPECT_FALSE(snapshot.SetProcessorEnabled(-1, 0, true));
  EXPECT_EQ(system.CountCalls(FakeCall::kOpen), 0u);
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(system.FindProcess(5)->mask, 0x3u);
}

TEST_F(SnapshotTest, SetProcessorEnabledReportsAVanishedProcessOnly) {
  system.processorCount = 2;
  system.AddProcess(5, "/bin/app", 0x1);
  system.AddProcess(6, "/bin/gone", 0x3);
  snapshot.Refresh();

  // Switching off the last processor: the system refuses the empty mask, silently.
  EXPECT_FALSE(snapshot.SetProcessorEnabled(0, 0, false));
  // A processor the machine does not have.
  EXPECT_FALSE(snapshot.SetProcessorEnabled(5, 0, true));
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(system.FindProcess(5)->mask, 0x1u);

  system.RemoveProcess(6);
  EXPECT_FALSE(snapshot.SetProcessorEnabled(0, 1, false));
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].owner, 0u);
  EXPECT_FALSE(boxes.shown[0].hasCaption);
  EXPECT_EQ(boxes.shown[0].type, MB_OK);
  EXPECT_EQ(boxes.shown[0].text,
            "プロセスを取得できませんでした．以下の原因が考えられます．\n\n - すでにプロセスが終了している\n - "
            "プロセスに対するアクセス権限がない（システムのプロセスなど）");
}

// A process that ends between any two steps of the listing is left out, and no handle leaks.
class VanishingProcessTest : public SnapshotTest, public testing::WithParamInterface<FakeCall> {};

TEST_P(VanishingProcessTest, IsLeftOutWithoutLeakingItsHandle) {
  system.AddProcess(1, "/bin/stays", 1);
  system.AddProcess(2, "/bin/goes", 1);
  system.AddProcess(3, "/bin/also-stays", 1);
  const FakeCall step = GetParam();
  system.beforeCall = [&](const platform::FakeCallRecord& call) {
    if (call.call == step && (call.pid == 2 || step == FakeCall::kSnapshot)) system.RemoveProcess(2);
  };
  snapshot.Refresh();
  EXPECT_THAT(Names(), ElementsAre("also-stays", "stays"));
  EXPECT_EQ(system.OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(EachStep, VanishingProcessTest,
                         testing::Values(FakeCall::kSnapshot, FakeCall::kOpen, FakeCall::kGetMask, FakeCall::kRewrite,
                                         FakeCall::kImagePath),
                         [](const testing::TestParamInfo<FakeCall>& info) {
                           switch (info.param) {
                             case FakeCall::kSnapshot: return "Snapshot";
                             case FakeCall::kOpen: return "Open";
                             case FakeCall::kGetMask: return "GetMask";
                             case FakeCall::kRewrite: return "Rewrite";
                             default: return "ImagePath";
                           }
                         });

TEST_F(SnapshotTest, AWindowThatVanishesWhileListedIsLeftOut) {
  system.AddWindow(1, "Stays", "S", 1);
  system.AddWindow(2, "Goes", "G", 1);
  system.beforeCall = [&](const platform::FakeCallRecord& call) {
    if (call.call == FakeCall::kIsVisible && call.window == 2) system.RemoveWindow(2);
  };
  snapshot.Refresh();
  EXPECT_THAT(Windows(), ElementsAre(1u));
}

}  // namespace
