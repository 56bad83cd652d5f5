// The About box: its version line, the address that opens the web page each time it is clicked,
// and that one is shown at a time.
#include <algorithm>

#include "app/about_dlg.h"
#include "res/resources.h"
#include "tests/support/dialogs_fixture.h"
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

TEST_F(AboutTest, EveryClickOnTheAddressOpensThePageAndAFailureIsTold) {
  ui.Click(IDC_ABOUT_WEBPAGE);
  ui.Click(IDC_ABOUT_WEBPAGE);
  // Without a program that opens addresses (xdg-utils) nothing would happen: the box says so.
  ui.Then([this](Backend&) { shell.SetSucceed(false); });
  ui.Click(IDC_ABOUT_WEBPAGE);
  ui.AnswerMessageBox(IDOK);
  Check([&] {
    ASSERT_NE(ui.ActiveDialog(), nullptr);
    EXPECT_EQ(kDlg, ui.ActiveDialog()->TemplateId());
  });
  ui.PressEscape();
  CAboutDlg about;
  EXPECT_EQ(IDCANCEL, about.DoModal());
  EXPECT_EQ(std::vector<std::string>(3, res::Text(res::TextId::kProductAddress)), shell.Opened());
  ASSERT_EQ(1u, ui.MessageBoxes().size());
  const framework::headless::MessageBoxRecord& box = ui.MessageBoxes()[0];
  EXPECT_NE(box.text.find(res::Text(res::TextId::kProductAddress)), std::string::npos) << box.text;
  EXPECT_NE(box.text.find("xdg-open"), std::string::npos) << box.text;
  EXPECT_EQ(MB_OK, box.type);
  ExpectScriptFit();
}

// One About box at a time, whoever asks: a later request raises the one shown. While the settings
// dialog runs above the tray's About box, that box still takes its OK and goes at once.
TEST_F(AboutTest, OneBoxAtATimeAndItsOkWorksWhileTheSettingsDialogIsOpen) {
  auto postToMain = [this](unsigned id) {
    ui.Then([id](Backend&) { framework::MainWindow()->PostToSelf(WM_COMMAND, id, 0); });
  };
  auto aboutWindows = [this] {
    int n = 0;
    for (framework::WindowId w : ui.Windows()) {
      const framework::headless::WindowState* state = ui.FindWindowState(w);
      if (state->templateId == kDlg && state->shown) ++n;
    }
    return n;
  };
  postToMain(ID_TRAY_ABOUT);
  framework::CDialog* trayAbout = nullptr;
  Check([&] {
    EXPECT_EQ(1, aboutWindows());
    trayAbout = ui.ActiveDialog();
  });
  postToMain(ID_TRAY_OPEN_SETTINGS);
  Check([&] { EXPECT_EQ(IDD_ASSIGN_LIST, ui.ActiveDialog()->TemplateId()); });
  // From the settings dialog's system menu, and again from the tray: the shown box comes forward.
  ui.ChooseSystemMenu(IDM_ABOUTBOX);
  postToMain(ID_TRAY_ABOUT);
  Check([&] {
    EXPECT_EQ(1, aboutWindows());
    EXPECT_EQ(2, std::count(ui.ForegroundRequests().begin(), ui.ForegroundRequests().end(), trayAbout->GetSafeHwnd()));
    // The user clicks OK in the tray's box; its loop is below the settings dialog's.
    EXPECT_TRUE(framework::DeliverClick(*trayAbout, IDOK));
    EXPECT_EQ(0, aboutWindows());
  });
  // With that box gone, the system menu opens a new one.
  ui.ChooseSystemMenu(IDM_ABOUTBOX);
  Check([&] { EXPECT_EQ(1, aboutWindows()); });
  ui.PressEscape();
  ui.PressEscape();  // the settings dialog
  Check([&] { EXPECT_EQ(0, aboutWindows()); });
  postToMain(ID_TRAY_EXIT);
  app->InitInstance();
  ExpectScriptFit();
}

}  // namespace
