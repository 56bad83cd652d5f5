#include "platform/linux/resident_pages.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

using platform::PageRange;
using testing::ElementsAre;
using testing::Field;

// One mapping of an smaps text: its header line, then the counters that decide.
std::string Block(const char* header, long rss, long anonymous, long swap, long locked, const char* flags) {
  char text[1024];
  std::snprintf(text, sizeof text,
                "%s\nSize:                100 kB\nRss:               %4ld kB\nPss:                 40 kB\n"
                "Anonymous:         %4ld kB\nSwap:              %4ld kB\nLocked:            %4ld kB\n"
                "VmFlags: %s\n",
                header, rss, anonymous, swap, locked, flags);
  return text;
}

TEST(ResidentPagesTest, OnlyPagesThatTheirFileHoldsUnchangedAreChosen) {
  const std::string smaps =
      Block("7f0000000000-7f0000010000 r-xp 00001000 fe:01 131 /usr/lib/libA.so.6", 64, 0, 0, 0, "rd ex mr mw me sd") +
      // Relocated data made read-only: its pages are private copies.
      Block("7f0000010000-7f0000012000 r--p 00010000 fe:01 131 /usr/lib/libA.so.6", 8, 8, 0, 0, "rd mr mw me ac sd") +
      Block("7f0000012000-7f0000013000 rw-p 00012000 fe:01 131 /usr/lib/libA.so.6", 4, 4, 0, 0,
            "rd wr mr mw me ac sd") +
      // Copies swapped out are copies all the same.
      Block("7f0000020000-7f0000030000 r--p 00000000 fe:01 140 /usr/lib/libB.so.1", 12, 0, 4, 0, "rd mr mw me sd") +
      Block("7f0000030000-7f0000040000 r--p 00000000 fe:01 141 /usr/lib/libC.so.1", 16, 0, 0, 16, "rd mr mw me lo sd") +
      Block("7f0000040000-7f0000050000 r--p 00000000 fe:01 142 /usr/lib/libD.so.1", 0, 0, 0, 0, "rd mr mw me sd") +
      Block("7f0000050000-7f0000060000 r--s 00000000 fe:01 143 /usr/share/shared.cache", 64, 0, 0, 0,
            "rd sh mr mw me ms sd") +
      Block("7ffd00000000-7ffd00002000 r-xp 00000000 00:00 0                          [vdso]", 8, 0, 0, 0,
            "rd ex mr mw me de sd") +
      Block("7f0000060000-7f0000070000 r--p 00000000 00:05 9 /dev/some-device", 64, 0, 0, 0, "rd mr mw me io pf sd") +
      // A file removed since it was mapped still holds its pages.
      Block("7f0000070000-7f0000080000 r--p 00000000 fe:01 150 /tmp/old file (deleted)", 32, 0, 0, 0,
            "rd mr mw me sd") +
      // Cut off before its flags: not enough is known of it.
      "7f0000080000-7f0000090000 r--p 00000000 fe:01 151 /usr/lib/libE.so.1\nRss:                 64 kB\n";

  EXPECT_THAT(platform::RereadableRanges(smaps),
              ElementsAre(testing::AllOf(Field(&PageRange::start, 0x7f0000000000u), Field(&PageRange::length, 0x10000u)),
                          testing::AllOf(Field(&PageRange::start, 0x7f0000070000u), Field(&PageRange::length, 0x10000u))));
  EXPECT_THAT(platform::RereadableRanges(""), testing::IsEmpty());
  EXPECT_THAT(platform::RereadableRanges("garbage\nVmFlags: rd\n"), testing::IsEmpty());
}

// The resident kilobytes of this process's mapping at address.
long RssAt(const void* address) {
  std::ifstream smaps("/proc/self/smaps");
  const auto wanted = reinterpret_cast<std::uintptr_t>(address);
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    unsigned long start = 0;
    unsigned long end = 0;
    if (std::sscanf(line.c_str(), "%lx-%lx ", &start, &end) == 2) {
      inside = start <= wanted && wanted < end;
      continue;
    }
    if (inside && line.rfind("Rss:", 0) == 0) return std::stol(line.substr(4));
  }
  return -1;
}

TEST(ResidentPagesTest, DroppedPagesComeBackFromTheFileAndPrivateCopiesStay) {
  char path[] = "/tmp/mavrin-pages-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::size_t length = 16 * 4096;
  std::string content(length, '\0');
  for (std::size_t i = 0; i < length; ++i) content[i] = static_cast<char>('a' + i % 26);
  ASSERT_EQ(write(fd, content.data(), length), static_cast<ssize_t>(length));

  auto* readOnly = static_cast<char*>(mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0));
  auto* copied = static_cast<char*>(mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0));
  close(fd);
  unlink(path);
  ASSERT_NE(readOnly, MAP_FAILED);
  ASSERT_NE(copied, MAP_FAILED);
  // Read in, and changed in private and then made read-only as a loader does with relocations.
  volatile char sum = 0;
  for (std::size_t i = 0; i < length; i += 4096) sum = static_cast<char>(sum + readOnly[i]);
  copied[0] = '#';
  ASSERT_EQ(mprotect(copied, length, PROT_READ), 0);
  ASSERT_GT(RssAt(readOnly), 0);

  EXPECT_GT(platform::ReleaseRereadablePages(), 0u);
  EXPECT_EQ(RssAt(readOnly), 0) << "its pages are mapped no longer";
  EXPECT_EQ(std::memcmp(readOnly, content.data(), length), 0);
  EXPECT_EQ(copied[0], '#') << "a private copy is kept";
  EXPECT_EQ(std::memcmp(copied + 1, content.data() + 1, length - 1), 0);
  munmap(readOnly, length);
  munmap(copied, length);
}

}  // namespace
