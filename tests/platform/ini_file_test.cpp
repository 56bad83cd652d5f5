#include "platform/linux/ini_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

using platform::IniFile;
using platform::IniFileFaults;

std::string Get(IniFile& file, const char* section, const char* key, const char* def = "", std::size_t size = 1024) {
  std::vector<char> buffer(size + 1, '#');
  std::size_t n = file.Read(section, key, def, buffer.data(), size);
  EXPECT_LT(n, size);
  EXPECT_EQ(buffer[n], '\0');
  EXPECT_EQ(buffer[size], '#') << "wrote past the buffer";
  return std::string(buffer.data(), n);
}

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.Ok()); }
  std::string path() const { return dir_.File("mavrin.ini"); }
  void Put(const std::string& text) { ASSERT_TRUE(WriteFileBytes(path(), text)); }
  std::string Content() const { return ReadFileBytes(path()); }

  TempDir dir_;
};

// ---- Reading ---------------------------------------------------------------------------------

TEST_F(IniFileTest, ReadsWindowsStyleFiles) {
  Put("; written on another system\r\n"
      "[Other]\r\n"
      "path=elsewhere\r\n"
      "\r\n"
      "  [ mav_rin ]  \r\n"
      "  001_Process_Path   =   C:\\Program Files\\App.exe   \r\n"
      "001_affinity_mask=\t-1\r\n"
      "quoted = \"  spaced value  \"\r\n"
      "single='x'\r\n"
      "half=\"open\r\n"
      "# a comment=not a key\r\n"
      ";commented=no\r\n"
      "no equals sign here\r\n"
      "empty=\r\n"
      "twice=first\r\n"
      "TWICE=second\r\n"
      "=no key\r\n"
      "[third]\r\n"
      "twice=third section\r\n");
  IniFile file(path());
  EXPECT_EQ(Get(file, "MAV_RIN", "001_process_path"), "C:\\Program Files\\App.exe");
  EXPECT_EQ(Get(file, "Mav_Rin", "001_AFFINITY_MASK"), "-1");
  EXPECT_EQ(Get(file, "MAV_RIN", "quoted"), "  spaced value  ");
  EXPECT_EQ(Get(file, "MAV_RIN", "single"), "x");
  EXPECT_EQ(Get(file, "MAV_RIN", "half"), "\"open");
  EXPECT_EQ(Get(file, "MAV_RIN", "# a comment", "dflt"), "dflt");
  EXPECT_EQ(Get(file, "MAV_RIN", ";commented", "dflt"), "dflt");
  EXPECT_EQ(Get(file, "MAV_RIN", "no equals sign here", "dflt"), "dflt");
  EXPECT_EQ(Get(file, "MAV_RIN", "empty", "dflt"), "") << "an empty value is not a missing key";
  EXPECT_EQ(Get(file, "MAV_RIN", "twice"), "first");
  EXPECT_EQ(Get(file, "MAV_RIN", "path", "dflt"), "dflt") << "keys of other sections stay there";
  EXPECT_EQ(Get(file, "other", "PATH"), "elsewhere");
  EXPECT_EQ(Get(file, "third", "twice"), "third section");
  EXPECT_EQ(Get(file, "MAV_RIN", "missing", "dflt"), "dflt");
  EXPECT_EQ(Get(file, "missing", "path", "dflt"), "dflt");
  EXPECT_EQ(Get(file, "MAV_RIN", "missing", nullptr), "");
  EXPECT_EQ(Get(file, nullptr, "path", "dflt"), "dflt");
  EXPECT_EQ(Get(file, "MAV_RIN", nullptr, "dflt"), "dflt");

  std::vector<std::string> keys;
  EXPECT_TRUE(file.ReadKeys("MAV_RIN", keys));
  EXPECT_EQ(keys, (std::vector<std::string>{"001_Process_Path", "001_affinity_mask", "quoted", "single", "half",
                                            "empty", "twice"}));
  EXPECT_FALSE(file.ReadKeys("missing", keys));
  EXPECT_TRUE(keys.empty());
}

