// The settings dialog on the fake system: lists, selection, processor boxes, popups, adding to the
// watch list, closing, and the window icons over many updates.
#include <map>
#include <optional>
#include <set>

#include "engine/system_snapshot.h"
#include "res/texts.h"
#include "tests/support/dialogs_fixture.h"
#include "tests/support/recorded_machine.h"
#include "ui/assign_list_dlg.h"
#include "ui/cpu_boxes.h"

namespace {

constexpr int kDlg = IDD_ASSIGN_LIST;

// A shell that hands out a fresh handle icon at every request, as the system's shell does, and
// counts the ones still alive.
class CountingShell final : public framework::IShell {
 public:
  bool OpenAddress(const std::string&) override { return true; }
  framework::Icon FileIcon(const std::string& path) override {
    ++requests;
    requested.insert(path);
    ++live_;
    return framework::Icon::FromHandle(++next_, 16, 16, [this](std::uintptr_t) { --live_; });
  }
  int Live() const { return live_; }
  int requests = 0;
  std::set<std::string> requested;

 private:
  std::uintptr_t next_ = 0;
  int live_ = 0;
};

class AssignListTest : public DialogsTest {
 protected:
  void SetUp() override {
    DialogsTest::SetUp();
    dlg.emplace(*app);
    system.processorCount = 4;
    // Listed in name order: alpha (row 0), beta (row 1), gamma (row 2).
    system.AddProcess(30, "/usr/bin/gamma", 0x1);
    system.AddProcess(10, "/usr/bin/alpha", 0x3);
    system.AddProcess(20, "/opt/Beta/beta", 0x6);
    system.AddWindow(0x500, "Beta window", "BetaClass", 20);
    system.AddWindow(0x600, "Orphan window", "OrphanClass", 99);  // its process is not listed
    system.AddWindow(0x700, "Gamma window", "GammaClass", 30);
  }

  std::size_t BoxesShown() const { return ui.MessageBoxes().size(); }

