// The program's start, main loop and end as the user and the system see them: single instance,
// observation ticks, the tray icon's notifications, the re-entry guards and every way of saving.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app_fixture.h"
#include "res/resource.h"

using framework::headless::ScriptedBackend;

namespace {
constexpr char kWatchedIni[] = "[MAV_RIN]\n001_process_path=/Opt/Tool/TOOL\n001_affinity_mask=1\n";
}

TEST_F(AppTest, SecondInstanceAsksTheFirstToComeForwardSaysSoAndTouchesNothing) {
  registry.held.insert("MAV_RIN");  // another instance runs
  int asked = 0;
  registry.listeners["MAV_RIN"] = [&asked] { ++asked; };
  WriteIni(kWatchedIni);
  const std::string before = ReadText(IniPath());

  EXPECT_FALSE(app->InitInstance());
  EXPECT_FALSE(app->Ran());
  EXPECT_EQ(1, asked);
  EXPECT_NE(Errors().find("既に起動しています"), std::string::npos) << Errors();
  EXPECT_TRUE(ui.TrayCalls().empty());
  EXPECT_TRUE(ui.Windows().empty());
  EXPECT_EQ(0, app->GetWatchList().Count());
  EXPECT_EQ(before, ReadText(IniPath()));
  EXPECT_EQ(0, profile->commits);
}

// Started again, the running program comes forward: its settings dialog, raised when it is open
// (minimised too), opened when it is not.
TEST_F(AppTest, AStartWhileRunningBringsTheSettingsDialogForward) {
  Check([&] { EXPECT_FALSE(StartAgain()); });
  Check([&] { EXPECT_TRUE(MainDialog()->IsSettingsOpen()); });
  Check([&] {
    const framework::WindowId settings = MainDialog()->SettingsDialog().GetSafeHwnd();
    ui.SetMinimized(settings, true);
    EXPECT_FALSE(StartAgain());
  });
  Check([&] {
    const framework::WindowId settings = MainDialog()->SettingsDialog().GetSafeHwnd();
    EXPECT_FALSE(ui.FindWindowState(settings)->minimized);
    EXPECT_EQ(settings, ui.ForegroundRequests().back());
    EXPECT_EQ(2, ui.LoopDepth());  // raised, not opened a second time
  });
  ui.PressEscape();
  ExitProgram();
  RunProgram();
  EXPECT_EQ(2u, Count(Errors(), "既に起動しています．起動中の Mavrin を前面に出しました．"));
}

// Without a notification area the icon is all there is and nobody sees it: the program shows its
// window, which offers the menu's commands and the state, and goes when a notification area appears.
TEST_F(AppTest, WithoutANotificationAreaTheWindowStandsInForTheIcon) {
  WriteIni(kWatchedIni);
  ui.SetNotificationArea(framework::NotificationArea::kNone);
  auto state = [this] { return ui.FindControl(IDD_STATUS, IDC_STATUS_STATE)->text; };
  Check([&] {
    ASSERT_NE(ui.ActiveDialog(), nullptr);
    EXPECT_EQ(IDD_STATUS, ui.ActiveDialog()->TemplateId());
    EXPECT_NE(0u, ui.FindWindowByTemplate(IDD_STATUS)->exStyle & WS_EX_APPWINDOW);  // a task-bar button
    EXPECT_EQ("状態：監視中", state());
  });
  ui.Click(ID_TRAY_PAUSE);
  Check([&] {
    EXPECT_TRUE(MainDialog()->IsPaused());
    EXPECT_EQ("状態：一時停止中", state());
    EXPECT_EQ(BST_CHECKED, ui.FindControl(IDD_STATUS, ID_TRAY_PAUSE)->check);
  });
  ui.Click(ID_STATUS_DELETE_MENU);
  Check([&] { EXPECT_EQ(" 1 : /opt/tool/tool\t1 [o---]", ui.TrackedMenu()->ItemAt(0)->text); });
  ui.DismissMenu();
  ui.Click(ID_STATUS_QUICK_MENU);
  Check([&] { EXPECT_EQ("ウィンドウ(&W)", ui.TrackedMenu()->ItemAt(0)->text); });
  ui.DismissMenu();
  ui.PressEscape();  // the program's only window stays
  ui.Click(ID_TRAY_OPEN_SETTINGS);
  Check([&] { EXPECT_EQ(IDD_ASSIGN_LIST, ui.ActiveDialog()->TemplateId()); });
  ui.PressEscape();
  // A notification area appears: the icon docks by itself and the window goes at the next tick.
  Check([&] { ui.SetNotificationArea(framework::NotificationArea::kMouse); });
  ui.AdvanceTime(1000);
  Check([&] {
    EXPECT_FALSE(MainDialog()->IsStatusWindowShown());
    EXPECT_EQ(1, ui.LoopDepth());
  });
  ExitProgram();
  RunProgram();
}