TEST_F(IniFileTest, ByteOrderMarkIsNotPartOfTheFirstLine) {
  Put("\xEF\xBB\xBF[MAV_RIN]\r\nk=v\r\n");
  IniFile file(path());
  EXPECT_EQ(Get(file, "MAV_RIN", "k"), "v");
  ASSERT_TRUE(file.Write("MAV_RIN", "k", "w"));
  EXPECT_EQ(Content(), "\xEF\xBB\xBF[MAV_RIN]\r\nk=w\r\n");
}

// UTF-16 as an editor on Windows writes it: the text as UTF-8 to the program, the file in the
// encoding it came in.
std::string Utf16(const std::u16string& text, bool bigEndian) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t unit : text) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    bytes += bigEndian ? high : low;
    bytes += bigEndian ? low : high;
  }
  return bytes;
}

TEST_F(IniFileTest, Utf16FilesAreReadAndWrittenBackInTheirEncoding) {
  for (bool bigEndian : {false, true}) {
    SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
    Put(Utf16(u"; \u30E1\u30E2 \U0001F600\r\n[MAV_RIN]\r\n001_process_path=C:\\\u30C4\u30FC\u30EB\\App.exe\r\n",
              bigEndian));
    IniFile file(path());
    EXPECT_EQ(Get(file, "MAV_RIN", "001_process_path"), "C:\\\xE3\x83\x84\xE3\x83\xBC\xE3\x83\xAB\\App.exe");
    ASSERT_TRUE(file.Write("MAV_RIN", "001_affinity_mask", "3"));
    ASSERT_TRUE(file.Write("MAV_RIN", "002_process_path", "/\xE9\x9F\xB3"));
    EXPECT_FALSE(file.Write("MAV_RIN", "003_process_path", "/\xFF\xFE no UTF-8")) << "UTF-16 cannot carry it";
    EXPECT_EQ(Content(),
              Utf16(u"; \u30E1\u30E2 \U0001F600\r\n[MAV_RIN]\r\n001_process_path=C:\\\u30C4\u30FC\u30EB\\App.exe\r\n"
                    u"001_affinity_mask=3\r\n002_process_path=/\u97F3\r\n",
                    bigEndian));
  }

  // Text that claims to be UTF-16 and is not: read as nothing, never written over.
  // An odd length, a high surrogate without its low one, a low one alone.
  for (const std::string& broken :
       {std::string("\xFF\xFE[\0M\0A", 7), std::string("\xFF\xFE\x00\xD8[\0", 6), std::string("\xFF\xFE\x00\xDC", 4)}) {
    Put(broken);
    IniFile file(path());
    EXPECT_FALSE(file.BeginBatch());
    EXPECT_EQ(file.LastError(), "not valid UTF-16");
    EXPECT_EQ(file.Fingerprint(), "");
    file.DiscardBatch();
    EXPECT_FALSE(file.Write("MAV_RIN", "k", "v"));
    EXPECT_EQ(Content(), broken);
  }
}

TEST_F(IniFileTest, FingerprintFollowsTheBytesOfTheLastLookOrCommit) {
  IniFile file(path());
  ASSERT_TRUE(file.BeginBatch());
  EXPECT_EQ(file.Fingerprint(), ProfileFile::kMissingFile);
  ASSERT_TRUE(file.Write("MAV_RIN", "k", "v"));
  ASSERT_TRUE(file.CommitBatch());
  EXPECT_EQ(file.Fingerprint(), FingerprintOf(Content())) << "what the commit left";
  EXPECT_EQ(file.Fingerprint(), FingerprintOf("[MAV_RIN]\nk=v\n"));

  Put("[MAV_RIN]\nk=w\n");  // someone else's edit, seen at the next look only
  EXPECT_EQ(file.Fingerprint(), FingerprintOf("[MAV_RIN]\nk=v\n"));
  ASSERT_TRUE(file.BeginBatch());
  EXPECT_EQ(file.Fingerprint(), FingerprintOf("[MAV_RIN]\nk=w\n"));
  file.DiscardBatch();
  EXPECT_NE(FingerprintOf("[MAV_RIN]\nk=v\n"), FingerprintOf("[MAV_RIN]\nk=w\n"));

  std::filesystem::remove(path());
  ASSERT_TRUE(std::filesystem::create_directory(path()));
  EXPECT_FALSE(file.BeginBatch());
  EXPECT_EQ(file.Fingerprint(), "");
  EXPECT_EQ(file.LastError(), "not a regular file");
  file.DiscardBatch();
}

