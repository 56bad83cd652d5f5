// The watch list on disk survives whatever happens while it is saved: the saving process killed at
// any moment, a directory or file that refuses changes, a full disk, the file replaced by a
// directory. Afterwards the file always loads completely as the old or the new list, and a failed
// save says so on every slot.
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <thread>

#include "platform/linux/ini_file.h"
#include "settings/settings_file.h"
#include "tests/support/captured_stream.h"
#include "tests/support/temp_dir.h"

namespace {

using platform::IniFile;
using platform::IniFileFaults;

// The old list: 30 short entries. The new one: 70 longer ones, masks with bit 31 among them, so
// the two files differ in size and in every slot.
WatchList OldList() {
  WatchList list;
  for (int i = 0; i < 30; ++i) list.Append({"/opt/old/program-" + std::to_string(i), static_cast<AffinityMask>(i + 1)});
  return list;
}

WatchList NewList() {
  WatchList list;
  for (int i = 0; i < 70; ++i) {
    list.Append({"/srv/new/a rather longer directory name/tool-" + std::to_string(i) + ".bin",
                 0x80000000u | static_cast<AffinityMask>(i)});
  }
  return list;
}

// What a save writes to its diagnostic stream.
using Diag = CapturedStream;

// The diagnostic lines of a save of list in which no write reached the file: each entry's.
std::string AllFailed(const WatchList& list) {
  std::string text;
  for (std::size_t i = 0; i < list.Count(); ++i) {
    char line[1200];
    std::snprintf(line, sizeof line, "%03d : %s, %d\n", static_cast<int>(i + 1), list[i].exePath.c_str(),
                  static_cast<int>(list[i].affinityMask.Low32()));
    text += line;
    text += " failed. (process)\n failed. (mask)\n";
  }
  return text;
}

// Sets or clears the immutable attribute, which stops even a privileged process from changing the
// file or, on a directory, from adding, removing or renaming its names.
bool SetImmutable(const std::string& path, bool on) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  close(fd);
  return ok;
}

class Immutable {
 public:
  explicit Immutable(std::string path) : path_(std::move(path)), on_(SetImmutable(path_, true)) {}
  ~Immutable() {
    if (on_) SetImmutable(path_, false);
  }
  Immutable(const Immutable&) = delete;
  Immutable& operator=(const Immutable&) = delete;
  bool On() const { return on_; }

 private:
  std::string path_;
  bool on_;
};

class SaveFaultTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.Ok()); }
  std::string path() const { return dir_.File("mavrin.ini"); }

  WatchList Load() {
    IniFile file(path());
    WatchList list;
    SerializeWatchList(list, file, false, nullptr);
    return list;
  }
  std::string Save(const WatchList& list, const IniFileFaults& faults = {}) {
    IniFile file(path());
    file.SetFaultsForTesting(faults);
    WatchList copy = list;
    Diag diag;
    SerializeWatchList(copy, file, true, diag.get(), errors.get());
    return diag.Text();
  }

  // Saves the new list over the old one with the fault in place, and checks that the save failed
  // on every entry, said so once, and the old list is still there, byte for byte.
  void ExpectFailedSaveKeepsOldList(const std::function<std::string()>& saveWithFault) {
    Save(OldList());
    const std::string old = ReadFileBytes(path());
    const std::size_t saidBefore = errors.Text().size();
    EXPECT_EQ(saveWithFault(), AllFailed(NewList()));
    const std::string said = errors.Text().substr(saidBefore);
    EXPECT_EQ(said.rfind("mavrin: the watch list could not be saved to " + path() + " (", 0), 0u) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_EQ(ReadFileBytes(path()), old);
    EXPECT_EQ(Load(), OldList());
    EXPECT_EQ(dir_.Listing(), "mavrin.ini\n") << "no temporary file left behind";
  }

  TempDir dir_;
  Diag errors;
};

TEST_F(SaveFaultTest, EachStepOfTheCommitFailing) {
  for (auto step : {IniFileFaults::Step::kCreateTemp, IniFileFaults::Step::kWrite, IniFileFaults::Step::kSync,
                    IniFileFaults::Step::kRename}) {
    SCOPED_TRACE(static_cast<int>(step));
    IniFileFaults faults;
    faults.failAt = [step](IniFileFaults::Step s) { return s == step; };
    ExpectFailedSaveKeepsOldList([&] { return Save(NewList(), faults); });
  }
}

// The disk fills up after any number of bytes; only room for the whole file lets the save through.
TEST_F(SaveFaultTest, DiskFullAtEveryPoint) {
  Save(OldList());
  const std::string old = ReadFileBytes(path());
  Save(NewList());
  const std::int64_t size = static_cast<std::int64_t>(ReadFileBytes(path()).size());
  ASSERT_TRUE(WriteFileBytes(path(), old));

  std::mt19937 random(11);
  std::vector<std::int64_t> limits{0, 1, size / 2, size - 1};
  for (int i = 0; i < 40; ++i) limits.push_back(static_cast<std::int64_t>(random() % static_cast<unsigned>(size)));
  for (std::int64_t limit : limits) {
    SCOPED_TRACE(limit);
    IniFileFaults faults;
    faults.diskFullAfterBytes = limit;
    ExpectFailedSaveKeepsOldList([&] { return Save(NewList(), faults); });
  }
  IniFileFaults exact;
  exact.diskFullAfterBytes = size;
  EXPECT_EQ(Save(NewList(), exact).find("failed"), std::string::npos);
  EXPECT_EQ(Load(), NewList());
}

