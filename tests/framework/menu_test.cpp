// Menu 129 as the tray and the settings dialog change it, and choosing from a tracked popup.
#include <string>
#include <vector>

#include "framework/dialog.h"
#include "res/resource.h"
#include "test_support.h"

using namespace framework;

namespace {

using MenuTest = HeadlessTest;

std::vector<std::string> Texts(const Menu& menu) {
  std::vector<std::string> texts;
  for (int i = 0; i < menu.ItemCount(); ++i) {
    const MenuItem* item = menu.ItemAt(i);
    texts.push_back(item->IsSeparator() ? "-" : item->text);
  }
  return texts;
}

TEST_F(MenuTest, ResourceLoadsWithItsThreePopupsAndPlaceholders) {
  Menu bar;
  ASSERT_TRUE(bar.LoadFromResource(IDR_TRAY_MENU));
  EXPECT_EQ(Texts(bar), (std::vector<std::string>{"&TrayMenu", "WindowListPopupMenu", "ProcessListPopupMenu"}));
  const Menu* tray = bar.SubMenu(0);
  ASSERT_NE(tray, nullptr);
  EXPECT_EQ(Texts(*tray),
            (std::vector<std::string>{"設定画面を開く(&S)", "-", "監視の一時停止(&P)", "監視設定の削除(&D)",
                                      "CPU割り当てのクイック変更(&A)", "-", "Mavrin について(&V)...", "終了(&X)"}));
  EXPECT_EQ(tray->ItemAt(7)->id, static_cast<unsigned>(ID_TRAY_EXIT));
  ASSERT_NE(tray->SubMenu(3), nullptr);
  EXPECT_EQ(tray->SubMenu(3)->ItemAt(0)->id, static_cast<unsigned>(ID_TRAY_DELETE_DUMMY));
  ASSERT_NE(tray->SubMenu(4), nullptr);
  EXPECT_EQ(Texts(*tray->SubMenu(4)), (std::vector<std::string>{"ウィンドウ(&W)", "プロセス(&P)"}));
  EXPECT_EQ(tray->SubMenu(4)->SubMenu(1)->ItemAt(0)->text, "dummy");
  EXPECT_EQ(tray->SubMenu(2), nullptr);  // a plain item is no popup
  EXPECT_EQ(tray->SubMenu(8), nullptr);
  const MenuItem* windowName = bar.FindItem(ID_WINDOWLIST_WINDOW_NAME);
  ASSERT_NE(windowName, nullptr);
  EXPECT_TRUE(windowName->IsGrayed());
  EXPECT_FALSE(bar.FindItem(ID_WINDOWLIST_ADD)->IsGrayed());
  Menu none;
  EXPECT_FALSE(none.LoadFromResource(4711));
  EXPECT_EQ(none.ItemCount(), 0);
}

TEST_F(MenuTest, ChangesByPositionAndByCommand) {
  Menu bar;
  ASSERT_TRUE(bar.LoadFromResource(IDR_TRAY_MENU));
  Menu* tray = bar.SubMenu(0);
  Menu* del = tray->SubMenu(3);
  EXPECT_TRUE(del->RemoveAt(0));
  EXPECT_FALSE(del->RemoveAt(0));  // empty now
  del->AppendString(ID_DELETE_ENTRY_BASE, " 1 : c:\\a.exe\t2 [oo--]");
  del->AppendString(ID_DELETE_ENTRY_BASE + 1, " 2 : c:\\b.exe\t1 [o---]");
  EXPECT_EQ(del->ItemCount(), 2);
  EXPECT_EQ(bar.FindItem(ID_DELETE_ENTRY_BASE + 1)->text, " 2 : c:\\b.exe\t1 [o---]");

  EXPECT_TRUE(tray->SetItemState(ID_TRAY_PAUSE, MFS_CHECKED));
  EXPECT_TRUE(tray->SetItemState(ID_TRAY_OPEN_SETTINGS, MFS_DEFAULT));
  EXPECT_TRUE(tray->FindItem(ID_TRAY_PAUSE)->IsChecked());
  EXPECT_TRUE(tray->FindItem(ID_TRAY_OPEN_SETTINGS)->IsDefault());
  EXPECT_TRUE(tray->SetItemState(ID_TRAY_PAUSE, 0));
  EXPECT_FALSE(tray->FindItem(ID_TRAY_PAUSE)->IsChecked());
  EXPECT_FALSE(tray->SetItemState(12345, MFS_CHECKED));

  // Text changes keep the grayed state; an item reached through a nested popup is found by id.
  Menu* windowPopup = bar.SubMenu(1);
  EXPECT_TRUE(windowPopup->SetItemText(ID_WINDOWLIST_WINDOW_NAME, "Editor"));
  EXPECT_TRUE(bar.FindItem(ID_WINDOWLIST_WINDOW_NAME)->IsGrayed());
  EXPECT_TRUE(bar.SetItemGrayed(ID_WINDOWLIST_WINDOW_NAME, false));
  EXPECT_FALSE(bar.FindItem(ID_WINDOWLIST_WINDOW_NAME)->IsGrayed());

  // A copy is independent of its source.
  Menu copy = bar;
  copy.SubMenu(0)->RemoveAt(0);
  EXPECT_EQ(bar.SubMenu(0)->ItemCount(), 8);
  EXPECT_EQ(copy.SubMenu(0)->ItemCount(), 7);
}

// Tracks the tray popup when told to and records what reaches it afterwards.
class TrayOwnerDlg : public CDialog {
 public:
  TrayOwnerDlg() : CDialog(IDD_DUMMY) {}
  static const MessageMap* GetThisMessageMap() {
    static constexpr MessageEntry kEntries[] = {
        MapMessage<&TrayOwnerDlg::OnShow>(WM_APP + 7),
        MapTimer<&TrayOwnerDlg::OnTimer>(),
    };
    static constexpr MessageMap kMap{&CDialog::GetThisMessageMap, kEntries};
    return &kMap;
  }
  const MessageMap* GetMessageMap() const override { return GetThisMessageMap(); }
  std::vector<std::string> log;

