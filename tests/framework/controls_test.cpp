// Check boxes and list views as the dialogs use them.
#include <string>
#include <vector>

#include "framework/dialog.h"
#include "res/resource.h"
#include "test_support.h"
#include "tests/support/box_columns.h"

using namespace framework;

namespace {

// Records the state each box shows when its click arrives, and every list notification.
class ControlsDlg : public CDialog {
 public:
  explicit ControlsDlg(int tpl) : CDialog(tpl) {}
  static const MessageMap* GetThisMessageMap();
  const MessageMap* GetMessageMap() const override { return GetThisMessageMap(); }
  std::vector<int> statesSeen;
  std::vector<ListViewNotify> changes;
  std::vector<ListViewNotify> rclicks;
  ListView processes;
  ListView windows;
  // Selects the same row of the process list whenever a window row changes, as a settings
  // dialog would: the nested notifications must stop once nothing changes any more.
  bool mirror = false;

 protected:
  void DoDataExchange() override {
    BindControl(IDC_PROCESS_LIST, processes);
    BindControl(IDC_WINDOW_LIST, windows);
  }
  void OnBox(unsigned id) { statesSeen.push_back(ButtonItem(static_cast<int>(id)).GetCheck()); }
  void OnChanged(const NotifyHeader& hdr, LResult&) {
    changes.push_back(reinterpret_cast<const ListViewNotify&>(hdr));
    if (mirror && hdr.idFrom == IDC_WINDOW_LIST) {
      const int row = windows.FirstSelected();
      if (row >= 0) processes.SetItemState(row, LVIS_SELECTED, LVIS_SELECTED);
    }
  }
  void OnRClick(const NotifyHeader& hdr, LResult&) { rclicks.push_back(reinterpret_cast<const ListViewNotify&>(hdr)); }
};

const MessageMap* ControlsDlg::GetThisMessageMap() {
  static constexpr MessageEntry kEntries[] = {
      MapCommandRange<&ControlsDlg::OnBox>(IDC_CPU0, IDC_CPU7, BN_CLICKED),
      MapNotifyRange<&ControlsDlg::OnChanged>(LVN_ITEMCHANGED, IDC_PROCESS_LIST, IDC_WINDOW_LIST),
      MapNotifyRange<&ControlsDlg::OnRClick>(NM_RCLICK, IDC_PROCESS_LIST, IDC_WINDOW_LIST),
  };
  static constexpr MessageMap kMap{&CDialog::GetThisMessageMap, kEntries};
  return &kMap;
}

// Records every click with the state its control shows when the click arrives.
class RecordingBoxes : public CDialog {
 public:
  explicit RecordingBoxes(int tpl) : CDialog(tpl) {}
  std::vector<std::pair<unsigned, int>> seen;