TEST_F(AppTest, TheWindowsCloseBoxEndsTheProgramAndSaves) {
  WriteIni(kWatchedIni);
  ui.SetNotificationArea(framework::NotificationArea::kNone);
  ui.CloseBox();
  RunProgram();
  EXPECT_EQ(1, profile->commits);
  EXPECT_EQ(NIM_DELETE, ui.TrayCalls().back().action);
}

// Exit ends the program whatever is open: here a delete confirmation over the tray menu's About
// box. The confirmation agrees to nothing, the box goes, the list is saved as it was.
TEST_F(AppTest, ExitClosesEveryDialogAndBoxAndEndsTheProgram) {
  WriteIni(kWatchedIni);
  PostCommand(ID_TRAY_ABOUT);
  ui.TrayNotify(WM_LBUTTONDOWN);
  ui.ChooseMenu(ID_DELETE_ENTRY_BASE);
  Check([&] { EXPECT_EQ(3, ui.LoopDepth()); });  // main, About, and the box
  PostCommand(ID_TRAY_EXIT);
  RunProgram();
  ASSERT_EQ(1u, ui.MessageBoxes().size());
  EXPECT_EQ(IDNO, ui.MessageBoxes()[0].answer);
  EXPECT_EQ((std::vector<WatchEntry>{{"/opt/tool/tool", 1}}), SavedEntries());
  EXPECT_FALSE(g_bAboutOpen);
}

