// Message-table dispatch, the modal run and the default OK / Cancel / close handling.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "framework/dialog.h"
#include "framework/icon.h"
#include "framework/menu.h"
#include "framework/resource_provider.h"
#include "res/resource.h"
#include "test_support.h"

using namespace framework;

namespace {

// A base dialog class with its own table, as the program's dialogs derive from CDialog.
class BaseDlg : public CDialog {
 public:
  explicit BaseDlg(int tpl) : CDialog(tpl) {}
  static const MessageMap* GetThisMessageMap();
  const MessageMap* GetMessageMap() const override { return GetThisMessageMap(); }
  std::vector<std::string> log;

 protected:
  void OnUpdate() { log.push_back("base:update"); }
  void OnManage() { log.push_back("base:manage"); }
  void OnClose() { log.push_back("base:close"); }
};

const MessageMap* BaseDlg::GetThisMessageMap() {
  static constexpr MessageEntry kEntries[] = {
      MapClicked<&BaseDlg::OnUpdate>(IDC_UPDATE_LIST),
      MapClicked<&BaseDlg::OnManage>(IDC_MANAGE),
      MapMessage<&BaseDlg::OnClose>(WM_CLOSE),
  };
  static constexpr MessageMap kMap{&CDialog::GetThisMessageMap, kEntries};
  return &kMap;
}

class DerivedDlg : public BaseDlg {
 public:
  DerivedDlg() : BaseDlg(IDD_ASSIGN_LIST) {}
  static const MessageMap* GetThisMessageMap();
  const MessageMap* GetMessageMap() const override { return GetThisMessageMap(); }
  bool catchBoxes = false;

 protected:
  bool OnCommand(WParam wParam, LParam lParam) override {
    // Catches the processor boxes itself when asked to, hands everything else to the table.
    if (catchBoxes && LowWord(wParam) >= IDC_CPU0 && LowWord(wParam) <= IDC_CPU7) {
      log.push_back("hook:" + std::to_string(LowWord(wParam)));
      return true;
    }
    return BaseDlg::OnCommand(wParam, lParam);
  }
  void OnManage() { log.push_back("derived:manage"); }
  void OnCpu(unsigned id) { log.push_back("range:" + std::to_string(id)); }
  LResult OnApp(WParam w, LParam l) {
    log.push_back("app:" + std::to_string(w) + "," + std::to_string(l));
    return 77;
  }
  void OnTimer(std::uintptr_t id) { log.push_back("timer:" + std::to_string(id)); }
  void OnSys(unsigned id, LParam) {
    log.push_back("sys:" + std::to_string(id));
    if (id != IDM_ABOUTBOX) Default();
  }
  void OnRClick(const NotifyHeader& hdr, LResult& result) {
    log.push_back("rclick:" + std::to_string(hdr.idFrom) + ":" +
                  std::to_string(reinterpret_cast<const ListViewNotify&>(hdr).iItem));
    result = 5;
  }
};

const MessageMap* DerivedDlg::GetThisMessageMap() {
  static constexpr MessageEntry kEntries[] = {
      MapClicked<&DerivedDlg::OnManage>(IDC_MANAGE),
      MapCommandRange<&DerivedDlg::OnCpu>(IDC_CPU0, IDC_CPU7),
      MapMessage<&DerivedDlg::OnApp>(WM_APP + 1),
      MapTimer<&DerivedDlg::OnTimer>(),
      MapSysCommand<&DerivedDlg::OnSys>(),
      MapNotifyRange<&DerivedDlg::OnRClick>(NM_RCLICK, IDC_PROCESS_LIST, IDC_WINDOW_LIST),
  };
  static constexpr MessageMap kMap{&BaseDlg::GetThisMessageMap, kEntries};
  return &kMap;
}

// Records the order of the life-cycle messages and whether a window existed at each.
class LifeDlg : public CDialog {
 public:
  explicit LifeDlg(int tpl = IDD_CHANGE_CPU_ASSIGN) : CDialog(tpl) {}
  static const MessageMap* GetThisMessageMap();
  const MessageMap* GetMessageMap() const override { return GetThisMessageMap(); }
  std::vector<std::string> log;
  int endInInit = -2;
  int nestedResult = 0;

