// Nested modal loops with timers, message boxes, the file dialog, the tray icon and the
// asynchronous stop request of the display-less run.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "framework/dialog.h"
#include "res/resource.h"
#include "test_support.h"

using namespace framework;

namespace {

// Each tick is logged with the depth of loops it arrived in.
std::vector<std::string> g_log;

class InnerDlg : public CDialog {
 public:
  InnerDlg() : CDialog(IDD_CHANGE_CPU_ASSIGN) {}
  static const MessageMap* GetThisMessageMap() {
    static constexpr MessageEntry kEntries[] = {MapClicked<&InnerDlg::OnOkClicked>(IDOK)};
    static constexpr MessageMap kMap{&CDialog::GetThisMessageMap, kEntries};
    return &kMap;
  }
  const MessageMap* GetMessageMap() const override { return GetThisMessageMap(); }

 protected:
  // Refuses with a box owned by the dialog, as an empty processor choice is refused.
  void OnOkClicked() {
    const int answer = ShowMessageBox("CPU 割り当てなしにはできません", ApplicationName().c_str(), MB_OK);
    g_log.push_back("box:" + std::to_string(answer));
  }
};

class MainDlg : public CDialog {
 public:
  MainDlg() : CDialog(IDD_DUMMY) {}
  static const MessageMap* GetThisMessageMap() {
    static constexpr MessageEntry kEntries[] = {
        MapTimer<&MainDlg::OnTimer>(),
        MapMessage<&MainDlg::OnTray>(WM_TRAY_NOTIFY),
        MapMessage<&MainDlg::OnNcDestroy>(WM_NCDESTROY),
        MapCommand<&MainDlg::OnOpen>(ID_TRAY_OPEN_SETTINGS),
        MapCommand<&MainDlg::OnExit>(ID_TRAY_EXIT),
    };
    static constexpr MessageMap kMap{&CDialog::GetThisMessageMap, kEntries};
    return &kMap;
  }
  const MessageMap* GetMessageMap() const override { return GetThisMessageMap(); }
  int innerResult = 0;
  std::vector<std::pair<WParam, LParam>> trayEvents;

 protected:
  bool OnInitDialog() override {
    CDialog::OnInitDialog();
    SetIcon(LoadIconResource(IDR_MAINFRAME, 32), true);
    ModifyStyleEx(WS_EX_APPWINDOW, 0);
    TrayIconData data;
    data.hWnd = GetSafeHwnd();
    data.uID = ID_TRAY_ICON;
    data.uFlags = NIF_MESSAGE | NIF_ICON;
    data.uCallbackMessage = WM_TRAY_NOTIFY;
    data.hIcon = LoadIconResource(IDR_MAINFRAME, 16);
    Backend().ShellNotifyIcon(NIM_ADD, data);
    HideWindow();
    SetTimer(0, 1000);
    return true;
  }
  void OnTimer(std::uintptr_t id) {
    g_log.push_back("tick" + std::to_string(id) + "@" +
                    std::to_string(static_cast<headless::ScriptedBackend&>(Backend()).LoopDepth()));
  }
  LResult OnTray(WParam w, LParam l) {
    trayEvents.emplace_back(w, l);
    if (l == WM_MOUSEMOVE) {
      TrayIconData data;
      data.hWnd = GetSafeHwnd();
      data.uID = ID_TRAY_ICON;
      data.uFlags = NIF_TIP;
      data.szTip = "Mavrin (監視中)";
      Backend().ShellNotifyIcon(NIM_MODIFY, data);
    }
    return 0;
  }
  void OnNcDestroy() {
    TrayIconData data;
    data.hWnd = GetSafeHwnd();
    data.uID = ID_TRAY_ICON;
    Backend().ShellNotifyIcon(NIM_DELETE, data);
  }
  void OnOpen() {
    InnerDlg inner;
    innerResult = inner.DoModal();
  }
  void OnExit() { EndDialog(0); }
};

class ModalTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    g_log.clear();
    SetApplicationName("mavrin");
  }
};

