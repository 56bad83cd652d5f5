// The change-assignment dialog on its own: what it shows in each mode, what OK does to the process,
// the refusal of an empty mask, and a snapshot that changes while the dialog is open.
#include "ui/change_cpu_assign_dlg.h"

#include <cstring>

#include "platform/processor_set_text.h"
#include "tests/support/dialog_fixture.h"
#include "tests/support/recorded_machine.h"
#include "ui/cpu_boxes.h"

namespace {

class ChangeDialogTest : public DialogFixture {
 protected:
  const framework::headless::ControlState& Box(int n) const { return Control(IDD_CHANGE_CPU_ASSIGN, IDC_CPU0 + n); }
  std::string TargetText() const { return Control(IDD_CHANGE_CPU_ASSIGN, IDC_TARGET_TEXT).text; }
  platform::ProcessorSet MaskOf(platform::ProcessId pid) {
    const platform::FakeProcess* p = system.FindProcess(pid);
    return p != nullptr ? p->mask : platform::ProcessorSet{};
  }
  int Run(CChangeCpuAssignDlg& dialog) {
    const int result = dialog.DoModal();
    EXPECT_TRUE(ui.Errors().empty()) << (ui.Errors().empty() ? std::string() : ui.Errors().front());
    EXPECT_EQ(0u, system.OpenHandleCount());
    return result;
  }
  // The rights the dialog asked for when it opened pid to set its mask, 0 if it did not.
  std::uint32_t SetAccessFor(platform::ProcessId pid) const {
    std::uint32_t access = 0;
    bool opened = false;
    for (const auto& call : system.Calls()) {
      if (call.call == platform::FakeCall::kOpen && call.pid == pid) {
        access = call.access;
        opened = true;
      }
    }
    return opened ? access : 0;
  }
};

TEST_F(ChangeDialogTest, ProcessModeShowsTheProcessAndOkSetsTheMaskAndMarksThePath) {
  system.processorCount = 2;
  system.AddProcess(20, "/Opt/Games/Game.EXE", 0x1);
  context.Snapshot().Refresh();
  system.ClearCalls();

  CChangeCpuAssignDlg dialog(context);
  dialog.processIndex = 0;
  Check([&] {
    // The name as the system reported it, then the lower-cased path.
    EXPECT_EQ("Game.EXE (/opt/games/game.exe)", TargetText());
    EXPECT_EQ(BST_CHECKED, Box(0).check);
    EXPECT_EQ(BST_UNCHECKED, Box(1).check);
    for (int n = 0; n < 8; ++n) EXPECT_EQ(n < 2, Box(n).enabled) << n;
    for (int n = 2; n < 8; ++n) EXPECT_EQ(BST_UNCHECKED, Box(n).check) << n;
  });
  ui.Click(IDC_CPU1);
  ui.Click(IDOK);
  EXPECT_EQ(IDOK, Run(dialog));

  EXPECT_EQ(3u, dialog.resultMask);
  EXPECT_EQ(3u, MaskOf(20));
  EXPECT_EQ(platform::kSetRights, SetAccessFor(20));
  EXPECT_EQ(1u, context.GetQuickChangedPaths().count("/opt/games/game.exe"));
  EXPECT_EQ("3\n", Diagnostics());
}

TEST_F(ChangeDialogTest, MoreProcessorsThanTheTemplatesBoxesKeepEveryProcessor) {
  system.processorCount = 12;
  system.AddProcess(20, "/bin/worker", 0xFFF);
  context.Snapshot().Refresh();
  CChangeCpuAssignDlg dialog(context);
  dialog.processIndex = 0;
  ui.PressEnter();
  EXPECT_EQ(IDOK, Run(dialog));
  EXPECT_EQ(0xFFFu, MaskOf(20));
  EXPECT_EQ(0xFFFu, dialog.resultMask);
}

TEST_F(ChangeDialogTest, EmptyMaskIsRefusedInABoxOfTheDialogAndTheDialogStaysOpen) {
  system.processorCount = 2;
  system.AddProcess(20, "/bin/worker", 0x1);
  context.Snapshot().Refresh();
  system.ClearCalls();

  CChangeCpuAssignDlg dialog(context);
  dialog.processIndex = 0;
  framework::WindowId window = framework::kNoWindowId;
  ui.Click(IDC_CPU0);
  Check([&] { window = dialog.GetSafeHwnd(); });
  ui.Click(IDOK);
  ui.AnswerMessageBox(IDOK);
  Check([&] {
    EXPECT_EQ(&dialog, ui.ActiveDialog());
    EXPECT_EQ(BST_UNCHECKED, Box(0).check);
  });
  ui.Click(IDCANCEL);
  EXPECT_EQ(IDCANCEL, Run(dialog));

  ASSERT_EQ(1u, ui.MessageBoxes().size());
  const auto& box = ui.MessageBoxes()[0];
  EXPECT_EQ("CPU 割り当てなしにはできません", box.text);
  EXPECT_EQ("mavrin", box.caption);
  EXPECT_EQ(MB_OK, box.type);
  EXPECT_EQ(window, box.owner);
  EXPECT_NE(framework::kNoWindowId, box.owner);
  EXPECT_EQ(0u, system.CountCalls(platform::FakeCall::kSetMask));
  EXPECT_EQ(0x1u, MaskOf(20));
  EXPECT_TRUE(context.GetQuickChangedPaths().empty());
  EXPECT_EQ(0u, dialog.resultMask);
  EXPECT_EQ("0\n", Diagnostics());
}

TEST_F(ChangeDialogTest, FileModeOffersEveryBoxAndOnlyHandsTheMaskBack) {
  system.processorCount = 2;
  system.AddProcess(20, "/opt/tools/new.exe", 0x1);
  context.Snapshot().Refresh();
  system.ClearCalls();

  CChangeCpuAssignDlg dialog(context);
  dialog.targetText = "/opt/tools/new.exe";
  Check([&] {
    EXPECT_EQ("/opt/tools/new.exe", TargetText());
    for (int n = 0; n < 8; ++n) {
      EXPECT_TRUE(Box(n).enabled) << n;
      EXPECT_EQ(BST_UNCHECKED, Box(n).check) << n;
    }
  });
  ui.Click(IDC_CPU7);
  ui.Click(IDOK);
  EXPECT_EQ(IDOK, Run(dialog));
  EXPECT_EQ(0x80u, dialog.resultMask);
  EXPECT_EQ(0u, system.CountCalls(platform::FakeCall::kOpen));
  EXPECT_EQ(0x1u, MaskOf(20));
  EXPECT_TRUE(context.GetQuickChangedPaths().empty());
}

TEST_F(ChangeDialogTest, ARefusedMaskOrAProcessThatCannotBeOpenedClosesSilently) {
  system.processorCount = 4;
  system.AddProcess(20, "/bin/a", 0x1);
  system.AddProcess(21, "/bin/b", 0x1);
  context.Snapshot().Refresh();
  system.FindProcess(20)->failSetMask = true;
  system.FindProcess(21)->failOpen = true;

  for (int row : {0, 1}) {
    CChangeCpuAssignDlg dialog(context);
    dialog.processIndex = row;
    ui.Click(IDC_CPU2);
    ui.Click(IDOK);
    EXPECT_EQ(IDOK, Run(dialog));
    EXPECT_EQ(0x5u, dialog.resultMask) << row;
  }
  EXPECT_TRUE(ui.MessageBoxes().empty());
  EXPECT_EQ(0x1u, MaskOf(20));
  EXPECT_EQ(0x1u, MaskOf(21));
  EXPECT_TRUE(context.GetQuickChangedPaths().empty());
}

// The snapshot is rebuilt while the dialog is open (as an observation tick in its loop does).
TEST_F(ChangeDialogTest, OkReachesTheProcessThatWasShownOrNothing) {
  system.processorCount = 4;
  system.AddProcess(10, "/bin/b.exe", 0x1);
  context.Snapshot().Refresh();

  // Another process now sorts before it: OK still changes the one shown, at its new row.
  {
    CChangeCpuAssignDlg dialog(context);
    dialog.processIndex = 0;
    Check([&] {
      system.AddProcess(11, "/bin/a.exe", 0x1);
      context.Snapshot().Refresh();
      ASSERT_EQ(11u, context.Snapshot().processes[0].entry.th32ProcessID);
    });
    ui.Click(IDC_CPU1);
    ui.Click(IDOK);
    EXPECT_EQ(IDOK, Run(dialog));
    EXPECT_EQ(0x3u, MaskOf(10));
    EXPECT_EQ(0x1u, MaskOf(11));
    EXPECT_EQ((QuickChangedPaths{"/bin/b.exe"}), context.GetQuickChangedPaths());
  }

  // The process shown exits and another takes its row: nothing is touched.
  {
    CChangeCpuAssignDlg dialog(context);
    dialog.processIndex = 1;  // b.exe
    Check([&] {
      system.RemoveProcess(10);
      system.AddProcess(12, "/bin/c.exe", 0x1);
      context.Snapshot().Refresh();
    });
    ui.Click(IDC_CPU2);
    ui.Click(IDOK);
    system.ClearCalls();
    EXPECT_EQ(IDOK, Run(dialog));
    EXPECT_EQ(0x5u, dialog.resultMask);  // the mask the snapshot held, with CPU 2 added
    EXPECT_EQ(0u, system.CountCalls(platform::FakeCall::kSetMask));
    EXPECT_EQ(0x1u, MaskOf(11));
    EXPECT_EQ(0x1u, MaskOf(12));
    EXPECT_EQ((QuickChangedPaths{"/bin/b.exe"}), context.GetQuickChangedPaths());
  }

  // Its id now belongs to another executable: not the same process.
  {
    CChangeCpuAssignDlg dialog(context);
    dialog.processIndex = 1;  // c.exe, id 12
    Check([&] {
      system.RemoveProcess(12);
      system.AddProcess(12, "/bin/d.exe", 0x1);
      context.Snapshot().Refresh();
    });
    ui.Click(IDC_CPU3);
    ui.PressEnter();
    EXPECT_EQ(IDOK, Run(dialog));
    EXPECT_EQ(0x9u, dialog.resultMask);
    EXPECT_EQ(0x1u, MaskOf(12));
    EXPECT_EQ(0u, context.GetQuickChangedPaths().count("/bin/d.exe"));
  }

  // It exits and no tick follows: the open fails and nothing is recorded.
  {
    CChangeCpuAssignDlg dialog(context);
    dialog.processIndex = 0;  // a.exe, id 11
    Check([&] { system.RemoveProcess(11); });
    ui.PressEnter();
    EXPECT_EQ(IDOK, Run(dialog));
    EXPECT_EQ(0u, context.GetQuickChangedPaths().count("/bin/a.exe"));
  }
}

TEST_F(ChangeDialogTest, ANameThatFillsItsWholeArrayIsShownWithoutReadingPastIt) {
  system.AddProcess(10, "/bin/a", 0x3);
  context.Snapshot().Refresh();
  platform::ProcessEntry& entry = context.Snapshot().processes[0].entry;
  std::memset(entry.szExeFile, 'x', sizeof entry.szExeFile);
  CChangeCpuAssignDlg dialog(context);
  dialog.processIndex = 0;
  Check([&] { EXPECT_EQ(std::string(sizeof entry.szExeFile, 'x') + " (/bin/a)", TargetText()); });
  ui.PressEscape();
  EXPECT_EQ(IDCANCEL, Run(dialog));
}

TEST_F(ChangeDialogTest, ARowOutsideTheListShowsNothingAndChangesNothing) {
  system.AddProcess(10, "/bin/a", 0x3);
  context.Snapshot().Refresh();
  system.ClearCalls();
  for (int row : {1, 500, -1}) {
    CChangeCpuAssignDlg dialog(context);
    dialog.processIndex = row;  // -1 with no text: neither a process nor a file
    Check([&] {
      EXPECT_EQ("", TargetText());
      for (int n = 0; n < 8; ++n) EXPECT_EQ(BST_UNCHECKED, Box(n).check) << n;
    });
    ui.Click(IDC_CPU0);
    ui.Click(IDOK);
    EXPECT_EQ(IDOK, Run(dialog)) << row;
    EXPECT_EQ(0x1u, dialog.resultMask);
  }
  EXPECT_EQ(0u, system.CountCalls(platform::FakeCall::kSetMask));
  EXPECT_EQ(0x3u, MaskOf(10));
}

// ---- machines with more processors than the template has boxes ----

class LargerMachineTest : public ChangeDialogTest {
 protected:
  void Machine(const char* tree) { UseRecordedMachine(system, tree); }
  // The processors whose boxes are checked, as a list.
  std::string Checked() const {
    platform::ProcessorSet set;
    for (unsigned n = 0; n < platform::ProcessorSet::kCapacity; ++n) {
      const auto* box = ui.FindControl(IDD_CHANGE_CPU_ASSIGN, CpuBoxId(n));
      if (box == nullptr) break;
      if (box->check == BST_CHECKED) set.Set(n);
    }
    return platform::FormatCpuList(set);
  }
  static std::vector<std::string> Texts(const framework::Menu& menu) {
    std::vector<std::string> texts;
    for (int i = 0; i < menu.ItemCount(); ++i) texts.push_back(menu.ItemAt(i)->text);
    return texts;
  }
  // Opens the preset menu, as a click on the preset button does.
  void OpenPresets() { ui.Click(IDC_CPU_PRESETS); }
};

TEST_F(LargerMachineTest, PresetsNameWhatTheMachineOffersAndOnlyTickTheBoxes) {
  Machine("amd_x3d");
  system.AddProcess(30, "/opt/game/bin/game", 0xFFFFFFFFu);
  context.Snapshot().Refresh();
  system.ClearCalls();
  CChangeCpuAssignDlg dialog(context);
  dialog.processIndex = 0;
  OpenPresets();
  // The large-L3 die: exactly its processors, none of the other die's.
  ui.ChooseMenu(ID_PRESET_BASE + 1);
  Check([&] {
    EXPECT_EQ("0-7,16-23", Checked());
    EXPECT_EQ(0u, system.CountCalls(platform::FakeCall::kSetMask));  // nothing applied yet
  });
  ui.Click(IDOK);
  EXPECT_EQ(IDOK, Run(dialog));
  ASSERT_EQ(1u, ui.Menus().size());
  const framework::Menu& menu = ui.Menus()[0].menu;
  EXPECT_EQ((std::vector<std::string>{"すべての CPU (CPU 0-31)", "", "L3 キャッシュ 96 MB (CPU 0-7,16-23)",
                                      "L3 キャッシュ 32 MB (CPU 8-15,24-31)", "", "1 コアに 1 スレッド (CPU 0-15)"}),
            Texts(menu));
  EXPECT_EQ(0x00FF00FFu, MaskOf(30));
}

TEST_F(LargerMachineTest, OnA128ProcessorMachineEveryBoxCountsAndOneClickChangesOneProcessor) {
  system.processorCount = 128;
  platform::ProcessorSet before = platform::ProcessorSet::FirstN(128);
  before.Clear(5);
  before.Clear(100);
  system.AddProcess(30, "/opt/render/bin/render", before);
  context.Snapshot().Refresh();
  CChangeCpuAssignDlg dialog(context);
  dialog.processIndex = 0;
  Check([&] {
    EXPECT_EQ("0-4,6-99,101-127", Checked());
    for (unsigned n = 8; n < 128; ++n) ASSERT_TRUE(ui.FindControl(IDD_CHANGE_CPU_ASSIGN, CpuBoxId(n))->enabled) << n;
    EXPECT_EQ(nullptr, ui.FindControl(IDD_CHANGE_CPU_ASSIGN, CpuBoxId(128)));
  });
  ui.Click(CpuBoxId(100));
  ui.Click(IDOK);
  EXPECT_EQ(IDOK, Run(dialog));
  platform::ProcessorSet after = before;
  after.Set(100);
  EXPECT_EQ(after, MaskOf(30));
  EXPECT_EQ(after, dialog.resultMask);
}

TEST_F(LargerMachineTest, HybridCoresInFileModeAndNoPresetsOnEightProcessors) {
  Machine("intel_8p16e");
  CChangeCpuAssignDlg file(context);
  file.targetText = "/opt/encoder/bin/encode";
  OpenPresets();
  ui.ChooseMenu(ID_PRESET_BASE + 2);  // the efficiency cores, each box of them enabled
  Check([&] { EXPECT_EQ("16-31", Checked()); });
  OpenPresets();
  ui.ChooseMenu(ID_PRESET_BASE + 1);  // the performance cores instead
  ui.Click(IDOK);
  EXPECT_EQ(IDOK, Run(file));
  EXPECT_EQ(0x0000FFFFu, file.resultMask);
  EXPECT_EQ("パフォーマンス コア (CPU 0-15)", ui.Menus()[1].menu.ItemAt(2)->text);
  EXPECT_EQ("高効率コア (CPU 16-31)", ui.Menus()[1].menu.ItemAt(3)->text);

  // A machine with as many processors as boxes offers no presets, whatever it is built of.
  Machine("arm_4x4");
  CChangeCpuAssignDlg small(context);
  small.targetText = "/opt/encoder/bin/encode";
  Check([&] {
    EXPECT_EQ(nullptr, ui.FindControl(IDD_CHANGE_CPU_ASSIGN, IDC_CPU_PRESETS));
    EXPECT_EQ(nullptr, ui.FindControl(IDD_CHANGE_CPU_ASSIGN, CpuBoxId(8)));
  });
  ui.PressEscape();
  EXPECT_EQ(IDCANCEL, Run(small));
}

}  // namespace