TEST_F(IniFileTest, MissingOrUnusableFileReadsDefaults) {
  IniFile missing(path());
  EXPECT_EQ(Get(missing, "MAV_RIN", "001_process_path", "dflt"), "dflt");
  std::vector<std::string> keys;
  EXPECT_FALSE(missing.ReadKeys("MAV_RIN", keys));

  ASSERT_TRUE(std::filesystem::create_directory(path()));
  IniFile directory(path());
  EXPECT_EQ(Get(directory, "MAV_RIN", "001_process_path", "dflt"), "dflt");

  std::string fifo = dir_.File("fifo.ini");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  IniFile pipe(fifo);
  EXPECT_EQ(Get(pipe, "MAV_RIN", "001_process_path", "dflt"), "dflt") << "a FIFO must not block the read";
  EXPECT_FALSE(pipe.Write("MAV_RIN", "k", "v"));
}

TEST_F(IniFileTest, ReadCutsToTheBuffer) {
  std::string long1023(1023, 'a');
  std::string long1024 = std::string(1023, 'b') + "c";
  Put("[s]\nk1023=" + long1023 + "\nk1024=" + long1024 + "\nshort=abc\n");
  IniFile file(path());
  EXPECT_EQ(Get(file, "s", "k1023"), long1023);
  EXPECT_EQ(Get(file, "s", "k1024"), std::string(1023, 'b'));
  EXPECT_EQ(Get(file, "s", "short", "", 3), "ab");
  EXPECT_EQ(Get(file, "s", "short", "", 1), "");
  EXPECT_EQ(Get(file, "s", "missing", "default", 4), "def");
  char untouched = 'x';
  EXPECT_EQ(file.Read("s", "short", "", &untouched, 0), 0u);
  EXPECT_EQ(untouched, 'x');
  EXPECT_EQ(file.Read("s", "short", "", nullptr, 10), 0u);
}

TEST_F(IniFileTest, SurvivesJunk) {
  std::mt19937 random(12345);
  std::string junk(1 << 20, '\0');
  for (char& c : junk) c = static_cast<char>(random());
  // A real section somewhere in the junk, then a value with a NUL byte, a key of megabytes and a
  // value of megabytes.
  std::string text = junk + "\n[MAV_RIN]\nkey=before" + std::string(1, '\0') + "after\n" + std::string(3 << 20, 'x') +
                     "=huge\n" + "long=" + std::string(2 << 20, 'v') + "\nlast=ok";
  Put(text);
  IniFile file(path());
  EXPECT_EQ(Get(file, "MAV_RIN", "key"), "before") << "a NUL ends the value";
  EXPECT_EQ(Get(file, "MAV_RIN", "long"), std::string(1023, 'v'));
  EXPECT_EQ(Get(file, "MAV_RIN", "last"), "ok");

  // Writing keeps every byte it did not change, junk included.
  ASSERT_TRUE(file.Write("MAV_RIN", "last", "changed"));
  std::string expected = text;
  expected.replace(expected.size() - 2, 2, "changed");
  EXPECT_EQ(Content(), expected);
}

TEST_F(IniFileTest, FileAboveTheSizeLimitIsReadInPartAndNeverReplaced) {
  std::string text = "[MAV_RIN]\nfirst=1\n" + std::string(5000, ';') + "\nlate=2\n";
  Put(text);
  IniFile file(path(), 1000);
  EXPECT_EQ(Get(file, "MAV_RIN", "first"), "1");
  EXPECT_EQ(Get(file, "MAV_RIN", "late", "dflt"), "dflt");
  EXPECT_FALSE(file.BeginBatch());
  file.DiscardBatch();
  EXPECT_FALSE(file.Write("MAV_RIN", "first", "3"));
  EXPECT_EQ(Content(), text);
}

// ---- Writing ---------------------------------------------------------------------------------