TEST_F(ModalTest, TimersKeepFiringInsideAMessageBoxInsideANestedDialog) {
  MainDlg main;
  ui.AdvanceTime(1000);
  ui.Then([&](auto&) { main.PostToSelf(WM_COMMAND, MakeWParam(ID_TRAY_OPEN_SETTINGS, 0)); });
  ui.AdvanceTime(1000);
  ui.Click(IDOK);  // opens the refusal box
  ui.Then([&](auto& b) {
    ASSERT_EQ(b.MessageBoxes().size(), 1u);
    EXPECT_EQ(b.MessageBoxes()[0].owner, b.FindWindowByTemplate(IDD_CHANGE_CPU_ASSIGN)->id);
  });
  ui.AdvanceTime(2500);
  ui.Click(IDCANCEL);  // the box is modal: the dialog behind it takes no click
  ui.AnswerMessageBox(IDOK);
  ui.PressEscape();
  ui.AdvanceTime(500);
  ui.Then([&](auto&) { main.PostToSelf(WM_COMMAND, MakeWParam(ID_TRAY_EXIT, 0)); });
  EXPECT_EQ(main.DoModal(), 0);
  EXPECT_EQ(main.innerResult, IDCANCEL);
  EXPECT_EQ(g_log, (std::vector<std::string>{"tick0@1", "tick0@2", "tick0@3", "tick0@3", "box:1", "tick0@1"}));
  const auto& box = ui.MessageBoxes().at(0);
  EXPECT_EQ(box.text, "CPU 割り当てなしにはできません");
  EXPECT_EQ(box.caption, "mavrin");
  EXPECT_FALSE(box.defaultCaption);
  EXPECT_EQ(box.type, static_cast<unsigned>(MB_OK));
  ASSERT_EQ(ui.Errors().size(), 1u);
  EXPECT_NE(ui.Errors()[0].find("Click"), std::string::npos);
}

TEST_F(ModalTest, TrayIconNotifiesItsOwnerAndLeavesWithIt) {
  MainDlg main;
  ui.Then([&](auto& b) {
    const headless::WindowState* w = b.FindWindowByTemplate(IDD_DUMMY);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->hidden);
    EXPECT_FALSE(w->shown);
    EXPECT_EQ(w->exStyle & WS_EX_APPWINDOW, 0u);
    EXPECT_EQ(w->bigIcon.Width(), 32);
    ASSERT_EQ(b.TrayIcons().size(), 1u);
    EXPECT_EQ(b.TrayIcons()[0].tip, "");
    EXPECT_EQ(b.TrayIcons()[0].icon.Width(), 16);
  });
  ui.TrayNotify(WM_MOUSEMOVE);
  ui.TrayNotify(WM_LBUTTONDBLCLK);
  ui.TrayNotify(WM_RBUTTONDOWN, 2);  // no such icon
  ui.Then([&](auto& b) { EXPECT_EQ(b.TrayIcons()[0].tip, "Mavrin (監視中)"); });
  ui.Then([&](auto&) { main.PostToSelf(WM_COMMAND, MakeWParam(ID_TRAY_EXIT, 0)); });
  main.DoModal();
  EXPECT_EQ(main.trayEvents, (std::vector<std::pair<WParam, LParam>>{{1, WM_MOUSEMOVE}, {1, WM_LBUTTONDBLCLK}}));
  EXPECT_TRUE(ui.TrayIcons().empty());
  ASSERT_EQ(ui.TrayCalls().size(), 3u);
  EXPECT_EQ(ui.TrayCalls()[2].action, static_cast<unsigned>(NIM_DELETE));
  EXPECT_TRUE(ui.TrayCalls()[2].succeeded);
  EXPECT_EQ(ui.Errors().size(), 1u);
}

TEST_F(ModalTest, BoxesAndFileDialogsTakeScriptedOrStandingAnswers) {
  MainDlg main;
  std::vector<int> answers;
  std::vector<std::string> files;
  const auto askFile = [&] {
    FileOpenRequest request;
    request.title = "監視するプログラムのファイル名を指定してください";
    request.filters = {{"実行形式ファイル(*.exe)", "*.exe"}, {"すべてのファイル(*.*)", "*.*"}};
    request.initialName = "*.exe";
    request.flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_FILEMUSTEXIST;
    std::string path = "unchanged";
    files.push_back(Backend().ShowFileOpen(kNoWindowId, request, path) ? path : "cancelled:" + path);
  };
  ui.Then([&](auto&) { answers.push_back(Backend().ShowMessageBox(0, "delete?", "mavrin", MB_YESNO)); });
  ui.AnswerMessageBox(IDYES);
  ui.Then([&](auto&) { answers.push_back(Backend().ShowMessageBox(0, "delete?", "mavrin", MB_YESNO)); });
  ui.AnswerMessageBox(IDOK);  // not a button of the box: the safe answer instead
  ui.Then([&](auto&) { answers.push_back(Backend().ShowMessageBox(0, "failed", nullptr, MB_OK)); });
  ui.AnswerMessageBox(IDOK);
  ui.Then([&](auto&) { askFile(); });
  ui.AnswerFileDialog("/opt/Tools/App.exe");
  ui.Then([&](auto&) { askFile(); });
  ui.CancelFileDialog();
  ui.Then([&](auto& b) {
    b.SetMessageBoxHandler([](const headless::MessageBoxRecord& r) { return r.type == MB_YESNO ? IDYES : IDOK; });
    b.SetFileDialogHandler([](const FileOpenRequest&) { return std::optional<std::string>("/bin/true"); });
    answers.push_back(Backend().ShowMessageBox(0, "add?", "mavrin", MB_YESNO));
    askFile();
    main.EndDialog(0);
  });
  main.DoModal();
  EXPECT_EQ(answers, (std::vector<int>{IDYES, IDNO, IDOK, IDYES}));
  EXPECT_EQ(files, (std::vector<std::string>{"/opt/Tools/App.exe", "cancelled:unchanged", "/bin/true"}));
  ASSERT_EQ(ui.MessageBoxes().size(), 4u);
  EXPECT_TRUE(ui.MessageBoxes()[2].defaultCaption);
  ASSERT_EQ(ui.FileDialogs().size(), 3u);
  EXPECT_EQ(ui.FileDialogs()[0].request.filters[1].first, "すべてのファイル(*.*)");
  EXPECT_EQ(ui.FileDialogs()[0].request.flags,
            static_cast<unsigned>(OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_FILEMUSTEXIST));
  EXPECT_EQ(ui.Errors().size(), 1u);  // the wrong answer
}