 protected:
  bool OnCommand(WParam wParam, LParam lParam) override {
    const unsigned id = LowWord(wParam);
    if (id != IDOK && id != IDCANCEL) seen.emplace_back(id, ButtonItem(static_cast<int>(id)).GetCheck());
    return CDialog::OnCommand(wParam, lParam);
  }
};

using ControlsTest = HeadlessTest;

TEST_F(ControlsTest, ThreeStateBoxesCycleUncheckedCheckedIndeterminate) {
  ControlsDlg dlg(IDD_ASSIGN_LIST);
  for (int i = 0; i < 4; ++i) ui.Click(IDC_CPU2);
  ui.Then([&](auto&) { dlg.ButtonItem(IDC_CPU5).SetCheck(BST_INDETERMINATE); });
  ui.Click(IDC_CPU5);
  ui.PressEscape();
  dlg.DoModal();
  EXPECT_EQ(dlg.statesSeen,
            (std::vector<int>{BST_CHECKED, BST_INDETERMINATE, BST_UNCHECKED, BST_CHECKED, BST_UNCHECKED}));
}

TEST_F(ControlsTest, TwoStateBoxesToggleAndDisabledBoxesIgnoreClicks) {
  ControlsDlg dlg(IDD_CHANGE_CPU_ASSIGN);
  ui.Click(IDC_CPU7);
  ui.Click(IDC_CPU7);
  ui.Then([&](auto&) {
    dlg.Item(IDC_CPU0).Enable(false);
    EXPECT_FALSE(dlg.Item(IDC_CPU0).IsEnabled());
  });
  ui.Click(IDC_CPU0);
  ui.PressEscape();
  dlg.DoModal();
  EXPECT_EQ(dlg.statesSeen, (std::vector<int>{BST_CHECKED, BST_UNCHECKED}));
  ASSERT_EQ(ui.Errors().size(), 1u);
  EXPECT_NE(ui.Errors()[0].find("1004"), std::string::npos);
}

TEST_F(ControlsTest, TextOfControlsIsReadAndWritten) {
  ControlsDlg dlg(IDD_ABOUTBOX);
  ui.Then([&](auto&) {
    Control version = dlg.Item(IDC_ABOUT_VERSION);
    EXPECT_EQ(version.ItemText(), "Version ");
    version.SetItemText(version.ItemText() + "1.0.1");
    EXPECT_EQ(version.ItemText(), "Version 1.0.1");
    EXPECT_EQ(dlg.Item(4711).ItemText(), "");
    dlg.EndDialog(IDOK);
  });
  dlg.DoModal();
}

TEST_F(ControlsTest, ListViewKeepsColumnsRowsAndTexts) {
  ControlsDlg dlg(IDD_ASSIGN_LIST);
  ui.Then([&](auto&) {
    ListView& l = dlg.processes;
    EXPECT_EQ(l.InsertColumn(0, "プロセス", LVCFMT_LEFT, 180), 0);
    EXPECT_EQ(l.InsertColumn(1, "CPU", LVCFMT_LEFT, 80), 1);
    EXPECT_EQ(l.ColumnCount(), 2);
    EXPECT_EQ(l.InsertItem(0, "b.exe"), 0);
    EXPECT_EQ(l.InsertItem(0, "a.exe"), 0);   // inserted before
    EXPECT_EQ(l.InsertItem(99, "c.exe"), 2);  // clamped to the end
    EXPECT_TRUE(l.SetItemText(1, 1, "2 [oo--]"));
    EXPECT_FALSE(l.SetItemText(1, 2, "no such column"));
    EXPECT_FALSE(l.SetItemText(3, 0, "no such row"));
    EXPECT_EQ(l.ItemCount(), 3);
    EXPECT_EQ(l.ItemText(0, 0), "a.exe");
    EXPECT_EQ(l.ItemText(1, 0), "b.exe");
    EXPECT_EQ(l.ItemText(1, 1), "2 [oo--]");
    EXPECT_EQ(l.ItemText(2, 1), "");
    EXPECT_EQ(l.ItemText(-1, 0), "");
    l.SetExtendedStyle(LVS_EX_FULLROWSELECT);
    EXPECT_EQ(l.ExtendedStyle(), LVS_EX_FULLROWSELECT);
    EXPECT_TRUE(l.DeleteAllItems());
    EXPECT_EQ(l.ItemCount(), 0);
    EXPECT_EQ(l.FirstSelected(), -1);
    dlg.EndDialog(IDOK);
  });
  dlg.DoModal();
  EXPECT_TRUE(dlg.changes.empty());  // inserting and deleting rows changes no row's state
}

TEST_F(ControlsTest, ProgrammaticSelectionIsReportedRowByRow) {
  ControlsDlg dlg(IDD_ASSIGN_LIST);
  ui.Then([&](auto&) {
    ListView& l = dlg.processes;
    for (int i = 0; i < 3; ++i) l.InsertItem(i, "p" + std::to_string(i));
    EXPECT_TRUE(l.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED));
    EXPECT_TRUE(l.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED));  // unchanged: no notification
    EXPECT_TRUE(l.SetItemState(2, LVIS_SELECTED, LVIS_SELECTED));  // single selection: row 0 lets go first
    EXPECT_EQ(l.FirstSelected(), 2);
    EXPECT_EQ(l.ItemState(0, LVIS_SELECTED), 0u);
    EXPECT_FALSE(l.SetItemState(3, LVIS_SELECTED, LVIS_SELECTED));
    l.DeselectAll();
    EXPECT_EQ(l.FirstSelected(), -1);
    dlg.EndDialog(IDOK);
  });
  dlg.DoModal();
  ASSERT_EQ(dlg.changes.size(), 4u);
  const auto expect = [&](std::size_t i, int row, unsigned oldState, unsigned newState) {
    EXPECT_EQ(dlg.changes[i].hdr.code, LVN_ITEMCHANGED);
    EXPECT_EQ(dlg.changes[i].hdr.idFrom, static_cast<std::uintptr_t>(IDC_PROCESS_LIST));
    EXPECT_EQ(dlg.changes[i].iItem, row);
    EXPECT_EQ(dlg.changes[i].uOldState, oldState);
    EXPECT_EQ(dlg.changes[i].uNewState, newState);
    EXPECT_EQ(dlg.changes[i].uChanged, LVIF_STATE);
  };
  expect(0, 0, 0, LVIS_SELECTED);
  expect(1, 0, LVIS_SELECTED, 0);
  expect(2, 2, 0, LVIS_SELECTED);
  expect(3, 2, LVIS_SELECTED, 0);
}

