// The watch-list management dialog: the rows, adding a chosen file through the processor dialog and
// the confirmations, deleting, and every way of backing out.
#include <filesystem>
#include <optional>

#include "base/text.h"
#include "tests/support/dialogs_fixture.h"
#include "ui/manage_assign_dlg.h"

namespace {

constexpr int kDlg = IDD_MANAGE_ASSIGN;

class ManageTest : public DialogsTest {
 protected:
  void SetUp() override {
    DialogsTest::SetUp();
    dlg.emplace(*app);
    system.processorCount = 4;
  }
  void Put(const std::string& path, AffinityMask mask) { app->GetWatchList().Append(WatchEntry{path, mask}); }
  static void WriteFile(const std::string& path, const std::string& text) {
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
      std::fwrite(text.data(), 1, text.size(), f);
      std::fclose(f);
    }
  }

  // Made once the application object exists.
  std::optional<CManageAssignDlg> dlg;
};

TEST_F(ManageTest, AnEmptyListShowsNoRowAndDeleteDoesNothing) {
  Check([&] {
    const auto* list = Control(kDlg, IDC_LIST_WATCH);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(2u, list->columns.size());
    EXPECT_EQ("プロセス名", list->columns[0].heading);
    EXPECT_EQ(360, list->columns[0].width);
    EXPECT_EQ("CPU", list->columns[1].heading);
    EXPECT_EQ(230, list->columns[1].width);
    EXPECT_EQ(static_cast<unsigned>(LVS_EX_FULLROWSELECT), list->listExStyle);
    EXPECT_TRUE(list->rows.empty());
  });
  ui.Click(IDC_BUTTON_DELETE);
  ui.PressEscape();
  EXPECT_EQ(IDCANCEL, dlg->DoModal());
  EXPECT_TRUE(ui.MessageBoxes().empty());
  ExpectScriptFit();
}

TEST_F(ManageTest, RowsShowEveryEntryWithTheProcessorsOfThisMachine) {
  Put("/usr/bin/one", 0x3);
  Put("/usr/bin/two", 0xFF);
  Put("/usr/bin/three", 0xC);
  Check([&] {
    ASSERT_EQ(3u, RowCount(kDlg, IDC_LIST_WATCH));
    EXPECT_EQ("/usr/bin/one", RowText(kDlg, IDC_LIST_WATCH, 0, 0));
    EXPECT_EQ("2 [oo--]", RowText(kDlg, IDC_LIST_WATCH, 0, 1));
    // Bits beyond the processor count are neither counted nor shown.
    EXPECT_EQ("4 [oooo]", RowText(kDlg, IDC_LIST_WATCH, 1, 1));
    EXPECT_EQ(std::vector<int>{0}, SelectedRows(kDlg, IDC_LIST_WATCH));
  });
  ui.PressEnter();
  EXPECT_EQ(IDOK, dlg->DoModal());

  system.processorCount = 2;
  Check([&] { EXPECT_EQ("0 [--]", RowText(kDlg, IDC_LIST_WATCH, 2, 1)); });
  ui.CloseBox();
  EXPECT_EQ(IDCANCEL, dlg->DoModal());
  ExpectScriptFit();
}

