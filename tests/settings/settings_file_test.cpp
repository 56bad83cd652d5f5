#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "platform/linux/ini_file.h"
#include "settings/watch_list_store.h"
#include "tests/support/captured_stream.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::string_literals;

// What a save writes to its diagnostic stream.
using Diag = CapturedStream;

std::string Slot(int n) {
  char text[16];
  std::snprintf(text, sizeof text, "%03d", n);
  return text;
}

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.Ok()); }
  std::string path() const { return dir_.File("mavrin.ini"); }
  void Put(const std::string& text) { ASSERT_TRUE(WriteFileBytes(path(), text)); }
  std::string Content() const { return ReadFileBytes(path()); }

  WatchList Load() {
    platform::IniFile file(path());
    WatchList list;
    list.Append({"/left/over", 9});  // loading replaces, never adds
    SerializeWatchList(list, file, false, nullptr, errors.get());
    return list;
  }
  std::string Save(const WatchList& list) {
    platform::IniFile file(path());
    WatchList copy = list;
    Diag diag;
    SerializeWatchList(copy, file, true, diag.get(), errors.get());
    EXPECT_EQ(copy, list) << "saving leaves the list alone";
    return diag.Text();
  }
  std::string Value(const std::string& key) {
    platform::IniFile file(path());
    char buffer[8192];
    std::size_t n = file.Read(kSettingsSection, key.c_str(), "<missing>", buffer, sizeof buffer);
    return std::string(buffer, n);
  }

  static WatchList Numbered(int count, const char* stem = "/opt/app") {
    WatchList list;
    for (int i = 0; i < count; ++i)
      list.Append({std::string(stem) + std::to_string(i), static_cast<AffinityMask>(i + 1)});
    return list;
  }

  TempDir dir_;
  CapturedStream errors;  // what the user is told
};

TEST(ParseAffinityMask, TakesOnlyNumbersTheFileFormatHolds) {
  struct Case {
    const char* text;
    AffinityMask mask;
  };
  for (const Case& c :
       {Case{"", 0u}, Case{"  ", 0u}, Case{"0", 0u}, Case{"15", 15u}, Case{"-1", 0xFFFFFFFFu},
        Case{"4294967295", 0xFFFFFFFFu}, Case{"-2147483648", 0x80000000u}, Case{"2147483648", 0x80000000u},
        Case{" +7 ", 7u}, Case{"\t12\t", 12u}, Case{"007", 7u}, Case{"-0", 0u}, Case{"00000000000000000000001", 1u}}) {
    AffinityMask mask = 12345;
    EXPECT_TRUE(ParseAffinityMask(c.text, mask)) << '"' << c.text << '"';
    EXPECT_EQ(mask, c.mask) << '"' << c.text << '"';
  }
  for (const char* text : {"4294967296", "99999999999", "-2147483649", "-4294967295", "0x10", "abc", "+", "-", "--1",
                           "+-1", "- 1", "3 4", "1e3", " +7abc", "7 cpus", "1.0"}) {
    AffinityMask mask = 12345;
    EXPECT_FALSE(ParseAffinityMask(text, mask)) << '"' << text << '"';
    EXPECT_EQ(mask, 12345u) << "left alone";
  }
  AffinityMask mask = 0;
  EXPECT_FALSE(ParseAffinityMask(nullptr, mask));
  EXPECT_FALSE(ParseAffinityMask(std::string(100000, '9').c_str(), mask));
}

TEST_F(SettingsFileTest, RoundTripKeepsEveryEntryAndMask) {
  WatchList list;
  list.Append({"/usr/bin/plain", 1});
  list.Append({"/opt/bit 31/app", 0x80000000u});
  list.Append({"/opt/all/app", 0xFFFFFFFFu});
  list.Append({"/opt/none/app", 0});
  list.Append({"\"/quoted path\"", 0x7FFFFFFFu});
  list.Append({"  /blanks around  ", 2});
  list.Append({"c:\\\x83\x5c\x83\x61\\[x]=y;%d.exe", 0x55u});
  list.Append({"/usr/bin/plain", 4});  // a duplicate survives too
  Save(list);
  EXPECT_EQ(Load(), list);
  EXPECT_EQ(Value("002_affinity_mask"), "-2147483648");
  EXPECT_EQ(Value("003_affinity_mask"), "-1");
  EXPECT_EQ(Value("005_affinity_mask"), "2147483647");
}