TEST_F(ControlsTest, UserSelectionAndRightClickReachTheDialog) {
  ControlsDlg dlg(IDD_ASSIGN_LIST);
  dlg.mirror = true;
  ui.Then([&](auto&) {
    for (int i = 0; i < 3; ++i) {
      dlg.windows.InsertItem(i, "w" + std::to_string(i));
      dlg.processes.InsertItem(i, "p" + std::to_string(i));
    }
  });
  ui.SelectRow(IDC_WINDOW_LIST, 1);
  ui.RightClickRow(IDC_WINDOW_LIST, 2);
  ui.RightClickRow(IDC_PROCESS_LIST, -1);
  ui.ClickEmptyListArea(IDC_WINDOW_LIST);
  ui.SelectRow(IDC_WINDOW_LIST, 5);  // no such row: reported, nothing sent
  ui.Then([&](auto&) {
    EXPECT_EQ(dlg.windows.FirstSelected(), -1);
    EXPECT_EQ(dlg.windows.NextItem(-1, LVNI_FOCUSED), 2);
    EXPECT_EQ(dlg.processes.FirstSelected(), 2);  // mirrored from the window list
  });
  ui.PressEscape();
  dlg.DoModal();
  ASSERT_EQ(dlg.rclicks.size(), 2u);
  EXPECT_EQ(dlg.rclicks[0].hdr.idFrom, static_cast<std::uintptr_t>(IDC_WINDOW_LIST));
  EXPECT_EQ(dlg.rclicks[0].iItem, 2);
  EXPECT_EQ(dlg.rclicks[1].iItem, -1);
  // Window list: row 1 selected and focused; row 1 loses both to row 2; row 2 deselected.
  // Process list: rows 1 and 2 selected in turn by the mirror, row 1 let go in between.
  std::vector<std::pair<std::uintptr_t, int>> seen;
  for (const ListViewNotify& n : dlg.changes) seen.emplace_back(n.hdr.idFrom, n.iItem);
  const std::vector<std::pair<std::uintptr_t, int>> expected = {
      {IDC_WINDOW_LIST, 1}, {IDC_PROCESS_LIST, 1}, {IDC_WINDOW_LIST, 1},  {IDC_WINDOW_LIST, 1},
      {IDC_WINDOW_LIST, 2}, {IDC_PROCESS_LIST, 1}, {IDC_PROCESS_LIST, 2}, {IDC_WINDOW_LIST, 2}};
  EXPECT_EQ(seen, expected);
  ASSERT_EQ(ui.Errors().size(), 1u);
}