 protected:
  bool OnInitDialog() override {
    CDialog::OnInitDialog();
    log.push_back(HasWindow() ? "init+window" : "init");
    nestedResult = DoModal();
    if (endInInit != -2) EndDialog(endInInit);
    return true;
  }
  void OnOK() override {
    log.push_back("ok");
    CDialog::OnOK();
  }
  void OnDestroy() { log.push_back(HasWindow() ? "destroy+window" : "destroy"); }
  void OnNcDestroy() { log.push_back("ncdestroy"); }
};

const MessageMap* LifeDlg::GetThisMessageMap() {
  static constexpr MessageEntry kEntries[] = {
      MapMessage<&LifeDlg::OnDestroy>(WM_DESTROY),
      MapMessage<&LifeDlg::OnNcDestroy>(WM_NCDESTROY),
  };
  static constexpr MessageMap kMap{&CDialog::GetThisMessageMap, kEntries};
  return &kMap;
}

using DialogTest = HeadlessTest;

TEST_F(DialogTest, TableDispatchChainsToTheBaseAndLetsTheDerivedEntryWin) {
  DerivedDlg dlg;
  ui.Then([&](auto&) {
    EXPECT_EQ(dlg.SendToSelf(WM_APP + 1, 3, -4), 77);
    EXPECT_EQ(dlg.SendToSelf(WM_APP + 2, 3, 4), 0);  // nobody maps it: default answer
    ListViewNotify nm;
    nm.hdr.idFrom = IDC_WINDOW_LIST;
    nm.hdr.code = NM_RCLICK;
    nm.iItem = 6;
    EXPECT_EQ(dlg.SendToSelf(WM_NOTIFY, IDC_WINDOW_LIST, reinterpret_cast<LParam>(&nm)), 5);
    nm.hdr.code = NM_CLICK;  // right id, other code: not taken
    EXPECT_EQ(dlg.SendToSelf(WM_NOTIFY, IDC_WINDOW_LIST, reinterpret_cast<LParam>(&nm)), 0);
  });
  ui.Click(IDC_MANAGE);
  ui.Click(IDC_UPDATE_LIST);
  ui.Click(IDC_CPU3);
  ui.FireTimer(9);  // not set: reported, nothing sent
  ui.Then([&](auto&) { dlg.SendToSelf(WM_TIMER, 9, 0); });
  ui.Then([&](auto&) { dlg.SendToSelf(WM_COMMAND, MakeWParam(IDC_CPU0, 5), 0); });  // other code: unmapped
  ui.PressEscape();
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(dlg.log, (std::vector<std::string>{"app:3,-4", "rclick:1002:6", "derived:manage", "base:update",
                                               "range:1007", "timer:9"}));
  ASSERT_EQ(ui.Errors().size(), 1u);
  EXPECT_NE(ui.Errors()[0].find("FireTimer"), std::string::npos);
}

TEST_F(DialogTest, OverriddenCommandHookCatchesWhatItWantsAndPassesTheRest) {
  DerivedDlg dlg;
  dlg.catchBoxes = true;
  ui.Click(IDC_CPU1);
  ui.Click(IDC_MANAGE);
  ui.Click(IDCANCEL);
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(dlg.log, (std::vector<std::string>{"hook:1005", "derived:manage"}));
}

TEST_F(DialogTest, ModalRunReturnsTheEndCodeAndOwnsAWindowOnlyWhileRunning) {
  LifeDlg dlg;
  EXPECT_FALSE(dlg.HasWindow());
  bool hadWindow = false;
  ui.Then([&](auto&) {
    hadWindow = dlg.HasWindow();
    dlg.EndDialog(42);
  });
  EXPECT_EQ(dlg.DoModal(), 42);
  EXPECT_TRUE(hadWindow);
  EXPECT_FALSE(dlg.HasWindow());
  // A second run inside the first was refused; destruction messages come in order with the window.
  EXPECT_EQ(dlg.nestedResult, -1);
  EXPECT_EQ(dlg.log, (std::vector<std::string>{"init+window", "destroy+window", "ncdestroy"}));
  EXPECT_TRUE(ui.Windows().empty());
  EXPECT_TRUE(ui.Errors().empty());
}

TEST_F(DialogTest, EndingDuringInitialisationSkipsTheLoop) {
  LifeDlg dlg;
  dlg.endInInit = 7;
  EXPECT_EQ(dlg.DoModal(), 7);
  EXPECT_TRUE(ui.Errors().empty());
}

TEST_F(DialogTest, EnterEscapeAndCloseBoxGetTheDefaultHandling) {
  {
    LifeDlg dlg;
    ui.PressEnter();  // template 131: OK is the default button
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.log[1], "ok");
  }
  {
    LifeDlg dlg;
    ui.PressEscape();
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  }
  {
    LifeDlg dlg(IDD_MANAGE_ASSIGN);  // has a close box; no default button
    ui.CloseBox();
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  }
  {
    LifeDlg dlg(IDD_MANAGE_ASSIGN);
    ui.PressEnter();  // no default button: Enter still means IDOK
    EXPECT_EQ(dlg.DoModal(), IDOK);
  }
  EXPECT_TRUE(ui.Errors().empty());
  {
    LifeDlg dlg;  // 131 has no system menu, so no close box: the script stalls and the run is abandoned
    ui.CloseBox();
    EXPECT_EQ(dlg.DoModal(), -1);
    ASSERT_EQ(ui.Errors().size(), 2u);
    EXPECT_NE(ui.Errors()[1].find("stalled"), std::string::npos);
  }
}

