// The processor check boxes and the text form of a mask.
#include "ui/cpu_boxes.h"

#include "framework/backend.h"
#include "tests/support/dialog_fixture.h"

namespace {

TEST(CpuTextTest, PatternHasOneCharacterPerProcessorWithProcessorZeroFirst) {
  EXPECT_EQ("o-o-", FormatCpuPattern(5, 4));
  EXPECT_EQ("", FormatCpuPattern(0xFFFFFFFFu, 0));
  // Bits at or above the processor count are not shown.
  EXPECT_EQ("oooo", FormatCpuPattern(0xFF, 4));
  EXPECT_EQ("-ooo----oo-o", FormatCpuPattern(0xB0E, 12));
  // A machine with more processors than the mask has bits: the rest read as clear.
  EXPECT_EQ(std::string(32, 'o') + "--", FormatCpuPattern(0xFFFFFFFFu, 34));
}

TEST(CpuTextTest, CountAndDisplayPairLookOnlyAtPresentProcessors) {
  EXPECT_EQ(2, CountCpus(5, 4));
  EXPECT_EQ(4, CountCpus(0xFF, 4));
  EXPECT_EQ(0, CountCpus(0xFF, 0));
  EXPECT_EQ(32, CountCpus(0xFFFFFFFFu, 32));
  EXPECT_EQ(32, CountCpus(0xFFFFFFFFu, 40));
  EXPECT_EQ(0, CountCpus(0x80000000u, 31));
  EXPECT_EQ("2 [o-o-]", FormatCpuDisplay(5, 4));
  EXPECT_EQ("4 [oooo]", FormatCpuDisplay(0xFF, 4));
  EXPECT_EQ("0 []", FormatCpuDisplay(0xFF, 0));
  // A snapshot process brings its own count.
  EXPECT_EQ("3 [o-o-]", FormatCpuDisplay(3, 5, 4));
}

class CpuBoxesTest : public DialogFixture {
 protected:
  // Runs a bare dialog of templateId, does `steps` inside its modal loop, then closes it.
  void WithDialog(int templateId, std::function<void(framework::CDialog&)> steps) {
    framework::CDialog dialog(templateId);
    ui.Then([&](Backend&) { steps(dialog); });
    ui.PressEscape();
    EXPECT_EQ(IDCANCEL, dialog.DoModal());
    EXPECT_TRUE(ui.Errors().empty()) << (ui.Errors().empty() ? std::string() : ui.Errors().front());
  }
  int State(framework::CDialog& d, int n) { return d.ButtonItem(IDC_CPU0 + n).GetCheck(); }
  bool Enabled(framework::CDialog& d, int n) { return d.ButtonItem(IDC_CPU0 + n).IsEnabled(); }
};

TEST_F(CpuBoxesTest, BoxesOfMissingProcessorsAreDisabledAndKeepTheirState) {
  system.processorCount = 2;
  system.AddProcess(10, "/bin/a.exe", 0x2);
  system.AddProcess(11, "/bin/b.exe", 0xA5);
  context.Snapshot().Refresh();
  ASSERT_EQ(2u, context.Snapshot().processes.size());

  WithDialog(IDD_CHANGE_CPU_ASSIGN, [&](framework::CDialog& d) {
    d.ButtonItem(IDC_CPU3).SetCheck(BST_CHECKED);
    ASSERT_TRUE(ShowProcessMask(0, d, context));
    EXPECT_EQ(BST_UNCHECKED, State(d, 0));
    EXPECT_EQ(BST_CHECKED, State(d, 1));
    EXPECT_TRUE(Enabled(d, 0));
    EXPECT_TRUE(Enabled(d, 1));
    for (int n = 2; n < 8; ++n) EXPECT_FALSE(Enabled(d, n)) << n;
    EXPECT_EQ(BST_UNCHECKED, State(d, 2));
    EXPECT_EQ(BST_CHECKED, State(d, 3));

    // More processors than boxes: every box is usable again and shows bits 0 to 7.
    system.processorCount = 12;
    ASSERT_TRUE(ShowProcessMask(1, d, context));
    for (int n = 0; n < 8; ++n) {
      EXPECT_TRUE(Enabled(d, n)) << n;
      EXPECT_EQ(((0xA5 >> n) & 1) != 0 ? BST_CHECKED : BST_UNCHECKED, State(d, n)) << n;
    }
  });
}

TEST_F(CpuBoxesTest, RowOutsideTheSnapshotTouchesNoBox) {
  system.AddProcess(10, "/bin/a.exe", 0xF);
  context.Snapshot().Refresh();
  WithDialog(IDD_CHANGE_CPU_ASSIGN, [&](framework::CDialog& d) {
    d.ButtonItem(IDC_CPU2).SetCheck(BST_CHECKED);
    d.ButtonItem(IDC_CPU5).Enable(false);
    for (int row : {-1, -2, 1, 1000}) EXPECT_FALSE(ShowProcessMask(row, d, context)) << row;
    for (int n = 0; n < 8; ++n) EXPECT_EQ(n == 2 ? BST_CHECKED : BST_UNCHECKED, State(d, n)) << n;
    EXPECT_FALSE(Enabled(d, 5));
  });
}

TEST_F(CpuBoxesTest, ReadingCountsOnlyExactlyCheckedBoxesDisabledOnesIncluded) {
  WithDialog(IDD_ASSIGN_LIST, [&](framework::CDialog& d) {
    EXPECT_EQ(0u, ReadCpuBoxes(d));
    d.ButtonItem(IDC_CPU0).SetCheck(BST_CHECKED);
    d.ButtonItem(IDC_CPU7).SetCheck(BST_CHECKED);
    d.ButtonItem(IDC_CPU3).SetCheck(BST_INDETERMINATE);
    d.ButtonItem(IDC_CPU5).SetCheck(BST_CHECKED);
    d.ButtonItem(IDC_CPU5).Enable(false);
    EXPECT_EQ(0xA1u, ReadCpuBoxes(d));
  });
}

TEST_F(CpuBoxesTest, ThreeStateClickAsksToAddOrRemoveAndSettlesByTheOutcome) {
  WithDialog(IDD_ASSIGN_LIST, [&](framework::CDialog& d) {
    const unsigned processors = 4;
    auto click = [&](int n) {
      EXPECT_TRUE(framework::DeliverClick(d, IDC_CPU0 + n));
      return InterpretCpuBoxClick(d, n, processors);
    };

    // unchecked -> checked: add.
    CpuBoxRequest request = click(1);
    EXPECT_EQ(CpuBoxRequest::kAdd, request);
    SettleCpuBox(d, 1, request, true);
    EXPECT_EQ(BST_CHECKED, State(d, 1));

    // checked -> indeterminate: remove; refused, so the box returns to checked.
    request = click(1);
    EXPECT_EQ(CpuBoxRequest::kRemove, request);
    SettleCpuBox(d, 1, request, false);
    EXPECT_EQ(BST_CHECKED, State(d, 1));

    // The indeterminate state never stays after a removal that worked.
    request = click(1);
    EXPECT_EQ(CpuBoxRequest::kRemove, request);
    SettleCpuBox(d, 1, request, true);
    EXPECT_EQ(BST_UNCHECKED, State(d, 1));

    // A refused addition clears the box again.
    request = click(2);
    EXPECT_EQ(CpuBoxRequest::kAdd, request);
    SettleCpuBox(d, 2, request, false);
    EXPECT_EQ(BST_UNCHECKED, State(d, 2));

    // A processor the machine does not have: the box turns indeterminate and nothing is asked.
    request = click(6);
    EXPECT_EQ(CpuBoxRequest::kNone, request);
    EXPECT_EQ(BST_INDETERMINATE, State(d, 6));
    SettleCpuBox(d, 6, request, false);
    EXPECT_EQ(BST_INDETERMINATE, State(d, 6));
  });
}

}  // namespace