TEST_F(ControlsTest, EnsureVisibleScrollsOnlyWhenNeeded) {
  ControlsDlg dlg(IDD_ASSIGN_LIST);
  ui.Then([&](auto&) {
    ListView& l = dlg.processes;
    for (int i = 0; i < 60; ++i) l.InsertItem(i, "p");
    const headless::ControlState* state = ui.FindControl(IDD_ASSIGN_LIST, IDC_PROCESS_LIST);
    ASSERT_NE(state, nullptr);
    const int full = headless::HeadlessBackend::FullRows(*state);
    ASSERT_GT(full, 2);
    EXPECT_TRUE(l.IsItemVisible(0));
    EXPECT_TRUE(l.IsItemVisible(full - 1));
    EXPECT_FALSE(l.IsItemVisible(full + 1));
    EXPECT_TRUE(l.EnsureVisible(40, true));
    EXPECT_TRUE(l.IsItemVisible(40));
    EXPECT_FALSE(l.IsItemVisible(0));
    EXPECT_TRUE(l.EnsureVisible(39, true));  // already on screen: nothing moves
    EXPECT_TRUE(l.IsItemVisible(40));
    EXPECT_TRUE(l.EnsureVisible(3, false));
    EXPECT_TRUE(l.IsItemVisible(3));
    EXPECT_FALSE(l.IsItemVisible(40));
    EXPECT_FALSE(l.EnsureVisible(60, true));
    dlg.EndDialog(IDOK);
  });
  dlg.DoModal();
}

TEST_F(ControlsTest, ImageListIconsOutliveTheListTheyWereCopiedFrom) {
  ControlsDlg dlg(IDD_ASSIGN_LIST);
  int released = 0;
  ui.Then([&](auto&) {
    ImageList images;
    EXPECT_EQ(images.Add(LoadIconResource(IDR_MAINFRAME, 16)), -1);  // not created yet
    ASSERT_TRUE(images.Create(16, 16, ILC_COLORDDB | ILC_MASK, 1, 1));
    EXPECT_EQ(images.Add(LoadIconResource(IDR_MAINFRAME, 16)), 0);
    EXPECT_EQ(images.Add(Icon::FromHandle(0x55, 16, 16, [&](std::uintptr_t h) { released += h == 0x55 ? 1 : 100; })),
              1);
    EXPECT_EQ(images.Add(Icon{}), -1);
    dlg.windows.SetSmallImageList(&images);
    dlg.windows.InsertItem(0, "with icon", 1);
    images.Destroy();
    EXPECT_EQ(released, 0);  // the list view still holds its copy
    const headless::ControlState* state = ui.FindControl(IDD_ASSIGN_LIST, IDC_WINDOW_LIST);
    ASSERT_EQ(state->smallImages.size(), 2u);
    EXPECT_EQ(state->smallImages[1].Handle(), 0x55u);
    EXPECT_EQ(dlg.windows.ItemImage(0), 1);
    dlg.windows.SetSmallImageList(nullptr);
    EXPECT_EQ(released, 1);  // the last copy is gone: released once
    dlg.EndDialog(IDOK);
  });
  dlg.DoModal();
  EXPECT_EQ(released, 1);
}