TEST_F(IniFileTest, WritesItsOwnLayout) {
  IniFile file(path());
  EXPECT_TRUE(file.Write("MAV_RIN", "001_process_path", "/usr/bin/a"));
  EXPECT_TRUE(file.Write("MAV_RIN", "001_affinity_mask", "-1"));
  EXPECT_TRUE(file.Write("MAV_RIN", "002_process_path", ""));
  EXPECT_EQ(Content(), "[MAV_RIN]\n001_process_path=/usr/bin/a\n001_affinity_mask=-1\n002_process_path=\n");

  EXPECT_TRUE(file.Write("mav_rin", "001_PROCESS_PATH", "/usr/bin/b"));
  EXPECT_TRUE(file.Write("MAV_RIN", "002_process_path", ""));
  EXPECT_EQ(Content(), "[MAV_RIN]\n001_process_path=/usr/bin/b\n001_affinity_mask=-1\n002_process_path=\n")
      << "an existing key keeps its line and its spelling";
  EXPECT_EQ(Get(file, "MAV_RIN", "002_process_path", "dflt"), "") << "an empty value keeps the key";
}

TEST_F(IniFileTest, WritingKeepsEverythingElse) {
  const std::string before =
      "; comment\r\n"
      "[first]\r\n"
      "a = 1\r\n"
      "junk line\r\n"
      "\r\n"
      "[MAV_RIN]\r\n"
      "  001_process_path = \"c:\\old.exe\"  \r\n"
      "001_process_path=duplicate\r\n"
      "# note\r\n"
      "\r\n"
      "[last]\r\n"
      "b=2";
  Put(before);
  IniFile file(path());
  ASSERT_TRUE(file.BeginBatch());
  EXPECT_TRUE(file.Write("MAV_RIN", "001_process_path", "c:\\new.exe"));
  EXPECT_TRUE(file.Write("MAV_RIN", "001_affinity_mask", "3"));
  EXPECT_TRUE(file.Write("last", "c", "4"));
  EXPECT_TRUE(file.Write("First", "z", "5"));
  EXPECT_TRUE(file.Write("new", "k", "6"));
  EXPECT_EQ(Content(), before) << "nothing reaches the file before the commit";
  EXPECT_EQ(Get(file, "MAV_RIN", "001_process_path"), "c:\\new.exe") << "reads see the batch";
  EXPECT_TRUE(file.CommitBatch());
  EXPECT_EQ(Content(),
            "; comment\r\n"
            "[first]\r\n"
            "a = 1\r\n"
            "z=5\r\n"
            "junk line\r\n"
            "\r\n"
            "[MAV_RIN]\r\n"
            "001_process_path=c:\\new.exe\r\n"
            "001_process_path=duplicate\r\n"
            "001_affinity_mask=3\r\n"
            "# note\r\n"
            "\r\n"
            "[last]\r\n"
            "b=2\r\n"
            "c=4\r\n"
            "[new]\r\n"
            "k=6\r\n");
  EXPECT_EQ(Get(file, "MAV_RIN", "001_process_path"), "c:\\new.exe");
}

TEST_F(IniFileTest, HostileValuesComeBackExactly) {
  const std::vector<std::string> values = {"[MAV_RIN]",
                                           "a=b=c",
                                           "\"quoted\"",
                                           "\"",
                                           "\"\"",
                                           "'single'",
                                           "'",
                                           "\"mixed'",
                                           "  lead",
                                           "trail\t",
                                           " ",
                                           "%s%d%n%%",
                                           ";not a comment",
                                           "#not a comment",
                                           "\xff\xfe invalid \xc3\x28 utf-8 \x80",
                                           "\x83\x5c\x83\x41 cp932 with a backslash byte",
                                           "tab\tinside",
                                           "\"\"x\"\"",
                                           "value with \"inner\" quotes"};
  IniFile file(path());
  ASSERT_TRUE(file.BeginBatch());
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_TRUE(file.Write("MAV_RIN", ("k" + std::to_string(i)).c_str(), values[i].c_str())) << values[i];
  }
  ASSERT_TRUE(file.CommitBatch());
  IniFile again(path());
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(Get(again, "MAV_RIN", ("k" + std::to_string(i)).c_str()), values[i]);
  }
  std::vector<std::string> keys;
  ASSERT_TRUE(again.ReadKeys("MAV_RIN", keys));
  EXPECT_EQ(keys.size(), values.size()) << "a value must not look like a section or a new line";
}