TEST_F(SettingsFileTest, SetsBeyondCpu31KeepTheirMaskForOlderReadersAndAListForThisOne) {
  WatchList list;
  list.Append({"/opt/upper/half", platform::ProcessorSet::Range(64, 127)});
  list.Append({"/opt/both/words", platform::ProcessorSet{0, 1, 31, 32, 1023}});
  list.Append({"/opt/narrow", 0x80000001u});
  EXPECT_EQ(Save(list),
            "001 : /opt/upper/half, 64-127\n002 : /opt/both/words, 0-1,31-32,1023\n003 : /opt/narrow, -2147483647\n");
  EXPECT_EQ(Load(), list);
  EXPECT_EQ(Value("001_affinity_mask"), "0");
  EXPECT_EQ(Value("001_affinity_cpus"), "64-127");
  EXPECT_EQ(Value("002_affinity_mask"), "-2147483645");
  EXPECT_EQ(Value("002_affinity_cpus"), "0-1,31-32,1023");
  EXPECT_EQ(Value("003_affinity_cpus"), "<missing>") << "a set within CPU 0-31 is written as always";

  // A narrow set in a slot that had a list, and a blanked slot that had one: no list outlives its set.
  WatchList narrower;
  narrower.Append({"/opt/narrow", 0x3u});
  Save(narrower);
  EXPECT_EQ(Value("001_affinity_cpus"), "");
  EXPECT_EQ(Value("002_affinity_cpus"), "");
  EXPECT_EQ(Value("003_affinity_cpus"), "<missing>") << "no list key where there was none";
  EXPECT_EQ(Load(), narrower);
  EXPECT_EQ(errors.Text(), "");
}

TEST_F(SettingsFileTest, SetsWithinCpu0To31WriteTheFileAsItAlwaysWas) {
  WatchList list;
  list.Append({"/usr/bin/a", 0x3u});
  list.Append({"/opt/b", 0xFFFFFFFFu});
  Save(list);
  std::string expected =
      "[MAV_RIN]\n001_process_path=/usr/bin/a\n001_affinity_mask=3\n002_process_path=/opt/b\n002_affinity_mask=-1\n";
  for (int n = 3; n <= 100; ++n) expected += Slot(n) + "_process_path=\n" + Slot(n) + "_affinity_mask=0\n";
  EXPECT_EQ(Content(), expected);
}

TEST_F(SettingsFileTest, AValidListWinsOverTheMaskAndAnInvalidOneIsSaidAndPassedOver) {
  Put("[MAV_RIN]\n"
      "001_process_path=/opt/listed\n001_affinity_mask=1\n001_affinity_cpus= 4-7,64 \n"
      "002_process_path=/opt/bad-list\n002_affinity_mask=3\n002_affinity_cpus=1-x\n"
      "003_process_path=/opt/beyond\n003_affinity_mask=2\n003_affinity_cpus=1024\n"
      "004_process_path=/opt/blank-list\n004_affinity_mask=6\n004_affinity_cpus=\n"
      "005_process_path=/opt/nothing-usable\n005_affinity_mask=many\n005_affinity_cpus=7-1\n");
  WatchList expected;
  expected.Append({"/opt/listed", platform::ProcessorSet{4, 5, 6, 7, 64}});
  expected.Append({"/opt/bad-list", 3});
  expected.Append({"/opt/beyond", 2});
  expected.Append({"/opt/blank-list", 6});
  EXPECT_EQ(Load(), expected);
  const std::string said = errors.Text();
  EXPECT_NE(said.find("slot 002 (/opt/bad-list): its processor list \"1-x\" is not valid (at 2: 'x' where a processor "
                      "number belongs), so its mask is used\n"),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("slot 003 (/opt/beyond): its processor list \"1024\" is not valid"), std::string::npos) << said;
  EXPECT_NE(said.find("slot 005 (/opt/nothing-usable) is not watched and stays as it is: its processor list \"7-1\" is "
                      "not valid (at 3: the range 7-1 runs backwards), and its mask \"many\""),
            std::string::npos)
      << said;
  EXPECT_EQ(said.find("slot 004"), std::string::npos) << "an empty list is no list";
}