TEST_F(ControlsTest, AddedControlsGrowTheWindowAndAnswerLikeTemplateControls) {
  RecordingBoxes dlg(IDD_CHANGE_CPU_ASSIGN);
  ui.Then([&](auto&) {
    const Size before = dlg.ClientSize();
    ASSERT_TRUE(dlg.AddControls(BoxColumns(2)));
    const headless::WindowState* w = ui.FindWindowByTemplate(IDD_CHANGE_CPU_ASSIGN);
    const int shift = (80 + 88) * 6 / 4 - 80 * 6 / 4;
    EXPECT_EQ(dlg.ClientSize().cx, before.cx + shift);
    EXPECT_EQ(dlg.ClientSize().cy, before.cy);
    EXPECT_FALSE(w->block.scrolls);
    // The buttons keep to the right edge, the edit widens with it, the boxes stay.
    EXPECT_EQ(ui.FindControl(IDD_CHANGE_CPU_ASSIGN, IDOK)->rect.x, 112 * 6 / 4 + shift);
    EXPECT_EQ(ui.FindControl(IDD_CHANGE_CPU_ASSIGN, 3000)->rect.x, 112 * 6 / 4 + shift);
    EXPECT_EQ(ui.FindControl(IDD_CHANGE_CPU_ASSIGN, IDC_TARGET_TEXT)->rect.cx, 155 * 6 / 4 + shift);
    EXPECT_EQ(ui.FindControl(IDD_CHANGE_CPU_ASSIGN, IDC_CPU7)->rect.x, 51 * 6 / 4);
    EXPECT_EQ(ui.FindControl(IDD_CHANGE_CPU_ASSIGN, 2015)->rect.x, 139 * 6 / 4);
    EXPECT_EQ(ui.FindControl(IDD_CHANGE_CPU_ASSIGN, 2015)->text, "CPU 15");
    // A second block may not take an id that is in use.
    EXPECT_FALSE(dlg.AddControls(BoxColumns(1)));
    dlg.ButtonItem(2009).Enable(false);
  });
  ui.Click(2015);
  ui.Click(2015);
  ui.Click(IDC_CPU1);
  ui.Click(3000);
  ui.Click(2009);  // disabled: takes no click
  ui.Then([&](auto& b) {
    ASSERT_EQ(b.Errors().size(), 1u);
    b.ClearScript();
    dlg.EndDialog(IDOK);
  });
  dlg.DoModal();
  EXPECT_EQ(dlg.seen, (std::vector<std::pair<unsigned, int>>{
                          {2015, BST_CHECKED}, {2015, BST_UNCHECKED}, {IDC_CPU1, BST_CHECKED}, {3000, BST_UNCHECKED}}));
  // The added controls went with the window: the next run starts from the template.
  EXPECT_FALSE(dlg.HasControl(2015));
  EXPECT_TRUE(dlg.HasControl(IDC_CPU7));
}

TEST_F(ControlsTest, ABlockTooWideForTheScreenScrollsAndTheWindowStaysOnIt) {
  RecordingBoxes dlg(IDD_CHANGE_CPU_ASSIGN);
  ui.SetScreenSize(Size{800, 600});
  ui.Then([&](auto&) {
    const Size before = dlg.ClientSize();
    ASSERT_TRUE(dlg.AddControls(BoxColumns(254)));  // 1024 processors
    const headless::WindowState* w = ui.FindWindowByTemplate(IDD_CHANGE_CPU_ASSIGN);
    EXPECT_EQ(dlg.ClientSize().cx, 800);
    EXPECT_TRUE(w->block.scrolls);
    EXPECT_EQ(w->block.viewport.cx, 80 * 6 / 4 + (800 - before.cx));
    EXPECT_EQ(w->block.contentWidth, (80 + 44 * 254) * 6 / 4);
    // The scroll bar needs more than the room below the boxes: the window grows by the difference.
    EXPECT_EQ(dlg.ClientSize().cy, before.cy + headless::HeadlessBackend::kScrollBarPixels - 7 * 13 / 8);
    EXPECT_TRUE(ui.FindControl(IDD_CHANGE_CPU_ASSIGN, IDC_CPU0)->inScrollingBlock);
    EXPECT_TRUE(ui.FindControl(IDD_CHANGE_CPU_ASSIGN, 2008 + 1015)->inScrollingBlock);
    EXPECT_FALSE(ui.FindControl(IDD_CHANGE_CPU_ASSIGN, IDOK)->inScrollingBlock);
    EXPECT_EQ(ui.FindControl(IDD_CHANGE_CPU_ASSIGN, IDOK)->rect.x + 50 * 6 / 4, 800 - (169 - 162) * 6 / 4);
  });
  ui.Click(2008 + 1015);
  ui.Then([&](auto&) { dlg.EndDialog(IDOK); });
  dlg.DoModal();
  EXPECT_TRUE(ui.Errors().empty());
  EXPECT_EQ(dlg.seen, (std::vector<std::pair<unsigned, int>>{{2008 + 1015, BST_CHECKED}}));
}

}  // namespace