TEST_F(IniFileTest, RefusesWhatTheFileCannotHold) {
  Put("[MAV_RIN]\nk=old\n");
  IniFile file(path());
  for (const char* value : {"line\nbreak", "carriage\rreturn", "\r\n", "end\n"}) {
    EXPECT_FALSE(file.Write("MAV_RIN", "k", value));
  }
  for (const char* key : {"", "a\nb", "a=b", " lead", "trail ", "[x]", ";c", "#c", "k\r"}) {
    EXPECT_FALSE(file.Write("MAV_RIN", key, "v")) << key;
  }
  for (const char* section : {"", "a\nb", " lead", "trail\t"}) {
    EXPECT_FALSE(file.Write(section, "k", "v")) << section;
  }
  EXPECT_FALSE(file.Write(nullptr, "k", "v"));
  EXPECT_FALSE(file.Write("MAV_RIN", nullptr, "v"));
  EXPECT_FALSE(file.Write("MAV_RIN", "k", nullptr));
  EXPECT_EQ(Content(), "[MAV_RIN]\nk=old\n");

  // A refused write inside a batch leaves the batch's other writes alone.
  ASSERT_TRUE(file.BeginBatch());
  EXPECT_TRUE(file.Write("MAV_RIN", "a", "1"));
  EXPECT_FALSE(file.Write("MAV_RIN", "k", "x\ny"));
  EXPECT_TRUE(file.CommitBatch());
  EXPECT_EQ(Content(), "[MAV_RIN]\nk=old\na=1\n");
}

TEST_F(IniFileTest, DiscardedBatchLeavesTheFile) {
  Put("[MAV_RIN]\nk=old\n");
  IniFile file(path());
  ASSERT_TRUE(file.BeginBatch());
  EXPECT_TRUE(file.Write("MAV_RIN", "k", "new"));
  file.DiscardBatch();
  EXPECT_EQ(Get(file, "MAV_RIN", "k"), "old");
  EXPECT_EQ(Content(), "[MAV_RIN]\nk=old\n");
  EXPECT_TRUE(file.CommitBatch()) << "nothing to commit";
}

