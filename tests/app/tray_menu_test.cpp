// The tray menu played through the whole program: what each opening lists, and what the user's
// choices do, also when the lists change between building the menu and handling the choice.
#include <algorithm>

#include "base/text.h"
#include "tests/support/menu_fixture.h"
#include "ui/change_cpu_assign_dlg.h"

namespace {

const std::string kDeleteText = "下記の設定を削除してよろしいですか？\n\n実行形式名：\n  ";

class TrayMenuTest : public MenuTest {
 protected:
  void SetUp() override {
    MenuTest::SetUp();
    system.processorCount = 4;
    ui.SetModalStartHandler([this](framework::CDialog& d) {
      if (d.TemplateId() == IDD_CHANGE_CPU_ASSIGN) ++changeDialogs;
    });
  }

  // Three processes, listed as editor (row 0), shell (row 1), Game.bin (row 2): names that begin
  // with a lower-case letter come first. Three windows; the third one's process is not listed.
  void AddDesktop() {
    system.AddProcess(100, "/usr/bin/editor", 0x3);
    system.AddProcess(101, "/opt/Game/Game.bin", 0xF);
    system.AddProcess(102, "/usr/bin/shell", 0x1);
    system.AddWindow(0x10, "Editor - notes", "Text", 100);
    system.AddWindow(0x20, "Game", "Game", 101);
    system.AddWindow(0x30, "Orphan", "Other", 999);
  }
  const std::vector<WatchEntry> kEntries{{"/usr/bin/editor", 5}, {"/opt/game/game.bin", 3}, {"/usr/bin/shell", 0xF}};

  platform::ProcessorSet MaskOf(platform::ProcessId pid) {
    const platform::FakeProcess* p = system.FindProcess(pid);
    return p != nullptr ? p->mask : platform::ProcessorSet{};
  }
  std::string ChangeDialogText() const { return Control(IDD_CHANGE_CPU_ASSIGN, IDC_TARGET_TEXT).text; }