TEST_F(SettingsFileTest, FirstSaveWritesAHundredBlankSlots) {
  EXPECT_EQ(Load(), WatchList()) << "no file: empty list";
  EXPECT_EQ(Save(WatchList()), "");
  std::string expected = "[MAV_RIN]\n";
  for (int n = 1; n <= 100; ++n) expected += Slot(n) + "_process_path=\n" + Slot(n) + "_affinity_mask=0\n";
  EXPECT_EQ(Content(), expected);
  EXPECT_EQ(Load(), WatchList());
}

TEST_F(SettingsFileTest, SavesDiagnosticLines) {
  WatchList list;
  list.Append({"/usr/bin/a", 3});
  list.Append({"/usr/bin/b", 0x80000001u});
  EXPECT_EQ(Save(list), "001 : /usr/bin/a, 3\n002 : /usr/bin/b, -2147483647\n");
}

TEST_F(SettingsFileTest, ShorterListBlanksTheRest) {
  Save(Numbered(5));
  Save(Numbered(3, "/new"));
  EXPECT_EQ(Load(), Numbered(3, "/new"));
  EXPECT_EQ(Value("004_process_path"), "");
  EXPECT_EQ(Value("005_affinity_mask"), "0");
}

TEST_F(SettingsFileTest, MoreThanAHundredEntries) {
  Save(Numbered(130));
  EXPECT_EQ(Value("130_process_path"), "/opt/app129");
  EXPECT_EQ(Load(), Numbered(130)) << "no entry above slot 100 is lost";

  Save(Numbered(10));
  EXPECT_EQ(Load(), Numbered(10));
  EXPECT_EQ(Value("101_process_path"), "") << "stale slots above 100 are blanked";
  EXPECT_EQ(Value("130_process_path"), "");
  EXPECT_EQ(Value("130_affinity_mask"), "0");
  EXPECT_EQ(Value("131_process_path"), "<missing>");

  // A file from the old behaviour: 100 live slots and leftovers of a longer list above a blank slot.
  std::string old = "[MAV_RIN]\n";
  for (int n = 1; n <= 100; ++n)
    old += Slot(n) + "_process_path=/p" + std::to_string(n) + "\n" + Slot(n) + "_affinity_mask=1\n";
  old += "101_process_path=\n101_affinity_mask=0\n102_process_path=/stale\n102_affinity_mask=5\n";
  Put(old);
  EXPECT_EQ(Load().Count(), 100u);
}

TEST_F(SettingsFileTest, StaleSlotsBeyondAGapDoNotComeBack) {
  // Hand-edited: slot 150 far above the list, slots 4 to 149 missing, and key spellings that are
  // not slot keys at all.
  Put("[MAV_RIN]\n001_process_path=/a\n150_PROCESS_PATH=/deleted\n150_affinity_mask=7\n"
      "0151_process_path=/not a slot\n151x_process_path=/nor this\n");
  Save(Numbered(3));
  EXPECT_EQ(Value("150_process_path"), "");
  EXPECT_EQ(Value("0151_process_path"), "/not a slot") << "other keys are left alone";
  Save(Numbered(149));
  EXPECT_EQ(Load(), Numbered(149));
}

