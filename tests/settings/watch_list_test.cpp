#include "settings/watch_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"

namespace {

WatchList MakeList(std::initializer_list<WatchEntry> entries) {
  WatchList list;
  for (const WatchEntry& e : entries) list.Append(e);
  return list;
}

TEST(ToLowerAscii, LowersOnlyTheTwentySixCapitals) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  std::string lowered = all;
  ToLowerAscii(lowered);
  ASSERT_EQ(lowered.size(), 256u);
  for (int b = 0; b < 256; ++b) {
    unsigned char expected =
        (b >= 0x41 && b <= 0x5A) ? static_cast<unsigned char>(b + 0x20) : static_cast<unsigned char>(b);
    EXPECT_EQ(static_cast<unsigned char>(lowered[b]), expected) << "byte " << b;
  }
}

TEST(ToLowerAscii, LowersTrailingBytesOfDoubleByteCharactersToo) {
  // "\x83\x41" is a katakana letter in code page 932 whose second byte is 'A'; the rule knows
  // nothing of that and lowers it, and it must, so that both sides of a comparison agree.
  std::string text = "C:\\\x83\x41\x82\x60.EXE";
  EXPECT_EQ(ToLowerAsciiCopy(text), "c:\\\x83\x61\x82\x60.exe");
  // Full-width 'Ａ' in UTF-8 stays as it is.
  EXPECT_EQ(ToLowerAsciiCopy("\xEF\xBC\xA1"), "\xEF\xBC\xA1");
}

TEST(FindWatchEntry, Lookups) {
  WatchList empty;
  EXPECT_EQ(empty.FindWatchEntry("/usr/bin/a"), -1);
  EXPECT_EQ(empty.FindWatchEntry(nullptr), -1);

  WatchList list = MakeList({{"/opt/app/game.exe", 1},
                             {"c:\\tools\\\xef\xbd\x81.exe", 2},
                             {"/opt/app/game.exe2", 3},
                             {"/opt/app/game.exe", 4}});
  EXPECT_EQ(list.FindWatchEntry("/OPT/App/GAME.EXE"), 0) << "ASCII case is ignored";
  EXPECT_EQ(list.FindWatchEntry("/opt/app/game.exe2"), 2);
  EXPECT_EQ(list.FindWatchEntry("/opt/app/game.ex"), -1) << "a prefix is not a match";
  EXPECT_EQ(list.FindWatchEntry("/opt/app/game.exe "), -1);
  EXPECT_EQ(list.FindWatchEntry(""), -1);
  // Full-width small 'ａ' stored; full-width capital 'Ａ' asked: different bytes, no match.
  EXPECT_EQ(list.FindWatchEntry("C:\\TOOLS\\\xef\xbd\x81.EXE"), 1);
  EXPECT_EQ(list.FindWatchEntry("c:\\tools\\\xef\xbc\xa1.exe"), -1);
  EXPECT_EQ(list.FindWatchEntry("/opt/app/game.exe"), 0) << "the first of two equal paths";
}

TEST(FindWatchEntry, DoesNotChangeTheQuery) {
  WatchList list = MakeList({{"/a/b", 1}});
  char query[] = "/A/B";
  EXPECT_EQ(list.FindWatchEntry(query), 0);
  EXPECT_STREQ(query, "/A/B");
}

TEST(WatchList, EditingKeepsOrderAndIgnoresStaleIndexes) {
  WatchList list = MakeList({{"/a", 1}, {"/b", 2}, {"/c", 3}});

  EXPECT_TRUE(list.Remove(0));
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.At(0), (WatchEntry{"/b", 2}));
  EXPECT_EQ(list[1], (WatchEntry{"/c", 3}));

  EXPECT_TRUE(list.Replace(0, {"/x", 0xFFFFFFFFu}));
  EXPECT_EQ(list.At(0), (WatchEntry{"/x", 0xFFFFFFFFu}));
  EXPECT_EQ(list.FindWatchEntry("/x"), 0);
  EXPECT_EQ(list.FindWatchEntry("/b"), -1);

  WatchList before = list;
  EXPECT_FALSE(list.Replace(2, {"/y", 1}));
  EXPECT_FALSE(list.Remove(2));
  EXPECT_FALSE(list.Remove(static_cast<std::size_t>(-1)));
  EXPECT_EQ(list, before);

  list.Append({"/d", 4});
  EXPECT_EQ(list.At(2), (WatchEntry{"/d", 4}));

  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_TRUE(list.Empty());
  EXPECT_FALSE(list.Remove(0));
  EXPECT_EQ(list.FindWatchEntry("/d"), -1);
}

TEST(WatchList, FindAllStaysTrueThroughEveryEdit) {
  // Every edit against a plain scan of the entries, on a list with many equal paths.
  WatchList list;
  auto scan = [&](const std::string& path) {
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < list.Count(); ++i) {
      if (list[i].exePath == path) found.push_back(i);
    }
    return found;
  };
  std::vector<std::size_t> found;
  for (unsigned step = 0; step < 600; ++step) {
    const std::string path = "/p" + std::to_string((step * 7919u) % 13u);
    switch ((step * 31u) % 5u) {
      case 0:
      case 1: list.Append({path, step}); break;
      case 2: list.Replace((step * 17u) % (list.Count() + 1), {path, step}); break;
      default: list.Remove((step * 13u) % (list.Count() + 1)); break;
    }
    for (unsigned p = 0; p < 13; ++p) {
      const std::string probe = "/p" + std::to_string(p);
      list.FindAll(probe, found);
      ASSERT_EQ(found, scan(probe)) << "step " << step << ", " << probe;
    }
  }
  list.FindAll("/P1", found);
  EXPECT_TRUE(found.empty()) << "no case rule: callers pass lower-cased paths";
}

}  // namespace