TEST_F(IniFileTest, KeepsModeAndFollowsSymbolicLinks) {
  Put("[MAV_RIN]\nk=old\n");
  ASSERT_EQ(chmod(path().c_str(), 0640), 0);
  IniFile file(path());
  ASSERT_TRUE(file.Write("MAV_RIN", "k", "new"));
  struct stat st {};
  ASSERT_EQ(stat(path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  std::string link = dir_.File("link.ini");
  ASSERT_EQ(symlink("mavrin.ini", link.c_str()), 0);
  IniFile linked(link);
  ASSERT_TRUE(linked.Write("MAV_RIN", "k", "through the link"));
  struct stat lst {};
  ASSERT_EQ(lstat(link.c_str(), &lst), 0);
  EXPECT_TRUE(S_ISLNK(lst.st_mode)) << "the link stays a link";
  EXPECT_EQ(Get(file, "MAV_RIN", "k"), "through the link");
  EXPECT_EQ(dir_.Listing(), "link.ini\nmavrin.ini\n");
}

// ---- The atomic commit -----------------------------------------------------------------------

class CommitFailureTest : public IniFileTest {
 protected:
  static constexpr const char* kOld = "[MAV_RIN]\r\n001_process_path=/old\r\n";

  // Makes one batched save with the given faults and checks that it failed without a trace.
  void ExpectFailedCommitKeepsOldFile(IniFileFaults faults) {
    Put(kOld);
    IniFile file(path());
    file.SetFaultsForTesting(std::move(faults));
    ASSERT_TRUE(file.BeginBatch());
    for (int i = 0; i < 200; ++i) {
      ASSERT_TRUE(file.Write("MAV_RIN", ("key" + std::to_string(i)).c_str(), std::string(100, 'v').c_str()));
    }
    EXPECT_FALSE(file.CommitBatch());
    EXPECT_EQ(Content(), kOld);
    EXPECT_EQ(dir_.Listing(), "mavrin.ini\n") << "no temporary file left behind";
    EXPECT_EQ(Get(file, "MAV_RIN", "key0", "dflt"), "dflt") << "the failed batch is gone";
  }
};

TEST_F(CommitFailureTest, EachStepFailing) {
  for (auto step : {IniFileFaults::Step::kCreateTemp, IniFileFaults::Step::kWrite, IniFileFaults::Step::kSync,
                    IniFileFaults::Step::kRename}) {
    SCOPED_TRACE(static_cast<int>(step));
    IniFileFaults faults;
    faults.failAt = [step](IniFileFaults::Step s) { return s == step; };
    ExpectFailedCommitKeepsOldFile(faults);
  }
}

TEST_F(CommitFailureTest, DiskFullMidway) {
  for (std::int64_t limit : {0, 1, 4096, 20000}) {
    SCOPED_TRACE(limit);
    IniFileFaults faults;
    faults.diskFullAfterBytes = limit;
    ExpectFailedCommitKeepsOldFile(faults);
  }
}

TEST_F(CommitFailureTest, NewFileThatCannotBeWrittenIsNotCreated) {
  IniFile file(path());
  IniFileFaults faults;
  faults.failAt = [](IniFileFaults::Step s) { return s == IniFileFaults::Step::kRename; };
  file.SetFaultsForTesting(faults);
  EXPECT_FALSE(file.Write("MAV_RIN", "k", "v"));
  EXPECT_EQ(dir_.Listing(), "");
}

TEST_F(CommitFailureTest, FileReplacedByADirectory) {
  Put(kOld);
  IniFile file(path());
  ASSERT_TRUE(file.BeginBatch());
  ASSERT_TRUE(file.Write("MAV_RIN", "k", "v"));
  ASSERT_TRUE(std::filesystem::remove(path()));
  ASSERT_TRUE(std::filesystem::create_directory(path()));
  ASSERT_TRUE(WriteFileBytes(path() + "/inside", "kept"));
  EXPECT_FALSE(file.CommitBatch());
  EXPECT_TRUE(std::filesystem::is_directory(path()));
  EXPECT_EQ(ReadFileBytes(path() + "/inside"), "kept");
  EXPECT_EQ(dir_.Listing(), "mavrin.ini\n");

  // A directory there from the start: not read, not replaced.
  IniFile again(path());
  EXPECT_FALSE(again.BeginBatch());
  again.DiscardBatch();
  EXPECT_FALSE(again.Write("MAV_RIN", "k", "v"));
  EXPECT_TRUE(std::filesystem::is_directory(path()));
}

// The file must be wholly old or wholly new whenever the writing process dies. A child process
// commits two alternating contents in a loop and is killed at random moments.
TEST_F(CommitFailureTest, KilledWhileCommittingLeavesAWholeFile) {
  const std::string valueA(300000, 'a');
  const std::string valueB(200000, 'b');
  {
    IniFile file(path());
    ASSERT_TRUE(file.Write("MAV_RIN", "k", valueA.c_str()));
  }
  const std::string contentA = Content();
  const std::string contentB = "[MAV_RIN]\nk=" + valueB + "\n";

  std::mt19937 random(7);
  bool sawNew = false;
  for (int round = 0; round < 40 && !(sawNew && round >= 12); ++round) {
    // The child tells when its first commit is done, so that on a loaded machine the kill still
    // lands among commits rather than before the child got to run at all.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(ready[0]);
      IniFile file(path());
      for (unsigned i = 0;; ++i) {
        if (!file.Write("MAV_RIN", "k", (i % 2 ? valueA : valueB).c_str())) _exit(3);
        if (i == 0) close(ready[1]);
      }
    }
    close(ready[1]);
    char none = 0;
    const ssize_t got = read(ready[0], &none, 1);  // 0 once the child closed its end
    close(ready[0]);
    if (got != 0) {
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
      FAIL() << "the committing child did not start";
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child stopped on its own: a commit failed";
    std::string content = Content();
    ASSERT_TRUE(content == contentA || content == contentB) << "round " << round << ": " << content.size() << " bytes";
    sawNew = sawNew || content == contentB;
  }
  EXPECT_TRUE(sawNew) << "the child never finished a commit";
  // A killed commit may leave its temporary file; the settings file itself is never one.
  IniFile file(path());
  EXPECT_EQ(Get(file, "MAV_RIN", "k").size(), 1023u);
}

}  // namespace
