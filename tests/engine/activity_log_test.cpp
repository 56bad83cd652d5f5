#include "engine/activity_log.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/console_message_boxes.h"
#include "platform/fake/fake_system.h"
#include "tests/engine/test_support.h"

namespace {

using testing::ElementsAre;

TEST(EscapeForLog, TurnsControlBytesIntoHexAndKeepsEverythingElse) {
  EXPECT_EQ(EscapeForLog("c:\\program files\\app.exe"), "c:\\program files\\app.exe");
  EXPECT_EQ(EscapeForLog(std::string("a\nb\rc\td\x01"
                                     "e\x7F"
                                     "f\x1F",
                                     12)),
            "a\\x0Ab\\x0Dc\\x09d\\x01e\\x7Ff\\x1F");
  EXPECT_EQ(EscapeForLog(std::string("z\0y", 3)), "z\\x00y");
  // Multi-byte text (UTF-8 here, code page 932 on Windows) passes untouched.
  EXPECT_EQ(EscapeForLog("/home/\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88/\x83\x5C.exe"),
            "/home/\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88/\x83\x5C.exe");
}

TEST(ActivityLog, WritesOneStampedLinePerRecordAndEchoesItWithoutTheStamp) {
  platform::FakeSystem clock;
  clock.now.tm_year = 99;
  clock.now.tm_mon = 11;
  clock.now.tm_mday = 31;
  clock.now.tm_hour = 23;
  clock.now.tm_min = 59;
  clock.now.tm_sec = 60;
  enginetest::ScratchDirectory scratch;
  enginetest::CapturedStream console;
  ActivityLog log(clock, (scratch.path() / "x.log").string(), console.get());
  EXPECT_TRUE(log.RecordChange(0x5, "/a b/c%d"));
  EXPECT_TRUE(log.RecordFailure(7, 0x5, "/a b/c%d"));
  EXPECT_FALSE(log.RecordFailure(7, 0x5, "/a b/c%d"));  // already on record
  EXPECT_TRUE(log.RecordFailure(7, 0x6, "/a b/c%d"));   // another mask is another failure
  EXPECT_EQ(enginetest::ReadFile(scratch.path() / "x.log"),
            "(1999/12/31 23:59:60) set affinity mask 0x00000005 to process \"/a b/c%d\"\n"
            "(1999/12/31 23:59:60) failed to set affinity mask 0x00000005 to process \"/a b/c%d\"\n"
            "(1999/12/31 23:59:60) failed to set affinity mask 0x00000006 to process \"/a b/c%d\"\n");
  EXPECT_EQ(console.Text(),
            "set affinity mask 0x00000005 to process \"/a b/c%d\"\n"
            "failed to set affinity mask 0x00000005 to process \"/a b/c%d\"\n"
            "failed to set affinity mask 0x00000006 to process \"/a b/c%d\"\n");
}

TEST(ActivityLog, OnlyARegularFileIsWrittenAndAnUnwritableLogIsReportedOncePerOutage) {
  platform::FakeSystem clock;
  enginetest::ScratchDirectory scratch;
  const std::string path = (scratch.path() / "mavrin.log").string();
  enginetest::CapturedStream console;
  enginetest::CapturedStream errors;
  ActivityLog log(clock, path, console.get(), errors.get());

  // A FIFO in the log's place, with a reader, so that a plain open would go through at once.
  ASSERT_EQ(0, mkfifo(path.c_str(), 0600));
  const int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_FALSE(log.RecordChange(0x1, "/opt/a"));
  EXPECT_FALSE(log.RecordFailure(7, 0x1, "/opt/a"));
  char byte;
  EXPECT_LE(read(reader, &byte, 1), 0) << "nothing went into the FIFO";
  close(reader);
  EXPECT_EQ(console.Text(), "");
  EXPECT_EQ(errors.Text(), "mavrin: cannot write the log " + path + ": not a regular file\n");

  // Once it can be written again, records go there; a later outage is news again.
  std::filesystem::remove(path);
  EXPECT_TRUE(log.RecordChange(0x1, "/opt/a"));
  EXPECT_EQ(log.RememberedFailureCount(), 0u);
  std::filesystem::remove(path);
  std::filesystem::create_directory(path);
  EXPECT_FALSE(log.RecordChange(0x2, "/opt/a"));
  EXPECT_FALSE(log.RecordChange(0x3, "/opt/a"));
  EXPECT_EQ(enginetest::Lines(errors.Text()).size(), 2u);
  EXPECT_EQ(console.Text(), "set affinity mask 0x00000001 to process \"/opt/a\"\n");
}

TEST(ActivityLog, DefaultsToTheFileInTheCurrentDirectory) {
  platform::FakeSystem clock;
  ActivityLog log(clock);
  EXPECT_EQ(log.Path(), "./mavrin.log");
}

TEST(ConsoleMessageBoxes, PrintsTheTextAndGivesTheCautiousAnswer) {
  enginetest::CapturedStream stream;
  ConsoleMessageBoxes boxes(stream.get());
  EXPECT_EQ(boxes.ShowMessageBox(0, "first", nullptr, MB_OK), IDOK);
  EXPECT_EQ(boxes.ShowMessageBox(0, "second", "Title", MB_YESNO), IDNO);
  EXPECT_EQ(boxes.ShowMessageBox(0, "third", nullptr, MB_YESNO | 0x30u), IDNO);  // with an icon
  EXPECT_EQ(stream.Text(), "first\n[Title] second\nthird\n");
}

}  // namespace