// A directory that refuses new names. Privilege ignores the permission bits, so the directory is
// made immutable, which binds every process.
TEST_F(SaveFaultTest, ReadOnlyDirectory) {
  {
    Immutable probe(dir_.Path());
    if (!probe.On()) GTEST_SKIP() << "the file system cannot make a directory immutable";
  }
  ExpectFailedSaveKeepsOldList([&] {
    Immutable frozen(dir_.Path());
    EXPECT_TRUE(frozen.On());
    return Save(NewList());
  });
}

TEST_F(SaveFaultTest, ReadOnlyFileInAWritableDirectory) {
  {
    ASSERT_TRUE(WriteFileBytes(path(), ""));
    Immutable probe(path());
    if (!probe.On()) GTEST_SKIP() << "the file system cannot make a file immutable";
  }
  ExpectFailedSaveKeepsOldList([&] {
    Immutable frozen(path());
    EXPECT_TRUE(frozen.On());
    return Save(NewList());
  });
}

// A directory in the file's place, before the program starts or while it runs: nothing of it is
// read as a list, and it is neither replaced nor emptied.
TEST_F(SaveFaultTest, FileReplacedByADirectory) {
  Save(OldList());
  ASSERT_TRUE(std::filesystem::remove(path()));
  ASSERT_TRUE(std::filesystem::create_directory(path()));
  ASSERT_TRUE(WriteFileBytes(path() + "/inside", "kept"));
  EXPECT_EQ(Load(), WatchList());
  // Nothing can be written: each entry's path is refused at once, so its mask is not tried.
  const std::string diag = Save(NewList());
  std::size_t failures = 0;
  for (std::size_t at = diag.find(" failed. (process)\n"); at != std::string::npos;
       at = diag.find(" failed. (process)\n", at + 1)) {
    ++failures;
  }
  EXPECT_EQ(failures, NewList().Count()) << "each entry once";
  EXPECT_NE(errors.Text().find("(it cannot be read: not a regular file)"), std::string::npos) << errors.Text();
  EXPECT_NE(diag.find("070 : " + NewList()[69].exePath + ", -2147483579\n failed. (process)\n"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_directory(path()));
  EXPECT_EQ(ReadFileBytes(path() + "/inside"), "kept");
}

// The saving process is killed at random moments, hundreds of times: every time, the file loads
// as the whole old list or the whole new one, byte for byte one of the two files.
TEST_F(SaveFaultTest, KilledAtRandomMomentsWhileSaving) {
  const WatchList lists[2] = {OldList(), NewList()};
  Save(lists[1]);
  Save(lists[0]);
  const std::string contents[2] = {ReadFileBytes(path()), [&] {
                                     Save(lists[1]);
                                     return ReadFileBytes(path());
                                   }()};
  ASSERT_NE(contents[0], contents[1]);

  // Kills are spread over about three saves' time, however fast this machine's disk is.
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 6; ++i) Save(lists[i % 2]);
  const auto saveMicros =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count() / 6 + 1;

  constexpr int kKills = 240;
  std::mt19937 random(20241208);
  int seen[2] = {0, 0};
  int changes = 0;
  int leftovers = 0;
  std::string last = contents[1];
  for (int round = 0; round < kKills; ++round) {
    // The child tells when its first save is done, so that on a loaded machine the kill still lands
    // among saves rather than before the child got to run at all.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(ready[0]);
      IniFile file(path());
      for (unsigned i = 0;; ++i) {
        WatchList list = lists[i % 2];
        SerializeWatchList(list, file, true, nullptr);
        if (i == 0) {
          (void)!write(ready[1], "r", 1);
          close(ready[1]);
        }
      }
    }
    close(ready[1]);
    char signal = 0;
    const ssize_t got = read(ready[0], &signal, 1);
    close(ready[0]);
    if (got != 1) {
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
      FAIL() << "the saving child did not start";
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % static_cast<unsigned>(3 * saveMicros + 1000)));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the saving child ended on its own";

    const std::string content = ReadFileBytes(path());
    const int which = content == contents[0] ? 0 : content == contents[1] ? 1 : -1;
    ASSERT_NE(which, -1) << "round " << round << ": a file of " << content.size() << " bytes is neither list";
    EXPECT_EQ(Load(), lists[which]) << "round " << round;
    ++seen[which];
    changes += content != last;
    last = content;
    // A kill in mid-commit may leave its temporary file beside the settings file; the next
    // commit removes it.
    leftovers = std::max(leftovers, static_cast<int>(std::distance(std::filesystem::directory_iterator(dir_.Path()),
                                                                   std::filesystem::directory_iterator())) -
                                        1);
  }
  Save(lists[0]);
  EXPECT_EQ(dir_.Listing(), "mavrin.ini\n") << "the temporary files of killed saves are gone";
  EXPECT_GT(seen[0], 0);
  EXPECT_GT(seen[1], 0);
  EXPECT_GT(changes, kKills / 10) << "the kills must land while saves are going on";
  RecordProperty("kills", kKills);
  RecordProperty("most_temporary_files_at_once", leftovers);
  std::printf("%d kills survived; %d new files between kills; at most %d temporary files at once\n", kKills, changes,
              leftovers);
}

}  // namespace
