// Report-view lists: columns, rows, and the LVN_ITEMCHANGED / NM_RCLICK reports of every change of
// a row's state, made by the program or by the user.
#include <QHeaderView>
#include <QTreeWidget>
#include <QtTest/QTest>

#include "qt_test_support.h"

namespace mavrin_test {
namespace {

struct Change {
  int id;
  int row;
  unsigned oldState;
  unsigned newState;
  bool operator==(const Change& o) const {
    return id == o.id && row == o.row && oldState == o.oldState && newState == o.newState;
  }
};

std::vector<Change> ChangesOf(const RecordingDialog& dialog) {
  std::vector<Change> out;
  for (const Received& r : dialog.Of(WM_NOTIFY)) {
    if (r.notify.hdr.code == LVN_ITEMCHANGED) {
      EXPECT_EQ(r.notify.uChanged, LVIF_STATE);
      out.push_back({static_cast<int>(r.notify.hdr.idFrom), r.notify.iItem, r.notify.uOldState, r.notify.uNewState});
    }
  }
  return out;
}

void Fill(framework::ListView list, int rows) {
  list.InsertColumn(0, "プロセス", LVCFMT_LEFT, 180);
  list.InsertColumn(1, "CPU", LVCFMT_LEFT, 80);
  for (int i = 0; i < rows; ++i) {
    const int row = list.InsertItem(i, "proc" + std::to_string(i));
    list.SetItemText(row, 1, std::to_string(i) + " [o-]");
  }
}

constexpr unsigned kSel = LVIS_SELECTED;
constexpr unsigned kFoc = LVIS_FOCUSED;

TEST_F(QtBackendTest, ColumnsAndRowsHoldWhatWasPutIn) {
  RecordingDialog dialog(IDD_ASSIGN_LIST);
  RunWith(dialog, [&](QWidget&) {
    framework::ListView list = dialog.ListViewItem(IDC_PROCESS_LIST);
    Fill(list, 3);
    auto* tree = qobject_cast<QTreeWidget*>(backend.ControlWidget(dialog.GetSafeHwnd(), IDC_PROCESS_LIST));
    EXPECT_EQ(list.ColumnCount(), 2);
    EXPECT_EQ(tree->header()->sectionSize(0), 180);
    EXPECT_EQ(tree->header()->sectionSize(1), 80);
    EXPECT_EQ(tree->headerItem()->text(0), QStringLiteral("プロセス"));
    EXPECT_FALSE(tree->header()->sectionsClickable());
    // Insertion in the middle moves the later rows down; a row past the end goes to the end.
    EXPECT_EQ(list.InsertItem(1, "middle"), 1);
    EXPECT_EQ(list.InsertItem(99, "last"), 4);
    EXPECT_EQ(list.ItemCount(), 5);
    EXPECT_EQ(list.ItemText(1, 0), "middle");
    EXPECT_EQ(list.ItemText(2, 0), "proc1");
    EXPECT_EQ(list.ItemText(2, 1), "1 [o-]");
    EXPECT_EQ(list.ItemText(4, 0), "last");
    EXPECT_FALSE(list.SetItemText(9, 0, "x"));
    EXPECT_FALSE(list.SetItemText(0, 5, "x"));
    // Icons by index into the small-image list.
    framework::ImageList images;
    images.Create(16, 16);
    images.Add(framework::LoadIconResource(IDR_MAINFRAME, 16));
    list.SetSmallImageList(&images);
    const int withIcon = list.InsertItem(0, "icon", 0);
    EXPECT_EQ(list.ItemImage(withIcon), 0);
    EXPECT_FALSE(tree->topLevelItem(withIcon)->icon(0).isNull());
    EXPECT_TRUE(tree->topLevelItem(1)->icon(0).isNull());
    list.SetExtendedStyle(LVS_EX_FULLROWSELECT);
    EXPECT_EQ(list.ExtendedStyle(), LVS_EX_FULLROWSELECT);
    EXPECT_TRUE(list.DeleteAllItems());
    EXPECT_EQ(list.ItemCount(), 0);
    dialog.EndDialog(IDCANCEL);
  });
  // Filling and emptying a list changes no row's state.
  EXPECT_TRUE(ChangesOf(dialog).empty());
}

TEST_F(QtBackendTest, ProgramSelectionIsReportedPerRowThatChanged) {
  RecordingDialog dialog(IDD_ASSIGN_LIST);
  RunWith(dialog, [&](QWidget&) {
    framework::ListView list = dialog.ListViewItem(IDC_PROCESS_LIST);
    Fill(list, 3);
    dialog.received.clear();
    list.SetItemState(0, kSel | kFoc, kSel | kFoc);
    EXPECT_EQ(list.FirstSelected(), 0);
    // One row at most is selected: selecting row 2 takes it from row 0 (reported first).
    list.SetItemState(2, kSel, kSel);
    EXPECT_EQ(list.FirstSelected(), 2);
    EXPECT_EQ(list.NextItem(-1, LVNI_FOCUSED), 0);
    // Asking for the state a row has already reports nothing.
    list.SetItemState(2, kSel, kSel);
    list.DeselectAll();
    EXPECT_EQ(list.FirstSelected(), -1);
    EXPECT_EQ(list.ItemState(0, kSel | kFoc), kFoc);
    EXPECT_FALSE(list.SetItemState(3, kSel, kSel));
    dialog.EndDialog(IDCANCEL);
  });
  EXPECT_EQ(ChangesOf(dialog), (std::vector<Change>{{IDC_PROCESS_LIST, 0, 0, kSel | kFoc},
                                                    {IDC_PROCESS_LIST, 0, kSel | kFoc, kFoc},
                                                    {IDC_PROCESS_LIST, 2, 0, kSel},
                                                    {IDC_PROCESS_LIST, 2, kSel, 0}}));
}

TEST_F(QtBackendTest, UserClicksSelectRowsAndRightClicksReportTheRow) {
  RecordingDialog dialog(IDD_ASSIGN_LIST);
  std::vector<int> rightClicked;
  std::vector<int> selectedAtRightClick;
  dialog.onNotify = [&](RecordingDialog& d, const framework::ListViewNotify& nm) {
    if (nm.hdr.code == NM_RCLICK) {
      rightClicked.push_back(nm.iItem);
      selectedAtRightClick.push_back(d.ListViewItem(IDC_PROCESS_LIST).FirstSelected());
    }
  };
  RunWith(dialog, [&](QWidget&) {
    framework::ListView list = dialog.ListViewItem(IDC_PROCESS_LIST);
    Fill(list, 3);
    auto* tree = qobject_cast<QTreeWidget*>(backend.ControlWidget(dialog.GetSafeHwnd(), IDC_PROCESS_LIST));
    QWidget* viewport = tree->viewport();
    const QPoint row1 = tree->visualItemRect(tree->topLevelItem(1)).center();
    const QPoint row2 = tree->visualItemRect(tree->topLevelItem(2)).center();
    const QPoint empty(5, viewport->height() - 5);
    dialog.received.clear();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, row1);
    EXPECT_EQ(list.FirstSelected(), 1);
    QTest::mouseClick(viewport, Qt::RightButton, {}, row2);
    EXPECT_EQ(list.FirstSelected(), 2);
    // Empty space: the selection goes, the right click reports no row.
    QTest::mouseClick(viewport, Qt::RightButton, {}, empty);
    EXPECT_EQ(list.FirstSelected(), -1);
    QTest::mouseClick(viewport, Qt::LeftButton, {}, row1);
    QTest::mouseClick(viewport, Qt::LeftButton, {}, empty);
    EXPECT_EQ(list.FirstSelected(), -1);
    EXPECT_EQ(list.NextItem(-1, LVNI_FOCUSED), 1);
    dialog.EndDialog(IDCANCEL);
  });
  EXPECT_EQ(rightClicked, (std::vector<int>{2, -1}));
  // The row is selected before the right click is reported.
  EXPECT_EQ(selectedAtRightClick, (std::vector<int>{2, -1}));
  const std::vector<Change> changes = ChangesOf(dialog);
  ASSERT_GE(changes.size(), 3u);
  EXPECT_EQ(changes[0], (Change{IDC_PROCESS_LIST, 1, 0, kSel | kFoc}));
  EXPECT_EQ(changes[1], (Change{IDC_PROCESS_LIST, 1, kSel | kFoc, 0}));
  EXPECT_EQ(changes[2], (Change{IDC_PROCESS_LIST, 2, 0, kSel | kFoc}));
  EXPECT_EQ(changes.back(), (Change{IDC_PROCESS_LIST, 1, kSel | kFoc, kFoc}));
}

TEST_F(QtBackendTest, HandlerThatChangesAnotherListIsReportedInsideTheFirstReport) {
  // As the settings dialog does: choosing a process clears the window list's selection, choosing a
  // window selects its process.
  RecordingDialog dialog(IDD_ASSIGN_LIST);
  std::vector<std::string> order;
  dialog.onNotify = [&](RecordingDialog& d, const framework::ListViewNotify& nm) {
    if (nm.hdr.code != LVN_ITEMCHANGED) return;
    order.push_back(std::to_string(nm.hdr.idFrom) + ":" + std::to_string(nm.iItem) + ":" +
                    std::to_string(nm.uNewState));
    if (nm.hdr.idFrom == IDC_WINDOW_LIST && (nm.uNewState & kSel) != 0) {
      d.ListViewItem(IDC_PROCESS_LIST).SetItemState(1, kSel, kSel);
    } else if (nm.hdr.idFrom == IDC_PROCESS_LIST && (nm.uNewState & kSel) != 0) {
      d.ListViewItem(IDC_WINDOW_LIST).DeselectAll();
    }
  };
  RunWith(dialog, [&](QWidget&) {
    Fill(dialog.ListViewItem(IDC_PROCESS_LIST), 2);
    Fill(dialog.ListViewItem(IDC_WINDOW_LIST), 2);
    dialog.ListViewItem(IDC_WINDOW_LIST).SetItemState(0, kSel, kSel);
    dialog.EndDialog(IDCANCEL);
  });
  EXPECT_EQ(order, (std::vector<std::string>{"1002:0:2", "1001:1:2", "1002:0:0"}));
}

TEST_F(QtBackendTest, VisibilityAndScrollingIntoView) {
  RecordingDialog dialog(IDD_MANAGE_ASSIGN);
  RunWith(dialog, [&](QWidget&) {
    framework::ListView list = dialog.ListViewItem(IDC_LIST_WATCH);
    Fill(list, 200);
    EXPECT_TRUE(list.IsItemVisible(0));
    EXPECT_FALSE(list.IsItemVisible(150));
    EXPECT_TRUE(list.EnsureVisible(150, true));
    EXPECT_TRUE(list.IsItemVisible(150));
    EXPECT_FALSE(list.IsItemVisible(0));
    EXPECT_FALSE(list.EnsureVisible(200, true));
    dialog.EndDialog(IDCANCEL);
  });
}

}  // namespace
}  // namespace mavrin_test