  // Made once the application object exists.
  std::optional<CAssignListDlg> dlg;
};

TEST_F(AssignListTest, OpeningFillsBothListsAndShowsTheFirstProcess) {
  shell.SetFileIcon("/opt/beta/beta", framework::Icon::FromHandle(1, 16, 16, nullptr));
  shell.SetFileIcon("/usr/bin/gamma", framework::Icon::FromHandle(2, 16, 16, nullptr));
  Check([&] {
    const auto* window = ui.FindWindowByTemplate(kDlg);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(0u, window->exStyle & WS_EX_APPWINDOW);
    ASSERT_EQ(2u, window->systemMenu.size());
    EXPECT_EQ(0u, window->systemMenu[0].first);
    EXPECT_EQ(static_cast<unsigned>(IDM_ABOUTBOX), window->systemMenu[1].first);
    EXPECT_EQ("バージョン情報 MavrinTest(&A)...", window->systemMenu[1].second);
    EXPECT_TRUE(window->bigIcon.SameAs(dlg->AppIcon()));
    EXPECT_TRUE(window->smallIcon.SameAs(dlg->AppIcon()));

    const auto* processes = Control(kDlg, IDC_PROCESS_LIST);
    ASSERT_EQ(2u, processes->columns.size());
    EXPECT_EQ("プロセス", processes->columns[0].heading);
    EXPECT_EQ(180, processes->columns[0].width);
    EXPECT_EQ("CPU", processes->columns[1].heading);
    EXPECT_EQ(80, processes->columns[1].width);
    EXPECT_EQ(static_cast<unsigned>(LVS_EX_FULLROWSELECT), processes->listExStyle);
    ASSERT_EQ(3u, processes->rows.size());
    EXPECT_EQ("alpha", RowText(kDlg, IDC_PROCESS_LIST, 0, 0));
    EXPECT_EQ("2 [oo--]", RowText(kDlg, IDC_PROCESS_LIST, 0, 1));
    EXPECT_EQ("beta", RowText(kDlg, IDC_PROCESS_LIST, 1, 0));
    EXPECT_EQ("2 [-oo-]", RowText(kDlg, IDC_PROCESS_LIST, 1, 1));
    EXPECT_EQ(std::vector<int>{0}, SelectedRows(kDlg, IDC_PROCESS_LIST));

    const auto* windows = Control(kDlg, IDC_WINDOW_LIST);
    ASSERT_EQ(1u, windows->columns.size());
    EXPECT_EQ("アプリケーション", windows->columns[0].heading);
    EXPECT_EQ(240, windows->columns[0].width);
    EXPECT_EQ(static_cast<unsigned>(LVS_EX_FULLROWSELECT), windows->listExStyle);
    ASSERT_EQ(3u, windows->rows.size());
    EXPECT_EQ("Beta window", windows->rows[0].texts[0]);
    EXPECT_EQ("Orphan window", windows->rows[1].texts[0]);
    EXPECT_TRUE(SelectedRows(kDlg, IDC_WINDOW_LIST).empty());
    // Each row shows the icon of its own executable; the orphan has none.
    ASSERT_EQ(2u, windows->smallImages.size());
    ASSERT_GE(windows->rows[0].image, 0);
    EXPECT_EQ(1u, windows->smallImages[static_cast<std::size_t>(windows->rows[0].image)].Handle());
    EXPECT_EQ(-1, windows->rows[1].image);
    ASSERT_GE(windows->rows[2].image, 0);
    EXPECT_EQ(2u, windows->smallImages[static_cast<std::size_t>(windows->rows[2].image)].Handle());

    // Row 0's mask 0x3 on four processors; boxes 4 to 7 stand for no processor.
    EXPECT_EQ(BST_CHECKED, CheckOf(kDlg, IDC_CPU0));
    EXPECT_EQ(BST_CHECKED, CheckOf(kDlg, IDC_CPU1));
    EXPECT_EQ(BST_UNCHECKED, CheckOf(kDlg, IDC_CPU2));
    EXPECT_TRUE(EnabledOf(kDlg, IDC_CPU3));
    EXPECT_FALSE(EnabledOf(kDlg, IDC_CPU4));
    EXPECT_FALSE(EnabledOf(kDlg, IDC_CPU7));
  });
  ui.PressEscape();
  EXPECT_EQ(IDCANCEL, dlg->DoModal());
  ExpectScriptFit();
}

TEST_F(AssignListTest, EachWayOfClosingEndsWithItsOwnCodeAndReopeningStartsAfresh) {
  ui.PressEnter();
  EXPECT_EQ(IDOK, dlg->DoModal());

  ui.CloseBox();
  EXPECT_EQ(0, dlg->DoModal());
  EXPECT_EQ("end\n", Diagnostics());

  Check([&] {
    EXPECT_EQ(2u, Control(kDlg, IDC_PROCESS_LIST)->columns.size());
    EXPECT_EQ(2u, ui.FindWindowByTemplate(kDlg)->systemMenu.size());
  });
  ui.Click(IDCANCEL);
  EXPECT_EQ(IDCANCEL, dlg->DoModal());
  EXPECT_EQ("end\n", Diagnostics());
  EXPECT_FALSE(dlg->HasWindow());
  ExpectScriptFit();
}

TEST_F(AssignListTest, ATickedBoxAddsTheProcessorRebuildsTheListsAndKeepsTheRow) {
  ui.SelectRow(IDC_PROCESS_LIST, 1);  // beta, 0x6
  Check([&] { EXPECT_EQ(BST_UNCHECKED, CheckOf(kDlg, IDC_CPU0)); });
  ui.Click(IDC_CPU0);
  Check([&] {
    EXPECT_EQ(0x7u, system.FindProcess(20)->mask);
    EXPECT_EQ(std::vector<int>{1}, SelectedRows(kDlg, IDC_PROCESS_LIST));
    EXPECT_EQ("3 [ooo-]", RowText(kDlg, IDC_PROCESS_LIST, 1, 1));
    EXPECT_EQ(BST_CHECKED, CheckOf(kDlg, IDC_CPU0));
    EXPECT_EQ(BST_CHECKED, CheckOf(kDlg, IDC_CPU2));
  });
  // A checked box turns indeterminate on a click: that removes the processor.
  ui.Click(IDC_CPU1);
  Check([&] {
    EXPECT_EQ(0x5u, system.FindProcess(20)->mask);
    EXPECT_EQ(BST_UNCHECKED, CheckOf(kDlg, IDC_CPU1));
    EXPECT_EQ("2 [o-o-]", RowText(kDlg, IDC_PROCESS_LIST, 1, 1));
  });
  ui.PressEscape();
  dlg->DoModal();
  EXPECT_EQ(std::set<std::string>{"/opt/beta/beta"}, app->GetQuickChangedPaths());
  EXPECT_EQ(0u, BoxesShown());
  ExpectScriptFit();
}

TEST_F(AssignListTest, AfterAChangeTheChangedProcessStaysSelectedWhenANewOneIsListedBeforeIt) {
  ui.SelectRow(IDC_PROCESS_LIST, 1);  // beta
  // A process that sorts first starts between the change and the rebuild.
  Check([&] { system.AddProcess(40, "/usr/bin/aaa", 0x1); });
  ui.Click(IDC_CPU0);
  Check([&] {
    EXPECT_EQ(0x7u, system.FindProcess(20)->mask);
    EXPECT_EQ("beta", RowText(kDlg, IDC_PROCESS_LIST, 2, 0));
    EXPECT_EQ(std::vector<int>{2}, SelectedRows(kDlg, IDC_PROCESS_LIST));
    EXPECT_EQ(BST_CHECKED, CheckOf(kDlg, IDC_CPU2));
  });
  ui.PressEscape();
  dlg->DoModal();
  ExpectScriptFit();
}

TEST_F(AssignListTest, RefusedOrImpossibleChangesPutTheBoxBack) {
  // Without a selected row the boxes act on row 0 (alpha, 0x3).
  ui.ClickEmptyListArea(IDC_PROCESS_LIST);
  ui.Click(IDC_CPU1);  // removes processor 1: accepted, alpha keeps processor 0 only
  Check([&] { EXPECT_EQ(0x1u, system.FindProcess(10)->mask); });
  // Removing the last processor would leave an empty mask: refused, no message.
  ui.Click(IDC_CPU0);
  Check([&] {
    EXPECT_EQ(0x1u, system.FindProcess(10)->mask);
    EXPECT_EQ(BST_CHECKED, CheckOf(kDlg, IDC_CPU0));
    EXPECT_EQ(0u, BoxesShown());
  });
  // The process of row 1 ends before the click: the message, and the box goes back.
  ui.SelectRow(IDC_PROCESS_LIST, 1);
  Check([&] { system.RemoveProcess(20); });
  ui.Click(IDC_CPU3);
  ui.AnswerMessageBox(IDOK);
  Check([&] {
    ASSERT_EQ(1u, BoxesShown());
    EXPECT_EQ(res::Text(res::TextId::kProcessUnavailable), ui.MessageBoxes()[0].text);
    EXPECT_EQ(BST_UNCHECKED, CheckOf(kDlg, IDC_CPU3));
  });
  ui.PressEscape();
  dlg->DoModal();
  EXPECT_EQ(std::set<std::string>{"/usr/bin/alpha"}, app->GetQuickChangedPaths());
  ExpectScriptFit();
}

TEST_F(AssignListTest, WithNoProcessListedBoxesChangeNothing) {
  system.processorCount = 2;
  system.RemoveProcess(10);
  system.RemoveProcess(20);
  system.RemoveProcess(30);
  Check([&] {
    EXPECT_EQ(0u, RowCount(kDlg, IDC_PROCESS_LIST));
    // Never shown a mask: every box is still usable.
    EXPECT_TRUE(EnabledOf(kDlg, IDC_CPU5));
  });
  ui.Click(IDC_CPU0);  // an existing processor: set back
  ui.Click(IDC_CPU5);  // no such processor: indeterminate
  Check([&] {
    EXPECT_EQ(BST_UNCHECKED, CheckOf(kDlg, IDC_CPU0));
    EXPECT_EQ(BST_INDETERMINATE, CheckOf(kDlg, IDC_CPU5));
  });
  ui.PressEscape();
  dlg->DoModal();
  EXPECT_EQ(0u, system.CountCalls(platform::FakeCall::kSetMask));
  EXPECT_EQ(0u, BoxesShown());
  EXPECT_TRUE(app->GetQuickChangedPaths().empty());
  ExpectScriptFit();
}

TEST_F(AssignListTest, SelectingAWindowSelectsItsProcessAndSelectingAProcessClearsTheWindow) {
  // Enough processes that gamma's row lies below the visible part of the list.
  for (int i = 0; i < 40; ++i)
    system.AddProcess(100 + static_cast<unsigned>(i), "/usr/bin/b" + std::to_string(100 + i), 0x1);
  ui.SelectRow(IDC_WINDOW_LIST, 2);  // Gamma window
  Check([&] {
    const auto* processes = Control(kDlg, IDC_PROCESS_LIST);
    const int gamma = static_cast<int>(processes->rows.size()) - 1;
    EXPECT_EQ("gamma", RowText(kDlg, IDC_PROCESS_LIST, gamma, 0));
    EXPECT_EQ(std::vector<int>{gamma}, SelectedRows(kDlg, IDC_PROCESS_LIST));
    EXPECT_TRUE(ui.LvIsItemVisible(dlg->GetSafeHwnd(), IDC_PROCESS_LIST, gamma));
    // The window the user chose stays chosen.
    EXPECT_EQ(std::vector<int>{2}, SelectedRows(kDlg, IDC_WINDOW_LIST));
    EXPECT_EQ(BST_CHECKED, CheckOf(kDlg, IDC_CPU0));
    EXPECT_EQ(BST_UNCHECKED, CheckOf(kDlg, IDC_CPU1));
  });
  // A window whose process is not listed: no process row stays selected, the boxes stay.
  ui.SelectRow(IDC_WINDOW_LIST, 1);
  Check([&] {
    EXPECT_TRUE(SelectedRows(kDlg, IDC_PROCESS_LIST).empty());
    EXPECT_EQ(std::vector<int>{1}, SelectedRows(kDlg, IDC_WINDOW_LIST));
    EXPECT_EQ(BST_CHECKED, CheckOf(kDlg, IDC_CPU0));
  });
  ui.SelectRow(IDC_WINDOW_LIST, 0);  // Beta window
  // Clearing the window selection leaves the process where it is.
  ui.ClickEmptyListArea(IDC_WINDOW_LIST);
  Check([&] {
    EXPECT_EQ("beta", RowText(kDlg, IDC_PROCESS_LIST, SelectedRows(kDlg, IDC_PROCESS_LIST).at(0), 0));
    EXPECT_EQ(BST_UNCHECKED, CheckOf(kDlg, IDC_CPU0));
  });
  ui.SelectRow(IDC_WINDOW_LIST, 0);
  ui.SelectRow(IDC_PROCESS_LIST, 0);  // alpha
  Check([&] {
    EXPECT_TRUE(SelectedRows(kDlg, IDC_WINDOW_LIST).empty());
    EXPECT_EQ(std::vector<int>{0}, SelectedRows(kDlg, IDC_PROCESS_LIST));
    EXPECT_EQ(BST_CHECKED, CheckOf(kDlg, IDC_CPU1));
  });
  ui.PressEscape();
  dlg->DoModal();
  ExpectScriptFit();
}

TEST_F(AssignListTest, PopupsShowTheRowsInformationCutToTheBuffer) {
  // 1 + 700 three-byte characters: the cut at 1,023 bytes falls inside a character.
  std::string longTitle = "T";
  std::string longDir = "/";
  for (int i = 0; i < 700; ++i) {
    longTitle += "窓";
    longDir += "長";
  }
  system.AddProcess(50, longDir + "/delta", 0x1);
  system.AddWindow(0x800, longTitle, "DeltaClass", 50);
  const std::string expectedTitle = longTitle.substr(0, 1 + 340 * 3);
  const std::string expectedPath = longDir.substr(0, 1 + 340 * 3);

  ui.SetCursorPos({321, 123});
  ui.RightClickRow(IDC_WINDOW_LIST, 3);
  Check([&] {
    const framework::Menu* menu = ui.TrackedMenu();
    ASSERT_NE(menu, nullptr);
    const framework::MenuItem* title = menu->FindItem(ID_WINDOWLIST_WINDOW_NAME);
    const framework::MenuItem* path = menu->FindItem(ID_WINDOWLIST_PROCESS_NAME);
    ASSERT_NE(title, nullptr);
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(expectedTitle, title->text);
    EXPECT_EQ(expectedPath, path->text);
    EXPECT_TRUE(title->IsGrayed());
    EXPECT_TRUE(path->IsGrayed());
    EXPECT_NE(nullptr, menu->FindItem(ID_WINDOWLIST_ADD));
  });
  ui.DismissMenu();
  ui.RightClickRow(IDC_PROCESS_LIST, 1);
  Check([&] {
    const framework::Menu* menu = ui.TrackedMenu();
    ASSERT_NE(menu, nullptr);
    ASSERT_NE(menu->FindItem(ID_PROCESSLIST_PROCESS_NAME), nullptr);
    EXPECT_EQ("/opt/beta/beta", menu->FindItem(ID_PROCESSLIST_PROCESS_NAME)->text);
    EXPECT_TRUE(menu->FindItem(ID_PROCESSLIST_PROCESS_NAME)->IsGrayed());
  });
  ui.DismissMenu();
  // The orphan window has no process: no popup.
  ui.RightClickRow(IDC_WINDOW_LIST, 1);
  ui.PressEscape();
  dlg->DoModal();

  ASSERT_EQ(2u, ui.Menus().size());
  EXPECT_EQ(static_cast<unsigned>(TPM_RIGHTBUTTON), ui.Menus()[0].flags);
  EXPECT_EQ(321, ui.Menus()[0].position.x);
  EXPECT_EQ(123, ui.Menus()[0].position.y);
  EXPECT_NE(framework::kNoWindowId, ui.Menus()[0].owner);
  EXPECT_EQ(ui.Menus()[0].owner, ui.Menus()[1].owner);
  EXPECT_EQ(2u, ui.ForegroundRequests().size());
  ExpectScriptFit();
}

TEST_F(AssignListTest, RightClickOnAnEmptyProcessListOffersNothing) {
  system.RemoveProcess(10);
  system.RemoveProcess(20);
  system.RemoveProcess(30);
  ui.RightClickRow(IDC_PROCESS_LIST, -1);
  ui.RightClickRow(IDC_WINDOW_LIST, 0);
  ui.PressEscape();
  dlg->DoModal();
  EXPECT_TRUE(ui.Menus().empty());
  ExpectScriptFit();
}

TEST_F(AssignListTest, PopupsAddTheCurrentAssignmentThroughTheConfirmations) {
  ui.RightClickRow(IDC_PROCESS_LIST, 1);  // beta, 0x6
  ui.ChooseMenu(ID_PROCESSLIST_ADD);
  ui.AnswerMessageBox(IDYES);  // add?
  ui.AnswerMessageBox(IDOK);   // added
  Check([&] {
    EXPECT_EQ((std::vector<WatchEntry>{{"/opt/beta/beta", 0x6}}), Entries());
    EXPECT_EQ(Entries(), SavedEntries());
  });
  // From the window list: the same process again, so the question is whether to overwrite.
  Check([&] { system.FindProcess(20)->mask = 0x1; });
  ui.Click(IDC_UPDATE_LIST);
  ui.RightClickRow(IDC_WINDOW_LIST, 0);
  ui.ChooseMenu(ID_WINDOWLIST_ADD);
  ui.AnswerMessageBox(IDNO);
  Check([&] { EXPECT_EQ((std::vector<WatchEntry>{{"/opt/beta/beta", 0x6}}), Entries()); });
  ui.PressEscape();
  dlg->DoModal();
  ASSERT_EQ(3u, ui.MessageBoxes().size());
  EXPECT_NE(std::string::npos, ui.MessageBoxes()[2].text.find("上書き"));
  // Adding touches neither the lists nor the processes.
  EXPECT_EQ(0u, system.CountCalls(platform::FakeCall::kSetMask));
  ExpectScriptFit();
}

// Changing a process by hand exempts its program from observation; adding that assignment to the
// watch list right after (the natural next step) is the user's latest word on it: observed again.
TEST_F(AssignListTest, AnAssignmentAddedAfterAHandChangeIsObservedAgain) {
  ui.SelectRow(IDC_PROCESS_LIST, 1);  // beta, 0x6
  ui.Click(IDC_CPU0);                 // by hand: 0x7
  Check([&] { EXPECT_EQ((QuickChangedPaths{"/opt/beta/beta"}), app->GetQuickChangedPaths()); });
  ui.RightClickRow(IDC_PROCESS_LIST, 1);
  ui.ChooseMenu(ID_PROCESSLIST_ADD);
  ui.AnswerMessageBox(IDYES);
  ui.AnswerMessageBox(IDOK);
  ui.PressEscape();
  dlg->DoModal();
  EXPECT_EQ((std::vector<WatchEntry>{{"/opt/beta/beta", 0x7}}), Entries());
  EXPECT_TRUE(app->GetQuickChangedPaths().empty());
  // Something else moves the process: the next tick puts it back where the user wanted it.
  system.FindProcess(20)->mask = 0x1;
  app->RunObservationCycle();
  EXPECT_EQ(0x7u, system.FindProcess(20)->mask);
  ExpectScriptFit();
}

// The window's own icon comes first; under Wayland an empty window list says why it is empty.
TEST_F(AssignListTest, WindowsShowTheirOwnIconAndAnEmptyWaylandListSaysWhy) {
  std::vector<std::uint8_t> red(16 * 16 * 4, 0);
  for (std::size_t i = 0; i < red.size(); i += 4) red[i] = red[i + 3] = 255;
  system.FindWindow(0x600)->icon = red;  // the orphan: no process, yet a picture of its own
  Check([&] {
    const int image = Control(kDlg, IDC_WINDOW_LIST)->rows.at(1).image;
    ASSERT_GE(image, 0);
    const framework::IconImage* pixels = dlg->WindowImages().At(image).Image();
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(red, pixels->rgba);
    system.RemoveWindow(0x500);
    system.RemoveWindow(0x600);
    system.RemoveWindow(0x700);
    system.onlySomeWindows = true;
  });
  ui.Click(IDC_UPDATE_LIST);
  ui.RightClickRow(IDC_WINDOW_LIST, 0);  // the note stands for no window: no popup
  Check([&] {
    ASSERT_EQ(1u, RowCount(kDlg, IDC_WINDOW_LIST));
    EXPECT_EQ("（Wayland のウィンドウは一覧に出せません）", RowText(kDlg, IDC_WINDOW_LIST, 0, 0));
  });
  ui.PressEscape();
  dlg->DoModal();
  EXPECT_TRUE(ui.Menus().empty());
  ExpectScriptFit();
}

TEST_F(AssignListTest, TheManagementDialogOpensFromTheButtonAndLeavesTheListsAlone) {
  ui.SelectRow(IDC_PROCESS_LIST, 2);
  ui.Click(IDC_MANAGE);
  Check([&] {
    ASSERT_NE(ui.ActiveDialog(), nullptr);
    EXPECT_EQ(IDD_MANAGE_ASSIGN, ui.ActiveDialog()->TemplateId());
  });
  ui.PressEscape();
  Check([&] { EXPECT_EQ(std::vector<int>{2}, SelectedRows(kDlg, IDC_PROCESS_LIST)); });
  ui.PressEscape();
  dlg->DoModal();
  EXPECT_EQ(1u, system.CountCalls(platform::FakeCall::kSnapshot));
  ExpectScriptFit();
}

TEST_F(AssignListTest, WindowIconsNeverPileUpOverUpdates) {
  CountingShell counting;
  framework::SetShell(&counting);
  for (int i = 0; i < 50; ++i) ui.Click(IDC_UPDATE_LIST);
  Check([&] {
    // Two windows have a listed process; each update asked anew and let the old icons go.
    EXPECT_EQ(2, dlg->WindowImages().Count());
    EXPECT_EQ(2u, Control(kDlg, IDC_WINDOW_LIST)->smallImages.size());
    EXPECT_EQ(2, counting.Live());
    EXPECT_EQ(51 * 2, counting.requests);
  });
  ui.PressEscape();
  dlg->DoModal();
  EXPECT_EQ((std::set<std::string>{"/opt/beta/beta", "/usr/bin/gamma"}), counting.requested);
  // Closed, the dialog keeps no icon.
  EXPECT_EQ(0, counting.Live());
  framework::SetShell(&shell);
  ExpectScriptFit();
}

// ---- machines with more processors than the template has boxes ----

TEST_F(AssignListTest, OnAHybridMachineAPresetGivesTheProcessItsCoresAtOnce) {
  UseRecordedMachine(system, "intel_8p16e");
  ui.SelectRow(IDC_PROCESS_LIST, 1);  // beta, 0x6
  ui.Click(IDC_CPU_PRESETS);
  ui.ChooseMenu(ID_PRESET_BASE + 2);  // the efficiency cores, 16-31
  Check([&] {
    EXPECT_EQ(0xFFFF0000u, system.FindProcess(20)->mask);
    EXPECT_EQ(std::vector<int>{1}, SelectedRows(kDlg, IDC_PROCESS_LIST));
    EXPECT_EQ("16 [16-31]", RowText(kDlg, IDC_PROCESS_LIST, 1, 1));
    EXPECT_EQ(BST_UNCHECKED, CheckOf(kDlg, IDC_CPU2));
    EXPECT_EQ(BST_CHECKED, CheckOf(kDlg, CpuBoxId(31)));
  });
  // A box beyond the template's changes that one processor, as the template's own do.
  ui.Click(CpuBoxId(20));  // checked: a click removes processor 20
  Check([&] { EXPECT_EQ(0xFFEF0000u, system.FindProcess(20)->mask); });
  // A refused preset changes nothing and says nothing.
  Check([&] { system.FindProcess(20)->failSetMask = true; });
  ui.Click(IDC_CPU_PRESETS);
  ui.ChooseMenu(ID_PRESET_BASE + 1);
  Check([&] {
    EXPECT_EQ(0xFFEF0000u, system.FindProcess(20)->mask);
    EXPECT_EQ(BST_CHECKED, CheckOf(kDlg, CpuBoxId(31)));
    EXPECT_EQ(0u, BoxesShown());
  });
  ui.PressEscape();
  dlg->DoModal();
  EXPECT_EQ(std::set<std::string>{"/opt/beta/beta"}, app->GetQuickChangedPaths());
  ExpectScriptFit();
}

TEST_F(AssignListTest, OnA128ProcessorMachineABoxChangesItsProcessorAndKeepsTheOther127) {
  system.processorCount = 128;
  system.FindProcess(20)->mask = platform::ProcessorSet::Range(64, 127);
  ui.SelectRow(IDC_PROCESS_LIST, 1);
  Check([&] { EXPECT_EQ("64 [64-127]", RowText(kDlg, IDC_PROCESS_LIST, 1, 1)); });
  ui.Click(IDC_CPU3);
  ui.Click(CpuBoxId(127));
  Check([&] {
    platform::ProcessorSet expected = platform::ProcessorSet::Range(64, 126);
    expected.Set(3);
    EXPECT_EQ(expected, system.FindProcess(20)->mask);
    EXPECT_EQ("64 [3,64-126]", RowText(kDlg, IDC_PROCESS_LIST, 1, 1));
    EXPECT_EQ(BST_UNCHECKED, CheckOf(kDlg, CpuBoxId(127)));
    EXPECT_EQ(BST_CHECKED, CheckOf(kDlg, CpuBoxId(126)));
  });
  ui.PressEscape();
  dlg->DoModal();
  ExpectScriptFit();
}

}  // namespace