TEST_F(ManageTest, NewAddsTheChosenFileLowerCasedAndAsksToOverwriteTheSecondTime) {
  ui.Click(IDC_BUTTON_NEW);
  ui.AnswerFileDialog("/Opt/Tools/Runner");
  Check([&] {
    ASSERT_NE(ui.ActiveDialog(), nullptr);
    EXPECT_EQ(IDD_CHANGE_CPU_ASSIGN, ui.ActiveDialog()->TemplateId());
    EXPECT_EQ("/Opt/Tools/Runner", Control(IDD_CHANGE_CPU_ASSIGN, IDC_TARGET_TEXT)->text);
  });
  ui.Click(IDC_CPU0);
  ui.Click(IDC_CPU2);
  ui.PressEnter();
  ui.AnswerMessageBox(IDYES);  // add?
  ui.AnswerMessageBox(IDOK);   // added
  Check([&] {
    EXPECT_EQ((std::vector<WatchEntry>{{"/opt/tools/runner", 0x5}}), Entries());
    EXPECT_EQ(Entries(), SavedEntries());
    EXPECT_EQ("/opt/tools/runner", RowText(kDlg, IDC_LIST_WATCH, 0, 0));
    EXPECT_EQ("2 [o-o-]", RowText(kDlg, IDC_LIST_WATCH, 0, 1));
  });

  // A second entry, then the first file again: now it is an overwrite.
  ui.Click(IDC_BUTTON_NEW);
  ui.AnswerFileDialog("/usr/bin/other");
  ui.Click(IDC_CPU3);
  ui.PressEnter();
  ui.AnswerMessageBox(IDYES);
  ui.AnswerMessageBox(IDOK);
  ui.SelectRow(IDC_LIST_WATCH, 1);
  ui.Click(IDC_BUTTON_NEW);
  ui.AnswerFileDialog("/OPT/tools/RUNNER");
  ui.Click(IDC_CPU1);
  ui.PressEnter();
  ui.AnswerMessageBox(IDYES);  // overwrite?
  ui.AnswerMessageBox(IDOK);   // changed
  Check([&] {
    EXPECT_EQ((std::vector<WatchEntry>{{"/opt/tools/runner", 0x2}, {"/usr/bin/other", 0x8}}), Entries());
    EXPECT_EQ(Entries(), SavedEntries());
    EXPECT_EQ("1 [-o--]", RowText(kDlg, IDC_LIST_WATCH, 0, 1));
    EXPECT_EQ(std::vector<int>{0}, SelectedRows(kDlg, IDC_LIST_WATCH));
  });
  ui.PressEscape();
  dlg->DoModal();

  ASSERT_EQ(6u, ui.MessageBoxes().size());
  EXPECT_EQ(std::string::npos, ui.MessageBoxes()[0].text.find("上書き"));
  EXPECT_NE(std::string::npos, ui.MessageBoxes()[4].text.find("上書き"));
  ASSERT_EQ(3u, ui.FileDialogs().size());
  const framework::FileOpenRequest& request = ui.FileDialogs()[0].request;
  EXPECT_EQ("監視するプログラムのファイル名を指定してください", request.title);
  EXPECT_EQ(static_cast<unsigned>(OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_FILEMUSTEXIST), request.flags);
  EXPECT_EQ(1, request.filterIndex);
  ASSERT_EQ(2u, request.filters.size());
  EXPECT_EQ("実行形式ファイル", request.filters[0].first);
  EXPECT_EQ("", request.filters[0].second);
  EXPECT_EQ("すべてのファイル(*.*)", request.filters[1].first);
  EXPECT_TRUE(request.initialName.empty());
  EXPECT_TRUE(request.defaultExtension.empty());
  ExpectScriptFit();
}

// A process reports the file behind every link (python3 -> python3.11, alternatives): the entry
// names that file and the confirmation says so. A script runs as its interpreter and could never
// match: it is refused with the reason. An entry observation leaves alone says so in its row.
TEST_F(ManageTest, LinksAreStoredAsTheirFileScriptsAreRefusedAndHandChangedEntriesSaySo) {
  const std::string real = dir + "/Tool-1.2";
  WriteFile(real, std::string("\x7f"
                              "ELF",
                              4));
  std::filesystem::create_symlink(real, dir + "/tool");
  std::filesystem::create_symlink(dir + "/tool", dir + "/alternative");
  WriteFile(dir + "/run.sh", "#!/usr/bin/env -S python3 -u\nprint(1)\n");
  Put("/usr/bin/kept", 0x1);
  app->GetQuickChangedPaths().insert("/usr/bin/kept");
  Check([&] { EXPECT_EQ("1 [o---]  手動変更中・監視外", RowText(kDlg, IDC_LIST_WATCH, 0, 1)); });
  ui.Click(IDC_BUTTON_NEW);
  ui.AnswerFileDialog(dir + "/alternative");
  Check([&] { EXPECT_EQ(real, Control(IDD_CHANGE_CPU_ASSIGN, IDC_TARGET_TEXT)->text); });
  ui.Click(IDC_CPU1);
  ui.PressEnter();
  ui.AnswerMessageBox(IDYES);
  ui.AnswerMessageBox(IDOK);
  ui.Click(IDC_BUTTON_NEW);
  ui.AnswerFileDialog(dir + "/run.sh");
  ui.AnswerMessageBox(IDOK);
  ui.PressEscape();
  dlg->DoModal();
  EXPECT_EQ((std::vector<WatchEntry>{{"/usr/bin/kept", 0x1}, {ToLowerAsciiCopy(real), 0x2}}), SavedEntries());
  ASSERT_EQ(3u, ui.MessageBoxes().size());
  EXPECT_NE(std::string::npos, ui.MessageBoxes()[0].text.find(ToLowerAsciiCopy(real))) << ui.MessageBoxes()[0].text;
  EXPECT_NE(std::string::npos, ui.MessageBoxes()[0].text.find("選んだ " + dir + "/alternative はリンクです"));
  const framework::headless::MessageBoxRecord& refusal = ui.MessageBoxes()[2];
  EXPECT_EQ(MB_OK, refusal.type);
  EXPECT_NE(std::string::npos, refusal.text.find("スクリプトは python3 で実行される")) << refusal.text;
  ExpectScriptFit();
}