  int changeDialogs = 0;
};

TEST_F(TrayMenuTest, EachOpeningListsEntriesWindowsAndProcessesWithTheirProcessors) {
  AddDesktop();
  StoreEntries(kEntries);
  ui.SetCursorPos({640, 480});
  OpenTrayMenu();
  ui.ChooseMenu(ID_QUICK_WINDOW_BASE + 2);  // "Orphan": its process is not listed, so no dialog
  ui.Then([](Backend&) { framework::MainWindow()->PostToSelf(WM_COMMAND, ID_TRAY_PAUSE, 0); });
  OpenTrayMenu();
  ui.DismissMenu();
  ExitProgram();
  RunProgram();

  ASSERT_EQ(2u, ui.Menus().size());
  const framework::Menu& tray = ShownMenu(0);
  EXPECT_EQ((std::vector<std::string>{"設定画面を開く(&S)", "", "監視の一時停止(&P)", "監視設定の削除(&D)",
                                      "CPU割り当てのクイック変更(&A)", "", "Mavrin について(&V)...", "終了(&X)"}),
            Texts(&tray));
  EXPECT_EQ((std::vector<std::string>{" 1 : /usr/bin/editor\t2 [o-o-]", " 2 : /opt/game/game.bin\t2 [oo--]",
                                      " 3 : /usr/bin/shell\t4 [oooo]"}),
            Texts(DeleteMenu(tray)));
  EXPECT_EQ((std::vector<unsigned>{42000, 42001, 42002}), Ids(DeleteMenu(tray)));
  EXPECT_EQ((std::vector<std::string>{" 1 : Editor - notes\t2 [oo--]", " 2 : Game\t4 [oooo]", " 3 : Orphan"}),
            Texts(WindowMenu(tray)));
  EXPECT_EQ((std::vector<unsigned>{40000, 40001, 40002}), Ids(WindowMenu(tray)));
  EXPECT_EQ((std::vector<std::string>{" 1 : editor\t2 [oo--]", " 2 : shell\t1 [o---]", " 3 : Game.bin\t4 [oooo]"}),
            Texts(ProcessMenu(tray)));
  EXPECT_EQ((std::vector<unsigned>{41000, 41001, 41002}), Ids(ProcessMenu(tray)));

  EXPECT_TRUE(tray.FindItem(ID_TRAY_OPEN_SETTINGS)->IsDefault());
  EXPECT_FALSE(tray.FindItem(ID_TRAY_PAUSE)->IsChecked());
  EXPECT_TRUE(ShownMenu(1).FindItem(ID_TRAY_PAUSE)->IsChecked());
  EXPECT_TRUE(ShownMenu(1).FindItem(ID_TRAY_OPEN_SETTINGS)->IsDefault());
  EXPECT_EQ(TPM_RIGHTBUTTON, ui.Menus()[0].flags);
  EXPECT_EQ(640, ui.Menus()[0].position.x);
  EXPECT_EQ(480, ui.Menus()[0].position.y);
  EXPECT_EQ(0, changeDialogs);
}

TEST_F(TrayMenuTest, EmptyListsLeaveTheirSubmenusEmpty) {
  OpenTrayMenu();
  ui.DismissMenu();
  ExitProgram();
  RunProgram();
  ASSERT_EQ(1u, ui.Menus().size());
  const framework::Menu& tray = ShownMenu(0);
  ASSERT_NE(nullptr, DeleteMenu(tray));
  ASSERT_NE(nullptr, WindowMenu(tray));
  ASSERT_NE(nullptr, ProcessMenu(tray));
  EXPECT_EQ(0, DeleteMenu(tray)->ItemCount());
  EXPECT_EQ(0, WindowMenu(tray)->ItemCount());
  EXPECT_EQ(0, ProcessMenu(tray)->ItemCount());
}

TEST_F(TrayMenuTest, DeletingTheSecondEntryAsksAndSavesOnYesAndChangesNothingOnNo) {
  StoreEntries(kEntries);
  OpenTrayMenu();
  ui.ChooseMenu(ID_DELETE_ENTRY_BASE + 1);
  ui.AnswerMessageBox(IDNO);
  std::string fileAfterNo;
  Check([&] {
    EXPECT_EQ(kEntries, Entries());
    fileAfterNo = ReadText(IniPath());
  });
  OpenTrayMenu();
  ui.ChooseMenu(ID_DELETE_ENTRY_BASE + 1);
  ui.AnswerMessageBox(IDYES);
  Check([&] {
    const std::vector<WatchEntry> expected{kEntries[0], kEntries[2]};
    EXPECT_EQ(expected, Entries());
    EXPECT_EQ(expected, SavedEntries());
  });
  ExitProgram();
  const std::string fileBefore = ReadText(IniPath());
  RunProgram();

  EXPECT_EQ(fileBefore, fileAfterNo);
  ASSERT_EQ(2u, ui.MessageBoxes().size());
  EXPECT_EQ(kDeleteText + "/opt/game/game.bin", ui.MessageBoxes()[0].text);
  EXPECT_EQ(kDeleteText + "/opt/game/game.bin", ui.MessageBoxes()[1].text);
  EXPECT_EQ(MB_YESNO, ui.MessageBoxes()[1].type);
}

TEST_F(TrayMenuTest, QuickChangeByWindowSetsTheMaskAndTheCycleLeavesTheExecutableAlone) {
  AddDesktop();
  StoreEntries(kEntries);
  OpenTrayMenu();
  ui.ChooseMenu(ID_QUICK_WINDOW_BASE + 1);  // "Game"
  Check([&] {
    EXPECT_EQ("Game.bin (/opt/game/game.bin)", ChangeDialogText());
    for (int n = 0; n < 4; ++n) EXPECT_EQ(BST_CHECKED, Control(IDD_CHANGE_CPU_ASSIGN, IDC_CPU0 + n).check) << n;
  });
  ui.Click(IDC_CPU0);
  ui.Click(IDC_CPU1);
  ui.Click(IDOK);
  Check([&] {
    EXPECT_EQ(0xCu, MaskOf(101));
    EXPECT_EQ((QuickChangedPaths{"/opt/game/game.bin"}), app->GetQuickChangedPaths());
  });
  ui.AdvanceTime(1000);
  ExitProgram();
  RunProgram();

  EXPECT_EQ(1, changeDialogs);
  const std::string diagnostics = Diagnostics();
  EXPECT_EQ(0u, diagnostics.find("12\n")) << diagnostics;
  EXPECT_NE(std::string::npos, diagnostics.find(" /opt/game/game.bin is quick changed. so don't care it.\n"));
  // The entry's mask 3 is not put back on the hand-changed process; the other entries still act.
  EXPECT_EQ(0xCu, MaskOf(101));
  EXPECT_EQ(0x5u, MaskOf(100));
}

TEST_F(TrayMenuTest, ATickBetweenMenuAndChoiceDoesNotRedirectTheChoice) {
  AddDesktop();
  // A process that sorts first arrives and a tick lists it while the menu is open.
  OpenTrayMenu();
  Check([&] { system.AddProcess(103, "/bin/aaa", 0x1); });
  ui.AdvanceTime(1000);
  ui.ChooseMenu(ID_QUICK_PROCESS_BASE + 1);  // "shell" as shown
  Check([&] { EXPECT_EQ("shell (/usr/bin/shell)", ChangeDialogText()); });
  ui.Click(IDC_CPU3);
  ui.Click(IDOK);

  // The first window closes: the second one, as shown, is still the one reached.
  OpenTrayMenu();
  Check([&] { system.RemoveWindow(0x10); });
  ui.AdvanceTime(1000);
  ui.ChooseMenu(ID_QUICK_WINDOW_BASE + 1);  // "Game" as shown
  Check([&] { EXPECT_EQ("Game.bin (/opt/game/game.bin)", ChangeDialogText()); });
  ui.PressEscape();

  // The window chosen is gone by the time the choice arrives: nothing opens.
  OpenTrayMenu();
  Check([&] { system.RemoveWindow(0x20); });
  ui.AdvanceTime(1000);
  ui.ChooseMenu(ID_QUICK_WINDOW_BASE + 0);  // "Game", now gone
  // The process chosen exits: nothing opens, and no other process is reached.
  OpenTrayMenu();
  Check([&] { system.RemoveProcess(101); });
  ui.AdvanceTime(1000);
  ui.ChooseMenu(ID_QUICK_PROCESS_BASE + 3);  // "Game.bin", the last row, now gone
  ExitProgram();
  RunProgram();

  EXPECT_EQ(2, changeDialogs);
  EXPECT_EQ(0x9u, MaskOf(102));
  EXPECT_EQ(0x3u, MaskOf(100));
  EXPECT_EQ(0x1u, MaskOf(103));
  EXPECT_EQ((QuickChangedPaths{"/usr/bin/shell"}), app->GetQuickChangedPaths());
}

// A click on the icon while the menu is open (a host that sends activations reports it) closes
// that menu, as a click beside it would, rather than stacking a second one on it.
TEST_F(TrayMenuTest, AClickOnTheIconWhileTheMenuIsOpenClosesIt) {
  AddDesktop();
  OpenTrayMenu();
  Check([&] { EXPECT_NE(nullptr, ui.TrackedMenu()); });
  ui.TrayNotify(WM_LBUTTONDOWN);
  Check([&] {
    EXPECT_EQ(nullptr, ui.TrackedMenu());
    EXPECT_FALSE(static_cast<CDummyDlg*>(framework::MainWindow())->IsTrayMenuOpen());
  });
  // The next click opens it again.
  OpenTrayMenu();
  ui.DismissMenu();
  ExitProgram();
  RunProgram();
  ASSERT_EQ(2u, ui.Menus().size());
  EXPECT_EQ(0u, ui.Menus()[0].chosen);
}

// Items of the same name tell their process apart on hover; a second quick change while one is open
// brings that one forward instead of opening exactly on top of it.
TEST_F(TrayMenuTest, ItemsTellTheirProcessAndOneQuickChangeIsOpenAtATime) {
  AddDesktop();
  system.AddProcess(103, "/opt/other/editor", 0x1);
  OpenTrayMenu();
  ui.ChooseMenu(ID_QUICK_PROCESS_BASE + 0);
  OpenTrayMenu();
  ui.ChooseMenu(ID_QUICK_WINDOW_BASE + 1);
  Check([&] {
    EXPECT_EQ(1, changeDialogs);
    ASSERT_NE(ui.ActiveDialog(), nullptr);
    EXPECT_EQ(ui.ActiveDialog()->GetSafeHwnd(), ui.ForegroundRequests().back());
  });
  ui.PressEscape();
  ExitProgram();
  RunProgram();
  const framework::Menu* processes = ProcessMenu(ShownMenu(0));
  ASSERT_NE(processes, nullptr);
  EXPECT_EQ(" 1 : editor\t2 [oo--]", processes->ItemAt(0)->text);  // the texts stay as they were
  EXPECT_EQ(" 2 : editor\t1 [o---]", processes->ItemAt(1)->text);
  EXPECT_EQ("プロセス ID 100：/usr/bin/editor", processes->ItemAt(0)->tip);
  EXPECT_EQ("プロセス ID 103：/opt/other/editor", processes->ItemAt(1)->tip);
  EXPECT_EQ("プロセス ID 101：/opt/game/game.bin", WindowMenu(ShownMenu(0))->ItemAt(1)->tip);
  EXPECT_EQ("", WindowMenu(ShownMenu(0))->ItemAt(2)->tip);  // its process is not listed
}

TEST_F(TrayMenuTest, AProcessThatExitsWhileTheDialogIsOpenIsNotReplacedByAnother) {
  AddDesktop();
  OpenTrayMenu();
  ui.ChooseMenu(ID_QUICK_PROCESS_BASE + 0);  // "editor"
  Check([&] { system.RemoveProcess(100); });
  ui.AdvanceTime(1000);  // shell now holds row 0
  ui.Click(IDC_CPU2);
  ui.Click(IDOK);
  ExitProgram();
  system.ClearCalls();
  RunProgram();

  EXPECT_EQ(1, changeDialogs);
  EXPECT_EQ(0u, system.CountCalls(platform::FakeCall::kSetMask));
  EXPECT_EQ(0x1u, MaskOf(102));
  EXPECT_TRUE(app->GetQuickChangedPaths().empty());
  EXPECT_NE(std::string::npos, Diagnostics().find("\n7\n"));
}

// A second delete started from the tray while the first one's confirmation is still open.
TEST_F(TrayMenuTest, OverlappingDeleteConfirmationsEachDeleteTheEntryTheyShowed) {
  StoreEntries(kEntries);
  OpenTrayMenu();
  ui.ChooseMenu(ID_DELETE_ENTRY_BASE + 2);  // shell
  OpenTrayMenu();                           // from inside the first box
  ui.ChooseMenu(ID_DELETE_ENTRY_BASE + 0);  // editor
  ui.AnswerMessageBox(IDYES);               // the second box
  ui.AnswerMessageBox(IDYES);               // the first box: shell is now the second entry
  Check([&] {
    const std::vector<WatchEntry> expected{kEntries[1]};
    EXPECT_EQ(expected, Entries());
    EXPECT_EQ(expected, SavedEntries());
  });
  ExitProgram();
  RunProgram();
  ASSERT_EQ(2u, ui.MessageBoxes().size());
  EXPECT_EQ(kDeleteText + "/usr/bin/shell", ui.MessageBoxes()[0].text);
  EXPECT_EQ(kDeleteText + "/usr/bin/editor", ui.MessageBoxes()[1].text);
}

TEST_F(TrayMenuTest, NoSubmenuHoldsMoreThanItsIdRange) {
  char name[32];
  for (int i = 0; i < 1003; ++i) {
    std::snprintf(name, sizeof name, "/bin/p%04d", i);
    system.AddProcess(static_cast<platform::ProcessId>(1000 + i), name, 0x1);
  }
  for (int i = 0; i < 1001; ++i) {
    std::snprintf(name, sizeof name, "w%04d", i);
    system.AddWindow(static_cast<platform::WindowHandle>(0x1000 + i), name, "W",
                     static_cast<platform::ProcessId>(1000 + i));
  }
  std::vector<WatchEntry> entries;
  for (int i = 0; i < 1000; ++i) {
    std::snprintf(name, sizeof name, "/opt/e%04d", i);
    entries.push_back({name, 1});
  }
  StoreEntries(entries);
  OpenTrayMenu();
  ui.ChooseMenu(ID_QUICK_PROCESS_BASE + 999);
  Check([&] { EXPECT_EQ("p0999 (/bin/p0999)", ChangeDialogText()); });
  ui.PressEscape();
  ExitProgram();
  RunProgram();

  const framework::Menu& tray = ShownMenu(0);
  const auto expectCapped = [](const framework::Menu* menu, unsigned base, int leftOut) {
    ASSERT_NE(nullptr, menu);
    const int listed = std::min(menu->ItemCount(), 1000);
    for (int i = 0; i < listed; ++i) EXPECT_EQ(base + static_cast<unsigned>(i), menu->ItemAt(i)->id);
    if (leftOut == 0) {
      EXPECT_EQ(1000, menu->ItemCount());
      return;
    }
    ASSERT_EQ(1001, menu->ItemCount());
    const framework::MenuItem* note = menu->ItemAt(1000);
    EXPECT_EQ("… 他 " + std::to_string(leftOut) + " 件", note->text);
    EXPECT_TRUE(note->IsGrayed());
    EXPECT_EQ(0u, note->id);
  };
  expectCapped(ProcessMenu(tray), ID_QUICK_PROCESS_BASE, 3);
  expectCapped(WindowMenu(tray), ID_QUICK_WINDOW_BASE, 1);
  expectCapped(DeleteMenu(tray), ID_DELETE_ENTRY_BASE, 0);
  EXPECT_EQ("1000 : p0999\t1 [o---]", ProcessMenu(tray)->ItemAt(999)->text);
  EXPECT_EQ(1, changeDialogs);
}

TEST_F(TrayMenuTest, LongTextsAreCutWholeCharactersAndShownLiterally) {
  const std::string kanji = "字";  // three bytes
  std::string longPath = "/d/";
  for (int i = 0; i < 40; ++i) longPath += kanji;
  std::string longTitle = "T";
  for (int i = 0; i < 33; ++i) longTitle += "題";  // 100 bytes
  system.AddProcess(100, "/usr/bin/editor", 0x3);
  system.AddProcess(101, "/usr/bin/" + std::string(200, 'x'), 0x1);
  system.AddWindow(0x10, longTitle, "W", 100);
  system.AddWindow(0x20, std::string(150, 'A'), "W", 999);
  system.AddWindow(0x30, "50% %s %n done", "W", 999);
  StoreEntries({{longPath, 1}});
  OpenTrayMenu();
  ui.DismissMenu();
  ExitProgram();
  RunProgram();

  const framework::Menu& tray = ShownMenu(0);
  // " 1 : /d/" and 39 whole characters: the 40th would end past byte 127.
  std::string expectedEntry = " 1 : /d/";
  for (int i = 0; i < 39; ++i) expectedEntry += kanji;
  EXPECT_EQ(std::vector<std::string>{expectedEntry}, Texts(DeleteMenu(tray)));
  EXPECT_EQ(125u, expectedEntry.size());

  // The title is cut to 96 bytes before formatting, again only between characters.
  std::string cutTitle = "T";
  for (int i = 0; i < 31; ++i) cutTitle += "題";
  EXPECT_EQ((std::vector<std::string>{" 1 : " + cutTitle + "\t2 [oo--]", " 2 : " + std::string(96, 'A'),
                                      " 3 : 50% %s %n done"}),
            Texts(WindowMenu(tray)));
  const std::vector<std::string> processes = Texts(ProcessMenu(tray));
  ASSERT_EQ(2u, processes.size());
  EXPECT_EQ(" 2 : " + std::string(122, 'x'), processes[1]);
}

}  // namespace