TEST_F(SettingsFileTest, LoadingRules) {
  const std::string path4095 = "/" + std::string(4094, 'p');
  const std::string path4096 = "/" + std::string(4095, 'q');
  Put("[other]\n001_process_path=/not/ours\n"
      "[MAV_RIN]\n"
      "001_process_path=C:\\Program Files\\APP.EXE\n001_affinity_mask=-1\n"
      "001_process_path=/duplicate/key\n"
      "002_process_path=/NoMask\n"
      "003_process_path=" +
      path4095 +
      "\n003_affinity_mask=4294967295\n"
      "004_process_path=" +
      path4096 +
      "\n004_affinity_mask=1\n"
      "005_process_path=/Hex\n005_affinity_mask=0x10\n"
      "006_process_path=/trailing junk\n006_affinity_mask= +7abc\n"
      "007_process_path\n"
      "009_process_path=/after/a/gap\n009_affinity_mask= 9 \n");
  WatchList expected;
  expected.Append({"c:\\program files\\app.exe", 0xFFFFFFFFu});
  expected.Append({"/nomask", 0});
  expected.Append({path4095, 0xFFFFFFFFu});
  expected.Append({"/after/a/gap", 9});
  EXPECT_EQ(Load(), expected) << "every slot with a path, gaps or not; long paths whole";
  const std::string said = errors.Text();
  EXPECT_NE(said.find(": slot 004 (/qqqqq"), std::string::npos) << said;
  EXPECT_NE(said.find("its path is longer than 4095 bytes\n"), std::string::npos) << said;
  EXPECT_NE(said.find(": slot 005 (/hex) is not watched and stays as it is: its mask \"0x10\" is no number"),
            std::string::npos)
      << said;
  EXPECT_NE(said.find(": slot 006 (/trailing junk) is not watched and stays as it is: its mask \"+7abc\""),
            std::string::npos)
      << said;

  // Saved back lower-cased, with -1 as -1; the slots the list cannot hold keep the user's text and
  // the entries go round them.
  Save(Load());
  EXPECT_EQ(Value("001_process_path"), "c:\\program files\\app.exe");
  EXPECT_EQ(Value("001_affinity_mask"), "-1");
  EXPECT_EQ(Value("003_process_path"), path4095);
  EXPECT_EQ(Value("003_affinity_mask"), "-1");
  EXPECT_EQ(Value("004_process_path"), path4096);
  EXPECT_EQ(Value("005_affinity_mask"), "0x10");
  EXPECT_EQ(Value("006_affinity_mask"), "+7abc");
  EXPECT_EQ(Value("007_process_path"), "/after/a/gap");
  EXPECT_EQ(Value("009_process_path"), "");
  EXPECT_EQ(Load(), expected);

  Put("[MAV_RIN]\n001_process_path=/a\n001_affinity_mask=1\n003_process_path=/c\n003_affinity_mask=3\n");
  WatchList both;
  both.Append({"/a", 1});
  both.Append({"/c", 3});
  EXPECT_EQ(Load(), both);
  Save(Load());
  EXPECT_EQ(Value("002_process_path"), "/c") << "a hand-made gap loses nothing";
  EXPECT_EQ(Value("003_process_path"), "");
  EXPECT_EQ(Load(), both);
  Put("[MAV_RIN]\n001_process_path=\n002_process_path=/x\n");
  ASSERT_EQ(Load().Count(), 1u);
  EXPECT_EQ(Load().At(0).exePath, "/x");
  Put("[other]\n001_process_path=/x\n");
  EXPECT_EQ(Load(), WatchList());
}

TEST_F(SettingsFileTest, JunkFilesLoadWithoutHarm) {
  std::mt19937 random(99);
  for (int round = 0; round < 20; ++round) {
    std::string junk(1 << 16, '\0');
    for (char& c : junk) c = static_cast<char>(random());
    if (round % 2 == 1) junk = "[MAV_RIN]\n001_process_path=/a\0b\n001_affinity_mask=1\n"s + junk;
    Put(junk);
    WatchList list = Load();
    if (round % 2 == 1) {
      ASSERT_GE(list.Count(), 1u);
      EXPECT_EQ(list.At(0).exePath, "/a");
    }
    for (const WatchEntry& e : list) EXPECT_FALSE(e.exePath.empty());
  }
}