TEST_F(AppTest, StartLoadsObservesAndExitSavesAfterIconAndTimerAreGone) {
  WriteIni(kWatchedIni);
  system.AddProcess(10, "/opt/tool/tool", 0xF);
  bool iconPresentAtSave = true;
  bool timerPresentAtSave = true;
  profile->onCommit = [&] {
    iconPresentAtSave = !ui.TrayIcons().empty();
    timerPresentAtSave = !ui.Windows().empty() && !ui.TimerIds(ui.Windows().front()).empty();
  };

  Check([&] {
    ASSERT_EQ(1u, ui.TrayIcons().size());
    const framework::headless::WindowState* main = ui.FindWindowByTemplate(IDD_DUMMY);
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(main->hidden);
    EXPECT_EQ(0u, main->exStyle & WS_EX_APPWINDOW);
    EXPECT_EQ(std::vector<std::uintptr_t>{0}, ui.TimerIds(main->id));
    EXPECT_EQ(ID_TRAY_ICON, static_cast<int>(ui.TrayIcons()[0].id));
    EXPECT_EQ(WM_TRAY_NOTIFY, ui.TrayIcons()[0].callbackMessage);
    EXPECT_EQ("", ui.TrayIcons()[0].tip);  // the tip is set at the first mouse movement
    ASSERT_EQ(1u, app->GetWatchList().Count());
    EXPECT_EQ("/opt/tool/tool", app->GetWatchList().At(0).exePath);
  });
  ui.AdvanceTime(1000);
  Check([&] { EXPECT_EQ(1u, system.FindProcess(10)->mask); });
  PostCommand(ID_TRAY_EXIT);

  EXPECT_FALSE(app->InitInstance());
  EXPECT_TRUE(app->Ran());
  EXPECT_TRUE(ui.Errors().empty()) << ui.Errors().front();
  EXPECT_EQ(1, profile->commits);
  EXPECT_FALSE(iconPresentAtSave);
  EXPECT_FALSE(timerPresentAtSave);
  ASSERT_FALSE(ui.TrayCalls().empty());
  EXPECT_EQ(NIM_DELETE, ui.TrayCalls().back().action);
  const std::string saved = ReadText(IniPath());
  EXPECT_NE(saved.find("001_process_path=/opt/tool/tool\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("100_affinity_mask=0\n"), std::string::npos);
  EXPECT_EQ(1u, Count(ReadText(LogPath()), "set affinity mask 0x00000001 to process \"/opt/tool/tool\""));
}

TEST_F(AppTest, TicksObserveOnlyWhileNotPausedAndSettingsClosed) {
  WriteIni(kWatchedIni);
  system.AddProcess(10, "/opt/tool/tool", 0xF);

  PostCommand(ID_TRAY_PAUSE);
  ui.AdvanceTime(3000);
  Check([&] {
    EXPECT_EQ(0u, Count(Diagnostics(), "observing...\n"));
    EXPECT_EQ(0u, system.CountCalls(platform::FakeCall::kSnapshot));
    EXPECT_EQ(0xFu, system.FindProcess(10)->mask);
    EXPECT_TRUE(MainDialog()->IsPaused());
  });
  PostCommand(ID_TRAY_PAUSE);
  ui.AdvanceTime(1000);
  Check([&] {
    EXPECT_EQ(1u, Count(Diagnostics(), "observing...\n"));
    EXPECT_EQ(1u, system.FindProcess(10)->mask);
    system.FindProcess(10)->mask = 0xF;
  });
  // With the settings dialog running, ticks do nothing until it closes.
  PostCommand(ID_TRAY_OPEN_SETTINGS);
  Check([&] {
    EXPECT_TRUE(MainDialog()->IsSettingsOpen());
    system.ClearCalls();
  });
  ui.AdvanceTime(3000);
  Check([&] {
    EXPECT_EQ(1u, Count(Diagnostics(), "observing...\n"));
    EXPECT_EQ(0xFu, system.FindProcess(10)->mask);
  });
  ui.PressEscape();
  ui.AdvanceTime(1000);
  Check([&] {
    EXPECT_FALSE(MainDialog()->IsSettingsOpen());
    EXPECT_EQ(2u, Count(Diagnostics(), "observing...\n"));
    EXPECT_EQ(1u, system.FindProcess(10)->mask);
  });
  // Another timer's ticks get only the default handling.
  Check([&] { MainDialog()->SendToSelf(WM_TIMER, 7, 0); });
  Check([&] { EXPECT_EQ(2u, Count(Diagnostics(), "observing...\n")); });
  PostCommand(ID_TRAY_EXIT);

  app->InitInstance();
  EXPECT_TRUE(ui.Errors().empty()) << ui.Errors().front();
}

// A hand edit of the settings file is taken in at the next tick, also while paused, but not while the
// settings dialog (whose management dialog shows the list row by row) is open.
TEST_F(AppTest, HandEditsAreTakenInAtTheNextTickAlsoWhilePausedButNotUnderTheSettingsDialog) {
  WriteIni(kWatchedIni);
  system.AddProcess(10, "/opt/tool/tool", 0xF);
  auto edit = [&](int mask) {
    Check([&, mask] {
      WriteIni("[MAV_RIN]\n001_process_path=/Opt/Tool/TOOL\n001_affinity_mask=" + std::to_string(mask) + "\n");
      settingsMonitor.changed = true;
    });
  };
  auto expectMasks = [&](AffinityMask listed, AffinityMask process) {
    Check([&, listed, process] {
      ASSERT_EQ(1u, app->GetWatchList().Count());
      EXPECT_EQ(listed, app->GetWatchList().At(0).affinityMask);
      EXPECT_EQ(process, system.FindProcess(10)->mask);
    });
  };
  ui.AdvanceTime(1000);
  expectMasks(1, 1);
  PostCommand(ID_TRAY_PAUSE);
  edit(2);
  ui.AdvanceTime(1000);
  expectMasks(2, 1);
  PostCommand(ID_TRAY_OPEN_SETTINGS);
  edit(4);
  ui.AdvanceTime(3000);
  expectMasks(2, 1);
  ui.PressEscape();
  ui.AdvanceTime(1000);
  expectMasks(4, 1);
  PostCommand(ID_TRAY_PAUSE);
  ui.AdvanceTime(1000);
  expectMasks(4, 4);
  ExitProgram();
  RunProgram();
  EXPECT_EQ(2u, Count(Diagnostics(), "reloaded " + IniPath() + ": 1 entries\n"));
  EXPECT_NE(ReadText(IniPath()).find("001_affinity_mask=4\n"), std::string::npos);
}

TEST_F(AppTest, TooltipFollowsThePauseStateAtEachMouseMove) {
  ui.TrayNotify(WM_MOUSEMOVE);
  Check([&] {
    ASSERT_FALSE(ui.TrayCalls().empty());
    const framework::headless::TrayCall& call = ui.TrayCalls().back();
    EXPECT_EQ(NIM_MODIFY, call.action);
    EXPECT_EQ(NIF_TIP, call.data.uFlags);
    EXPECT_EQ("Mavrin (監視中)", ui.TrayIcons().at(0).tip);
  });
  PostCommand(ID_TRAY_PAUSE);
  // Pausing alone leaves a showing tip as it was; the next movement refreshes it.
  Check([&] { EXPECT_EQ("Mavrin (監視中)", ui.TrayIcons().at(0).tip); });
  ui.TrayNotify(WM_MOUSEMOVE);
  Check([&] { EXPECT_EQ("Mavrin (停止中)", ui.TrayIcons().at(0).tip); });
  PostCommand(ID_TRAY_EXIT);
  app->InitInstance();
  EXPECT_TRUE(ui.Errors().empty()) << ui.Errors().front();
  EXPECT_LE(TrayTooltipText(true).size(), 63u);
}

TEST_F(AppTest, TrayClicksOpenTheMenuOrRaiseTheSettingsDialog) {
  // A notification for another icon id is ignored, whatever the mouse did.
  Check([&] { MainDialog()->PostToSelf(WM_TRAY_NOTIFY, 2, WM_LBUTTONDOWN); });
  Check([&] { EXPECT_TRUE(ui.Menus().empty()); });
  // Either button opens the tray menu while the settings dialog is closed.
  ui.TrayNotify(WM_LBUTTONDOWN);
  ui.DismissMenu();
  ui.TrayNotify(WM_RBUTTONDOWN);
  ui.DismissMenu();
  ui.TrayNotify(WM_LBUTTONUP);
  ui.TrayNotify(WM_MBUTTONDOWN);  // where a double click exists, the middle button does nothing
  Check([&] {
    EXPECT_FALSE(MainDialog()->IsSettingsOpen());
    ASSERT_EQ(2u, ui.Menus().size());
    const framework::Menu& shown = ui.Menus()[0].menu;
    const framework::MenuItem* pause = shown.FindItem(ID_TRAY_PAUSE);
    ASSERT_NE(pause, nullptr);
    EXPECT_FALSE(pause->IsChecked());
    EXPECT_TRUE(shown.FindItem(ID_TRAY_OPEN_SETTINGS)->IsDefault());
    EXPECT_EQ(nullptr, shown.FindItem(ID_TRAY_DELETE_DUMMY));
  });
  // A double-click opens the settings dialog; with it open, a click raises it and opens no menu.
  ui.TrayNotify(WM_LBUTTONDBLCLK);
  ui.TrayNotify(WM_RBUTTONDOWN);
  ui.TrayNotify(WM_LBUTTONDBLCLK);
  Check([&] {
    EXPECT_EQ(2u, ui.Menus().size());
    const framework::headless::WindowState* settings = ui.FindWindowByTemplate(IDD_ASSIGN_LIST);
    ASSERT_NE(settings, nullptr);
    ASSERT_FALSE(ui.ForegroundRequests().empty());
    EXPECT_EQ(settings->id, ui.ForegroundRequests().back());
    EXPECT_EQ(2, ui.LoopDepth());  // the second double-click opened nothing
  });
  ui.PressEscape();
  PostCommand(ID_TRAY_PAUSE);
  ui.TrayNotify(WM_LBUTTONDOWN);
  Check([&] {
    ASSERT_NE(ui.TrackedMenu(), nullptr);
    EXPECT_TRUE(ui.TrackedMenu()->FindItem(ID_TRAY_PAUSE)->IsChecked());
  });
  ui.DismissMenu();
  PostCommand(ID_TRAY_EXIT);
  app->InitInstance();
  EXPECT_TRUE(ui.Errors().empty()) << ui.Errors().front();
}

TEST_F(AppTest, AboutFromTheTrayOpensOnlyOnce) {
  PostCommand(ID_TRAY_ABOUT);
  PostCommand(ID_TRAY_ABOUT);  // handled inside the first box's loop: it brings that one forward
  Check([&] {
    EXPECT_EQ(2, ui.LoopDepth());
    EXPECT_TRUE(g_bAboutOpen);
    const framework::headless::WindowState* about = ui.FindWindowByTemplate(IDD_ABOUTBOX);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->id, ui.ForegroundRequests().back());
  });
  ui.PressEnter();
  Check([&] { EXPECT_FALSE(g_bAboutOpen); });
  PostCommand(ID_TRAY_ABOUT);
  Check([&] { EXPECT_EQ(2, ui.LoopDepth()); });
  ui.PressEscape();
  PostCommand(ID_TRAY_EXIT);
  app->InitInstance();
  EXPECT_TRUE(ui.Errors().empty()) << ui.Errors().front();
}

TEST_F(AppTest, SessionEndSavesWithoutEndingTheProgram) {
  WriteIni(kWatchedIni);
  Check([&] {
    app->GetWatchList().Append(WatchEntry{"/usr/bin/new", 2});
    EXPECT_EQ(1, MainDialog()->SendToSelf(WM_QUERYENDSESSION, 0, 0));
    EXPECT_NE(ReadText(IniPath()).find("002_process_path=/usr/bin/new\n"), std::string::npos);
    app->GetWatchList().Append(WatchEntry{"/usr/bin/newer", 3});
    MainDialog()->SendToSelf(WM_ENDSESSION, 0, 0);  // the session goes on: nothing to do
    EXPECT_EQ(std::string::npos, ReadText(IniPath()).find("/usr/bin/newer"));
    MainDialog()->SendToSelf(WM_ENDSESSION, 1, 0);
    EXPECT_NE(ReadText(IniPath()).find("003_process_path=/usr/bin/newer\n"), std::string::npos);
  });
  // A stop signal ends the program through its normal path.
  Check([&] { MainDialog()->PostToSelf(WM_APP_STOP_REQUEST); });
  app->InitInstance();
  EXPECT_TRUE(ui.Errors().empty()) << ui.Errors().front();
  EXPECT_EQ(NIM_DELETE, ui.TrayCalls().back().action);
}

TEST_F(AppTest, AnAcceptedEditSurvivesAKill) {
  WriteIni(kWatchedIni);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The child runs the program, accepts one addition and then waits to be killed.
    ui.SetMessageBoxHandler(
        [](const framework::headless::MessageBoxRecord& box) { return box.type == MB_YESNO ? IDYES : IDOK; });
    Check([&] {
      AddOrUpdateWatchEntry(*app, WatchEntry{"/usr/bin/kept", 3});
      std::FILE* ready = std::fopen((dir + "/ready").c_str(), "w");
      if (ready != nullptr) std::fclose(ready);
      for (;;) pause();
    });
    app->InitInstance();
    _exit(0);
  }
  for (int i = 0; i < 500 && !std::filesystem::exists(dir + "/ready"); ++i) usleep(10000);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  const std::string saved = ReadText(IniPath());
  EXPECT_NE(saved.find("001_process_path=/opt/tool/tool\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("002_process_path=/usr/bin/kept\n002_affinity_mask=3\n"), std::string::npos) << saved;
}