TEST_F(ManageTest, BackingOutAnywhereChangesNothingAndSaysNothing) {
  Put("/usr/bin/kept", 0x1);
  ui.Click(IDC_BUTTON_NEW);
  ui.CancelFileDialog();
  ui.Click(IDC_BUTTON_NEW);
  ui.AnswerFileDialog("/usr/bin/new");
  ui.Click(IDC_CPU0);
  ui.PressEscape();  // the processor dialog
  // Refused empty mask first, then given up.
  ui.Click(IDC_BUTTON_NEW);
  ui.AnswerFileDialog("/usr/bin/new");
  ui.PressEnter();
  ui.AnswerMessageBox(IDOK);
  ui.Click(IDCANCEL);
  // The confirmation declined.
  ui.Click(IDC_BUTTON_NEW);
  ui.AnswerFileDialog("/usr/bin/new");
  ui.Click(IDC_CPU1);
  ui.PressEnter();
  ui.AnswerMessageBox(IDNO);
  ui.PressEscape();
  dlg->DoModal();

  EXPECT_EQ((std::vector<WatchEntry>{{"/usr/bin/kept", 0x1}}), Entries());
  // The only boxes: the processor dialog's refusal and the declined question.
  ASSERT_EQ(2u, ui.MessageBoxes().size());
  EXPECT_EQ(IDNO, ui.MessageBoxes()[1].answer);
  EXPECT_FALSE(std::filesystem::exists(dir + "/mavrin.ini"));
  ExpectScriptFit();
}

TEST_F(ManageTest, DeleteTakesTheSelectedRowOrTheFirstWhenNoneIsSelected) {
  Put("/usr/bin/one", 0x1);
  Put("/usr/bin/two", 0x2);
  Put("/usr/bin/three", 0x4);
  ui.SelectRow(IDC_LIST_WATCH, 1);
  ui.Click(IDC_BUTTON_DELETE);
  ui.AnswerMessageBox(IDYES);
  Check([&] {
    EXPECT_EQ((std::vector<WatchEntry>{{"/usr/bin/one", 0x1}, {"/usr/bin/three", 0x4}}), Entries());
    EXPECT_EQ(Entries(), SavedEntries());
    ASSERT_EQ(2u, RowCount(kDlg, IDC_LIST_WATCH));
    EXPECT_EQ("/usr/bin/three", RowText(kDlg, IDC_LIST_WATCH, 1, 0));
    EXPECT_EQ(std::vector<int>{0}, SelectedRows(kDlg, IDC_LIST_WATCH));
  });
  ui.ClickEmptyListArea(IDC_LIST_WATCH);
  ui.Click(IDC_BUTTON_DELETE);
  ui.AnswerMessageBox(IDNO);
  Check([&] { EXPECT_EQ(2u, Entries().size()); });
  ui.PressEscape();
  dlg->DoModal();

  ASSERT_EQ(2u, ui.MessageBoxes().size());
  EXPECT_NE(std::string::npos, ui.MessageBoxes()[0].text.find("/usr/bin/two"));
  EXPECT_NE(std::string::npos, ui.MessageBoxes()[1].text.find("/usr/bin/one"));
  ExpectScriptFit();
}

}  // namespace