TEST_F(SettingsFileTest, FailedCommitKeepsTheOldFileAndSaysSo) {
  Save(Numbered(2));
  const std::string old = Content();

  platform::IniFile file(path());
  platform::IniFileFaults faults;
  faults.diskFullAfterBytes = 100;
  file.SetFaultsForTesting(faults);
  WatchList list = Numbered(3, "/new");
  Diag diag;
  EXPECT_FALSE(SerializeWatchList(list, file, true, diag.get(), errors.get()));
  EXPECT_EQ(Content(), old);
  EXPECT_EQ(dir_.Listing(), "mavrin.ini\n");

  // Each entry says it failed; the blank slots do not; the user hears once why.
  EXPECT_EQ(diag.Text(),
            "001 : /new0, 1\n failed. (process)\n failed. (mask)\n"
            "002 : /new1, 2\n failed. (process)\n failed. (mask)\n"
            "003 : /new2, 3\n failed. (process)\n failed. (mask)\n");
  EXPECT_EQ(errors.Text(), "mavrin: the watch list could not be saved to " + path() +
                               " (No space left on device); the file keeps what it held\n");
  EXPECT_EQ(Load(), Numbered(2));
}

TEST_F(SettingsFileTest, UnstorablePathsAreSkippedWithoutLosingOthers) {
  Save(Numbered(4, "/old"));
  WatchList list;
  list.Append({"/a", 1});
  list.Append({"/line\nbreak", 2});
  list.Append({"", 3});
  list.Append({"/carriage\rreturn", 4});
  list.Append({"/d", 5});
  std::string diag = Save(list);
  EXPECT_EQ(diag,
            "001 : /a, 1\n002 : /line\nbreak, 2\n failed. (process)\n003 : , 3\n failed. (process)\n"
            "004 : /carriage\rreturn, 4\n failed. (process)\n005 : /d, 5\n");
  WatchList expected;
  expected.Append({"/a", 1});
  expected.Append({"/d", 5});
  EXPECT_EQ(Load(), expected) << "the entries after a refused path keep their place in the file";
  EXPECT_EQ(Value("003_process_path"), "") << "the old third entry is blanked";
}

TEST_F(SettingsFileTest, UnusableFileLoadsEmptyAndIsNotReplaced) {
  ASSERT_TRUE(std::filesystem::create_directory(path()));
  EXPECT_EQ(Load(), WatchList());
  std::string diag = Save(Numbered(1));
  const std::string head = "001 : /opt/app0, 1\n failed. (process)\n";
  EXPECT_EQ(diag.substr(0, head.size()), head);
  EXPECT_TRUE(std::filesystem::is_directory(path()));
}

// ---- The file shared with the user ----------------------------------------------------------

// An editor's save: the new text in a file beside it, renamed over the old one.
void RenameOver(const std::string& path, const std::string& text) {
  ASSERT_TRUE(WriteFileBytes(path + ".swp", text));
  ASSERT_EQ(0, std::rename((path + ".swp").c_str(), path.c_str()));
}

class StoreTest : public SettingsFileTest {
 protected:
  WatchListChange Put(const std::string& path, AffinityMask mask) {
    return WatchListChange{WatchListChange::Kind::kPut, WatchEntry{path, mask}};
  }
  WatchListChange Removal(const std::string& path) {
    return WatchListChange{WatchListChange::Kind::kRemove, {path, 0}};
  }
  static WatchList List(std::initializer_list<WatchEntry> entries) {
    WatchList list;
    for (const WatchEntry& e : entries) list.Append(e);
    return list;
  }
  // The list the program edits the way a confirmed command does: in memory, then the save.
  bool Confirm(const WatchListChange& change) {
    change.ApplyTo(list);
    return store.Save(list, &change);
  }

  platform::IniFile file{path()};
  Diag diag;
  WatchListStore store{file, diag.get(), errors.get()};
  WatchList list;
};