// The display-less run: real time, ended from a signal handler through the normal exit command.
int g_stopSlot = -1;
extern "C" void OnStopSignal(int) { framework::Backend().TriggerAsync(g_stopSlot); }

TEST_F(ModalTest, RealTimeLoopEndsThroughItsExitCommandOnASignal) {
  MainDlg main;
  ui.SetRealTime(true);
  g_stopSlot = ui.AddAsyncAction([&] { main.PostToSelf(WM_COMMAND, MakeWParam(ID_TRAY_EXIT, 0)); });
  ASSERT_GE(g_stopSlot, 0);
  struct sigaction action {};
  struct sigaction previous {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
  std::thread stopper([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(2300));
    kill(getpid(), SIGUSR1);
  });
  EXPECT_EQ(main.DoModal(), 0);
  stopper.join();
  sigaction(SIGUSR1, &previous, nullptr);
  // Ticks at about 1, 2 seconds; the exact count depends on the machine's load.
  EXPECT_GE(g_log.size(), 1u);
  EXPECT_LE(g_log.size(), 3u);
  EXPECT_TRUE(ui.TrayIcons().empty());
  EXPECT_TRUE(ui.Errors().empty());
}

// Nobody at the machine, as the program runs without a display: the dialog's loop waits on real
// time, and a box, popup or file dialog gives up at once instead of waiting for an answer.
class UnattendedDlg : public CDialog {
 public:
  UnattendedDlg() : CDialog(IDD_DUMMY) {}
  static const MessageMap* GetThisMessageMap() {
    static constexpr MessageEntry kEntries[] = {MapTimer<&UnattendedDlg::OnTimer>()};
    static constexpr MessageMap kMap{&CDialog::GetThisMessageMap, kEntries};
    return &kMap;
  }
  const MessageMap* GetMessageMap() const override { return GetThisMessageMap(); }
  int answer = 0;
  unsigned chosen = 99;
  bool opened = true;
  std::string path = "unchanged";

 protected:
  bool OnInitDialog() override {
    CDialog::OnInitDialog();
    HideWindow();
    SetTimer(7, 20);
    return true;
  }
  void OnTimer(std::uintptr_t) {
    KillTimer(7);
    answer = ShowMessageBox("続けますか", nullptr, MB_YESNO);
    Menu popup;
    popup.AppendString(ID_TRAY_EXIT, "終了");
    chosen = Backend().TrackPopup(GetSafeHwnd(), popup, 0, 0, 0);
    opened = Backend().ShowFileOpen(GetSafeHwnd(), FileOpenRequest{}, path);
    EndDialog(5);
  }
};

TEST(UnattendedTest, LoopsWaitOnRealTimeAndQuestionsGetTheirSafeAnswer) {
  headless::HeadlessBackend nobody;
  SetResources(&res::ProgramResources());
  SetBackend(&nobody);
  UnattendedDlg dlg;
  const int result = dlg.DoModal();
  SetBackend(nullptr);
  SetResources(nullptr);
  EXPECT_EQ(result, 5);
  EXPECT_EQ(dlg.answer, IDNO);
  EXPECT_EQ(dlg.chosen, 0u);
  EXPECT_FALSE(dlg.opened);
  EXPECT_EQ(dlg.path, "unchanged");
}

}  // namespace