// Ends with 0 from the close box and then lets the default close processing run, which must not
// overwrite the chosen result.
class CloseZeroDlg : public CDialog {
 public:
  CloseZeroDlg() : CDialog(IDD_ASSIGN_LIST) {}
  static const MessageMap* GetThisMessageMap() {
    static constexpr MessageEntry kEntries[] = {MapMessage<&CloseZeroDlg::OnClose>(WM_CLOSE)};
    static constexpr MessageMap kMap{&CDialog::GetThisMessageMap, kEntries};
    return &kMap;
  }
  const MessageMap* GetMessageMap() const override { return GetThisMessageMap(); }
  void OnClose() {
    EndDialog(0);
    Default();
  }
};

TEST_F(DialogTest, CloseHandlerResultSurvivesTheDefaultCloseProcessing) {
  CloseZeroDlg dlg;
  ui.CloseBox();
  EXPECT_EQ(dlg.DoModal(), 0);
}

TEST_F(DialogTest, SystemMenuItemsReachTheSysCommandHandler) {
  DerivedDlg dlg;
  ui.Then([&](auto&) {
    dlg.AppendSystemMenuSeparator();
    dlg.AppendSystemMenuItem(IDM_ABOUTBOX, LoadStringResource(IDS_ABOUTBOX));
  });
  ui.ChooseSystemMenu(IDM_ABOUTBOX);
  ui.ChooseSystemMenu(SC_CLOSE);  // passed on by the handler: closes through the table's WM_CLOSE entry
  ui.PressEscape();
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(dlg.log, (std::vector<std::string>{"sys:16", "sys:61536", "base:close"}));
}

TEST_F(DialogTest, NothingRunsWithoutBackendOrTemplate) {
  CDialog unknown(999);
  EXPECT_EQ(unknown.DoModal(), -1);
  SetBackend(nullptr);
  LifeDlg dlg;
  EXPECT_EQ(dlg.DoModal(), -1);
  EXPECT_TRUE(dlg.log.empty());
  // Wrappers of a dialog without a window answer with nothing rather than failing.
  EXPECT_EQ(dlg.ListViewItem(IDC_LIST_WATCH).FirstSelected(), -1);
  EXPECT_EQ(dlg.ButtonItem(IDC_CPU0).GetCheck(), BST_UNCHECKED);
  EXPECT_FALSE(dlg.SetTimer(0, 1000));
  EXPECT_FALSE(dlg.PostToSelf(WM_NULL));
  EXPECT_EQ(Backend().ShowMessageBox(0, "?", nullptr, MB_YESNO), IDCANCEL);  // refuses, never agrees
}

// The framework holds no resources of its own: it finds what the installed provider has, whatever
// program that is, and nothing while none is installed.
class OtherProgram final : public IResourceProvider {
 public:
  const DialogTemplate* FindDialogTemplate(int id) const override { return id == 7 ? &dialog_ : nullptr; }
  const MenuTemplate* FindMenuTemplate(int id) const override { return id == 8 ? &menu_ : nullptr; }
  const char* FindString(int id) const override { return id == 9 ? "nine" : nullptr; }
  std::span<const int> IconSizes(int id) const override {
    return id == 10 ? std::span<const int>(kSizes) : std::span<const int>();
  }
  bool RenderIcon(int id, int size, IconImage& out) const override {
    if (id != 10 || size != 4) return false;
    out = IconImage{4, 4, std::vector<std::uint8_t>(64, 0xFF)};
    return true;
  }
  const char* Text(BackendText) const override { return "other"; }
  const char* LanguageCode() const override { return "en"; }

 private:
  static constexpr int kSizes[] = {4};
  static constexpr MenuItemTemplate kItems[] = {{.text = "&Only", .id = 5, .children = {}}};
  DialogTemplate dialog_{.id = 7, .caption = "Other", .cx = 10, .cy = 10, .controls = {}};
  MenuTemplate menu_{8, kItems};
};

TEST(ResourceProviderTest, TheFrameworkFindsWhatTheInstalledProviderHasAndNothingWithoutOne) {
  const OtherProgram other;
  SetResources(&other);
  CDialog dialog(7);
  ASSERT_NE(dialog.Template(), nullptr);
  EXPECT_STREQ("Other", dialog.Template()->caption);
  EXPECT_EQ(nullptr, CDialog(IDD_ABOUTBOX).Template());
  Menu menu;
  ASSERT_TRUE(menu.LoadFromResource(8));
  ASSERT_EQ(1, menu.ItemCount());
  EXPECT_EQ("&Only", menu.ItemAt(0)->text);
  EXPECT_FALSE(Menu().LoadFromResource(IDR_TRAY_MENU));
  EXPECT_EQ("nine", LoadStringResource(9));
  EXPECT_EQ(8, LoadIconResource(10, 8).Width());
  EXPECT_STREQ("other", Resources().Text(BackendText::kErrorCaption));

  SetResources(nullptr);
  EXPECT_EQ(nullptr, dialog.Template());
  EXPECT_FALSE(Menu().LoadFromResource(8));
  EXPECT_EQ("", LoadStringResource(9));
  EXPECT_TRUE(LoadIconResource(10, 8).IsNull());
}

}  // namespace