TEST_F(StoreTest, AHandEditSurvivesTheNextSaveAndOnlyTheProgramsChangeIsMadeOnIt) {
  Save(List({{"/opt/a", 1}, {"/opt/b", 2}}));
  store.Load(list);
  // The user changes a's mask and adds c; the program meanwhile deletes b and adds d.
  RenameOver(path(),
             "[MAV_RIN]\n001_process_path=/opt/a\n001_affinity_mask=3\n002_process_path=/opt/b\n"
             "002_affinity_mask=2\n003_process_path=/opt/c\n003_affinity_mask=4\n");
  ASSERT_TRUE(Confirm(Removal("/opt/b")));
  ASSERT_TRUE(Confirm(Put("/opt/d", 8)));
  const WatchList expected = List({{"/opt/a", 3}, {"/opt/c", 4}, {"/opt/d", 8}});
  EXPECT_EQ(list, expected);
  EXPECT_EQ(Load(), expected);
  EXPECT_NE(diag.Text().find("reloaded " + path() + ": 2 entries\n"), std::string::npos) << diag.Text();
  // Its own saves are no news to it.
  EXPECT_FALSE(store.ReloadIfChanged(list));
  EXPECT_TRUE(store.Save(list));
  EXPECT_FALSE(store.ReloadIfChanged(list));
}

TEST_F(StoreTest, EveryKindOfEditIsTakenInAndAFileThatCannotBeReadIsNeverReplaced) {
  Save(List({{"/opt/a", 1}}));
  store.Load(list);
  EXPECT_FALSE(store.ReloadIfChanged(list)) << "nothing changed";

  // Truncated and written in place; then rewritten the way `sed -i` does it.
  ASSERT_TRUE(WriteFileBytes(path(), "[MAV_RIN]\n001_process_path=/opt/a\n001_affinity_mask=2\n"));
  EXPECT_TRUE(store.ReloadIfChanged(list));
  EXPECT_EQ(list, List({{"/opt/a", 2}}));
  ASSERT_EQ(0, std::system(("sed -i 's/=2$/=6/' '" + path() + "'").c_str()));
  EXPECT_TRUE(store.ReloadIfChanged(list));
  EXPECT_EQ(list, List({{"/opt/a", 6}}));

  // Gone, or no longer a file: the list stays, and a change still has nowhere to go but memory.
  std::filesystem::remove(path());
  std::filesystem::create_directory(path());
  EXPECT_FALSE(store.ReloadIfChanged(list));
  EXPECT_FALSE(store.ReloadIfChanged(list));
  EXPECT_EQ(list, List({{"/opt/a", 6}}));
  EXPECT_FALSE(Confirm(Put("/opt/b", 1)));
  EXPECT_TRUE(std::filesystem::is_directory(path()));
  const std::string said = errors.Text();
  EXPECT_EQ(said.find("mavrin: cannot read " + path() + " (not a regular file); the watch list stays as it is\n"), 0u)
      << said;
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2) << "once for the reloads, once for the save: " << said;

  // Back, edited once more: the change that waited is made on it.
  std::filesystem::remove(path());
  ASSERT_TRUE(WriteFileBytes(path(), "[MAV_RIN]\n001_process_path=/opt/a\n001_affinity_mask=7\n"));
  EXPECT_TRUE(store.ReloadIfChanged(list));
  EXPECT_EQ(list, List({{"/opt/a", 7}, {"/opt/b", 1}}));
  EXPECT_TRUE(store.Save(list));
  EXPECT_EQ(Load(), list);
  std::filesystem::remove(path());
  EXPECT_FALSE(store.ReloadIfChanged(list));
  EXPECT_EQ(list.Count(), 2u) << "a removed file is no order to forget the list";
}

TEST_F(StoreTest, AnUnreadableFileAtStartIsSaidOnceAndNotWrittenOver) {
  ASSERT_TRUE(std::filesystem::create_directory(path()));
  store.Load(list);
  EXPECT_TRUE(list.Empty());
  EXPECT_EQ(errors.Text(),
            "mavrin: cannot read " + path() +
                " (not a regular file); starting with an empty watch list, and the file is not written over\n");
  EXPECT_FALSE(store.ReloadIfChanged(list));
  EXPECT_FALSE(store.Save(list));
  EXPECT_TRUE(std::filesystem::is_directory(path()));
}

}  // namespace
