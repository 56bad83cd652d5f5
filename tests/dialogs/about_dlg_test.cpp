// The About box: its version line, the address that opens the web page each time it is clicked,
// and who may open a second one.
#include "app/about_dlg.h"
#include "dialogs_fixture.h"
#include "res/resources.h"
#include "ui/assign_list_dlg.h"

namespace {

constexpr int kDlg = IDD_ABOUTBOX;

using AboutTest = DialogsTest;

TEST_F(AboutTest, TheVersionFollowsTheTemplatesTextWithItsBlank) {
  Check([&] { EXPECT_EQ("Version 1.0.1", Control(kDlg, IDC_ABOUT_VERSION)->text); });
  ui.PressEnter();
  CAboutDlg about;
  EXPECT_EQ(IDOK, about.DoModal());
  // A second opening starts from the template again, not from the last text.
  Check([&] { EXPECT_EQ("Version 1.0.1", Control(kDlg, IDC_ABOUT_VERSION)->text); });
  ui.CloseBox();
  EXPECT_EQ(IDCANCEL, about.DoModal());
  ExpectScriptFit();
}

TEST_F(AboutTest, EveryClickOnTheAddressOpensThePageAndTheBoxStays) {
  shell.SetSucceed(false);  // a page that cannot be opened is not reported either
  ui.Click(IDC_ABOUT_WEBPAGE);
  ui.Click(IDC_ABOUT_WEBPAGE);
  ui.Click(IDC_ABOUT_WEBPAGE);
  Check([&] {
    ASSERT_NE(ui.ActiveDialog(), nullptr);
    EXPECT_EQ(kDlg, ui.ActiveDialog()->TemplateId());
  });
  ui.PressEscape();
  CAboutDlg about;
  EXPECT_EQ(IDCANCEL, about.DoModal());
  EXPECT_EQ(std::vector<std::string>(3, res::Text(res::TextId::kProductAddress)), shell.Opened());
  EXPECT_TRUE(ui.MessageBoxes().empty());
  ExpectScriptFit();
}

TEST_F(AboutTest, TheTrayOpensOneAtATimeTheSettingsDialogAlwaysOpensAnother) {
  auto postToMain = [this](unsigned id) {
    ui.Then([id](Backend&) { framework::MainWindow()->PostToSelf(WM_COMMAND, id, 0); });
  };
  auto aboutWindows = [this] {
    int n = 0;
    for (framework::WindowId w : ui.Windows()) {
      if (ui.FindWindowState(w)->templateId == kDlg) ++n;
    }
    return n;
  };
  postToMain(ID_TRAY_ABOUT);
  Check([&] { EXPECT_EQ(1, aboutWindows()); });
  // While the tray's box is open: the settings dialog from the tray, and its system menu.
  postToMain(ID_TRAY_OPEN_SETTINGS);
  Check([&] { EXPECT_EQ(IDD_ASSIGN_LIST, ui.ActiveDialog()->TemplateId()); });
  ui.ChooseSystemMenu(IDM_ABOUTBOX);
  Check([&] { EXPECT_EQ(2, aboutWindows()); });
  ui.PressEscape();
  ui.ChooseSystemMenu(IDM_ABOUTBOX);
  Check([&] { EXPECT_EQ(2, aboutWindows()); });
  ui.Then([](Backend& b) {
    // A further request from inside that box's loop opens a third; the low four bits of a system
    // command are the system's own and do not matter.
    framework::CDialog* settings = nullptr;
    for (framework::WindowId w : b.Windows()) {
      if (b.FindWindowState(w)->templateId == IDD_ASSIGN_LIST) settings = b.FindWindowState(w)->dialog;
    }
    ASSERT_NE(settings, nullptr);
    settings->PostToSelf(WM_SYSCOMMAND, IDM_ABOUTBOX | 0x3u, 0);
  });
  Check([&] { EXPECT_EQ(3, aboutWindows()); });
  // The tray still refuses: its own box is open.
  postToMain(ID_TRAY_ABOUT);
  Check([&] { EXPECT_EQ(3, aboutWindows()); });
  ui.PressEscape();
  ui.PressEscape();
  ui.PressEscape();  // the settings dialog
  ui.PressEscape();  // the tray's box
  Check([&] { EXPECT_EQ(0, aboutWindows()); });
  postToMain(ID_TRAY_EXIT);
  app->InitInstance();
  ExpectScriptFit();
}

}  // namespace