 protected:
  bool OnInitDialog() override {
    CDialog::OnInitDialog();
    SetTimer(0, 1000);
    return true;
  }
  bool OnCommand(WParam wParam, LParam lParam) override {
    log.push_back("command:" + std::to_string(LowWord(wParam)));
    if (LowWord(wParam) == ID_TRAY_EXIT) EndDialog(0);
    return CDialog::OnCommand(wParam, lParam);
  }
  void OnShow() {
    Menu bar;
    bar.LoadFromResource(IDR_TRAY_MENU);
    bar.SubMenu(0)->SetItemState(ID_TRAY_OPEN_SETTINGS, MFS_DEFAULT);
    const Point at = Backend().CursorPos();
    SetForeground();
    TrackPopup(*bar.SubMenu(0), TPM_RIGHTBUTTON, at.x, at.y);
    log.push_back("tracked");
    PostToSelf(WM_NULL);
  }
  void OnTimer(std::uintptr_t id) { log.push_back("tick:" + std::to_string(id)); }
};

using MenuTrackingTest = HeadlessTest;

TEST_F(MenuTrackingTest, ChosenCommandArrivesAfterTrackingAndTimersRunMeanwhile) {
  TrayOwnerDlg dlg;
  ui.SetCursorPos(Point{640, 700});
  ui.Then([&](auto&) { dlg.PostToSelf(WM_APP + 7); });
  ui.Then([&](auto& b) {
    const Menu* shown = b.TrackedMenu();
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->FindItem(ID_TRAY_OPEN_SETTINGS)->IsDefault());
  });
  ui.AdvanceTime(2000);
  ui.ChooseMenu(ID_TRAY_PAUSE);
  ui.Then([&](auto&) { dlg.PostToSelf(WM_APP + 7); });
  ui.DismissMenu();
  ui.Then([&](auto&) { dlg.PostToSelf(WM_APP + 7); });
  ui.ChooseMenu(ID_TRAY_WINDOW_DUMMY);  // a placeholder is an ordinary item here
  ui.Then([&](auto&) { dlg.PostToSelf(WM_APP + 7); });
  ui.ChooseMenu(ID_TRAY_EXIT);
  EXPECT_EQ(dlg.DoModal(), 0);
  EXPECT_EQ(dlg.log, (std::vector<std::string>{"tick:0", "tick:0", "tracked", "command:32780", "tracked", "tracked",
                                               "command:32783", "tracked", "command:32776"}));
  ASSERT_EQ(ui.Menus().size(), 4u);
  EXPECT_EQ(ui.Menus()[0].position.x, 640);
  EXPECT_EQ(ui.Menus()[0].flags, static_cast<unsigned>(TPM_RIGHTBUTTON));
  EXPECT_EQ(ui.Menus()[1].chosen, 0u);
  EXPECT_EQ(ui.ForegroundRequests().size(), 4u);
  EXPECT_TRUE(ui.Errors().empty());
}

TEST_F(MenuTrackingTest, GrayedItemsCannotBeChosen) {
  TrayOwnerDlg dlg;
  ui.Then([&](auto&) {
    Menu bar;
    bar.LoadFromResource(IDR_TRAY_MENU);
    dlg.TrackPopup(*bar.SubMenu(2), TPM_RIGHTBUTTON, 0, 0);
  });
  ui.ChooseMenu(ID_PROCESSLIST_PROCESS_NAME);
  ui.AdvanceTime(0);
  ui.PressEscape();
  dlg.DoModal();
  EXPECT_EQ(dlg.log, (std::vector<std::string>{"command:2"}));
  ASSERT_EQ(ui.Errors().size(), 1u);
}

}  // namespace
