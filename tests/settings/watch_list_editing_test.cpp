// The confirmed editing commands on the application's watch list: their texts byte for byte, the
// answers, saving after each accepted change, and commands that overlap through an open box.
#include <filesystem>

#include "framework/defs.h"
#include "settings/watch_list_editing.h"
#include "tests/support/menu_fixture.h"

namespace {

const char kAddText[] = "下記の設定を監視リストに追加しますか？\n\n実行形式名：\n  ";
const char kOverwriteText[] = "既にこのプロセスには下記の設定が登録されています．\n\n実行形式名：\n  ";
const char kDeleteText[] = "下記の設定を削除してよろしいですか？\n\n実行形式名：\n  ";

class EditingTest : public MenuTest {
 protected:
  void Load(const std::vector<WatchEntry>& entries) {
    StoreEntries(entries);
    app->SerializeWatchList(false);
    ASSERT_EQ(entries, Entries());
  }
  void ExpectBox(std::size_t n, const std::string& text, unsigned type) {
    ASSERT_LT(n, ui.MessageBoxes().size());
    const auto& box = ui.MessageBoxes()[n];
    EXPECT_EQ(text, box.text);
    EXPECT_EQ("mavrin", box.caption);
    EXPECT_FALSE(box.defaultCaption);
    EXPECT_EQ(type, box.type);
    EXPECT_EQ(0u, box.owner);
  }
};

TEST_F(EditingTest, AddingANewPathAsksWithEveryProcessorAndSaves) {
  system.processorCount = 2;
  Load({{"/opt/a", 3}});
  ui.AnswerMessageBox(IDYES);
  ui.AnswerMessageBox(IDOK);
  const WatchEntry candidate{"/usr/bin/tool", 5};
  EXPECT_TRUE(AddOrUpdateWatchEntry(*app, candidate));

  // Two processors and mask 5: two lines, bit 2 is not mentioned.
  ExpectBox(0, std::string(kAddText) + "/usr/bin/tool\n\nCPU 割り当て：\n  CPU 0 = ON\n  CPU 1 = OFF", MB_YESNO);
  ExpectBox(1, "監視リストに追加しました", MB_OK);
  EXPECT_EQ(2u, ui.MessageBoxes().size());
  const std::vector<WatchEntry> expected{{"/opt/a", 3}, {"/usr/bin/tool", 5}};
  EXPECT_EQ(expected, Entries());
  EXPECT_EQ(expected, SavedEntries());
}

TEST_F(EditingTest, OverwriteShowsTheStoredLinesBeforeTheCandidatesAndKeepsThePosition) {
  system.processorCount = 3;
  Load({{"/opt/a", 1}, {"/usr/bin/tool", 1}, {"/opt/c", 2}});
  ui.AnswerMessageBox(IDYES);
  ui.AnswerMessageBox(IDOK);
  EXPECT_TRUE(AddOrUpdateWatchEntry(*app, WatchEntry{"/usr/bin/tool", 6}));
  ExpectBox(0,
            std::string(kOverwriteText) +
                "/usr/bin/tool\n\nCPU 割り当て：\n  CPU 0 = ON\n  CPU 1 = OFF\n  CPU 2 = OFF"
                "\n\n下記の設定で上書きしますか？\n\nCPU 割り当て：\n  CPU 0 = OFF\n  CPU 1 = ON\n  CPU 2 = ON",
            MB_YESNO);
  ExpectBox(1, "監視リストを変更しました", MB_OK);
  const std::vector<WatchEntry> expected{{"/opt/a", 1}, {"/usr/bin/tool", 6}, {"/opt/c", 2}};
  EXPECT_EQ(expected, Entries());
  EXPECT_EQ(expected, SavedEntries());

  // The same mask again still asks and still reports the change.
  ui.AnswerMessageBox(IDYES);
  ui.AnswerMessageBox(IDOK);
  EXPECT_TRUE(AddOrUpdateWatchEntry(*app, WatchEntry{"/usr/bin/tool", 6}));
  ASSERT_EQ(4u, ui.MessageBoxes().size());
  ExpectBox(3, "監視リストを変更しました", MB_OK);
  EXPECT_EQ(expected, Entries());
  EXPECT_TRUE(ui.Errors().empty());
}

// An entry for the upper half of a 128-processor machine, from the confirmation to the log record.
TEST_F(EditingTest, AnEntryBeyondCpu63IsAskedSavedReloadedAppliedAndLoggedWhole) {
  system.processorCount = 128;
  const platform::ProcessorSet upper = platform::ProcessorSet::Range(64, 127);
  system.AddProcess(40, "/opt/render/bin/render", platform::ProcessorSet::FirstN(128));
  ui.AnswerMessageBox(IDYES);
  ui.AnswerMessageBox(IDOK);
  EXPECT_TRUE(AddOrUpdateWatchEntry(*app, WatchEntry{"/opt/render/bin/render", upper}));
  ExpectBox(0, std::string(kAddText) + "/opt/render/bin/render\n\nCPU 割り当て：\n  CPU 0-63 = OFF\n  CPU 64-127 = ON",
            MB_YESNO);
  const std::vector<WatchEntry> expected{{"/opt/render/bin/render", upper}};
  EXPECT_EQ(expected, SavedEntries());
  app->GetWatchList() = WatchList();
  app->SerializeWatchList(false);
  ASSERT_EQ(expected, Entries());
  app->RunObservationCycle();
  EXPECT_EQ(upper, system.FindProcess(40)->mask);
  EXPECT_NE(ReadText(LogPath()).find(
                ") set affinity mask 0xFFFFFFFFFFFFFFFF0000000000000000 to process \"/opt/render/bin/render\"\n"),
            std::string::npos)
      << ReadText(LogPath());
}

TEST_F(EditingTest, AnsweringNoChangesNothingAndShowsNoFurtherBox) {
  Load({{"/opt/a", 1}, {"/opt/b", 2}});
  const std::string fileBefore = ReadText(IniPath());
  ui.AnswerMessageBox(IDNO);
  EXPECT_FALSE(AddOrUpdateWatchEntry(*app, WatchEntry{"/opt/new", 1}));
  ui.AnswerMessageBox(IDNO);
  EXPECT_FALSE(AddOrUpdateWatchEntry(*app, WatchEntry{"/opt/b", 7}));
  ui.AnswerMessageBox(IDNO);
  EXPECT_FALSE(DeleteWatchEntry(0, *app));
  EXPECT_EQ(3u, ui.MessageBoxes().size());
  const std::vector<WatchEntry> expected{{"/opt/a", 1}, {"/opt/b", 2}};
  EXPECT_EQ(expected, Entries());
  EXPECT_EQ(expected, SavedEntries());
  EXPECT_EQ(fileBefore, ReadText(IniPath()));
}

TEST_F(EditingTest, DeleteAsksWithThePathOnlyAndSaves) {
  Load({{"/opt/a", 1}, {"/opt/b", 2}, {"/opt/c", 4}});
  ui.AnswerMessageBox(IDYES);
  EXPECT_TRUE(DeleteWatchEntry(1, *app));
  ASSERT_EQ(1u, ui.MessageBoxes().size());
  ExpectBox(0, std::string(kDeleteText) + "/opt/b", MB_YESNO);
  const std::vector<WatchEntry> expected{{"/opt/a", 1}, {"/opt/c", 4}};
  EXPECT_EQ(expected, Entries());
  EXPECT_EQ(expected, SavedEntries());

  // Out of range: no box, nothing removed.
  EXPECT_FALSE(DeleteWatchEntry(-1, *app));
  EXPECT_FALSE(DeleteWatchEntry(2, *app));
  EXPECT_EQ(1u, ui.MessageBoxes().size());
  EXPECT_EQ(expected, Entries());
}

// Another command changes the list while a box is open; the answered command must act on the entry
// the user was shown, wherever it is now, or on nothing.
TEST_F(EditingTest, CommandsFindTheirEntryAgainAfterTheBox) {
  Load({{"/opt/a", 1}, {"/opt/b", 2}, {"/opt/c", 4}});
  WatchList& list = app->GetWatchList();
  std::function<void()> meanwhile;
  ui.SetMessageBoxHandler([&](const framework::headless::MessageBoxRecord& box) {
    if (meanwhile) std::exchange(meanwhile, nullptr)();
    return box.type == MB_YESNO ? IDYES : IDOK;
  });

  // The entry moved forward: the one shown is deleted, not its new neighbour or nothing.
  meanwhile = [&] { list.Remove(0); };
  EXPECT_TRUE(DeleteWatchEntry(2, *app));
  EXPECT_EQ((std::vector<WatchEntry>{{"/opt/b", 2}}), Entries());

  // The entry went away: nothing is deleted.
  list.Append({"/opt/d", 8});
  meanwhile = [&] { list.Remove(1); };
  EXPECT_FALSE(DeleteWatchEntry(1, *app));
  EXPECT_EQ((std::vector<WatchEntry>{{"/opt/b", 2}}), Entries());

  // The same path was added while the add was being confirmed: one entry, with the confirmed mask.
  meanwhile = [&] { list.Append({"/opt/e", 1}); };
  EXPECT_TRUE(AddOrUpdateWatchEntry(*app, WatchEntry{"/opt/e", 16}));
  EXPECT_EQ((std::vector<WatchEntry>{{"/opt/b", 2}, {"/opt/e", 16}}), Entries());
  EXPECT_EQ(Entries(), SavedEntries());

  // The entry to overwrite went away: nothing is written anywhere.
  meanwhile = [&] { list.Remove(0); };
  EXPECT_FALSE(AddOrUpdateWatchEntry(*app, WatchEntry{"/opt/b", 3}));
  EXPECT_EQ((std::vector<WatchEntry>{{"/opt/e", 16}}), Entries());
}

// The user edits the file while a delete from the tray menu waits for its answer: the tick in the
// box's loop takes the edit in, and the delete removes the entry the user was asked about.
TEST_F(EditingTest, AHandEditWhileABoxIsOpenIsKeptAndTheCommandActsOnItsOwnEntry) {
  StoreEntries({{"/opt/a", 1}, {"/opt/b", 2}, {"/opt/c", 4}});
  system.AddProcess(7, "/opt/c", 0xF);
  ui.TrayNotify(WM_LBUTTONDOWN);
  ui.ChooseMenu(ID_DELETE_ENTRY_BASE + 1);
  Check([&] {
    ASSERT_EQ(1u, ui.MessageBoxes().size());
    ExpectBox(0, std::string(kDeleteText) + "/opt/b", MB_YESNO);
    WriteIni(
        "[MAV_RIN]\n001_process_path=/opt/new\n001_affinity_mask=2\n002_process_path=/opt/a\n"
        "002_affinity_mask=1\n003_process_path=/opt/b\n003_affinity_mask=2\n004_process_path=/opt/c\n"
        "004_affinity_mask=8\n");
    settingsMonitor.changed = true;
  });
  ui.AdvanceTime(1000);
  Check([&] {
    EXPECT_EQ(0x8u, system.FindProcess(7)->mask) << "the edit is in force at once";
    EXPECT_EQ(4u, Entries().size());
  });
  ui.AnswerMessageBox(IDYES);
  ExitProgram();
  RunProgram();
  const std::vector<WatchEntry> expected{{"/opt/new", 2}, {"/opt/a", 1}, {"/opt/c", 8}};
  EXPECT_EQ(expected, Entries());
  EXPECT_EQ(expected, SavedEntries());
}

TEST_F(EditingTest, AChangeThatCannotBeSavedIsToldInABoxAndStaysInForce) {
  Load({{"/opt/a", 1}});
  std::filesystem::remove(IniPath());
  std::filesystem::create_directory(IniPath());  // nothing can be written there now
  ui.AnswerMessageBox(IDYES);
  ui.AnswerMessageBox(IDOK);
  EXPECT_TRUE(AddOrUpdateWatchEntry(*app, WatchEntry{"/opt/b", 2}));
  ASSERT_EQ(2u, ui.MessageBoxes().size());
  ExpectBox(1,
            "監視リストを変更しましたが，設定ファイル（mavrin.ini）に保存できませんでした．\n"
            "変更はこのまま有効で，次に保存するときにもう一度書き込みます．\n\n理由：not a regular file",
            MB_OK | MB_ICONWARNING);
  EXPECT_EQ((std::vector<WatchEntry>{{"/opt/a", 1}, {"/opt/b", 2}}), Entries());
  EXPECT_NE(
      Errors().find("the watch list could not be saved to " + IniPath() + " (it cannot be read: not a regular file)"),
      std::string::npos)
      << Errors();

  // Once the file can be written again, the next save puts the change there.
  std::filesystem::remove(IniPath());
  ui.AnswerMessageBox(IDYES);
  EXPECT_TRUE(DeleteWatchEntry(0, *app));
  EXPECT_EQ(3u, ui.MessageBoxes().size());
  EXPECT_EQ((std::vector<WatchEntry>{{"/opt/b", 2}}), SavedEntries());
}

}  // namespace
