// The processor set, its text forms and its conversions to the systems' own masks.
#include <gtest/gtest.h>
#include <sched.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/linux/cpu_set_buffer.h"
#include "platform/processor_set.h"
#include "platform/processor_set_text.h"
#include "platform/win32/group_mask.h"

namespace {

using platform::ProcessorSet;

TEST(ProcessorSet, MembersAcrossWordBoundariesAndTheCapacity) {
  ProcessorSet set{0, 63, 64, 1023, 1024, 5000};
  EXPECT_EQ(set.Count(), 4u);
  EXPECT_FALSE(set.Test(1024));
  EXPECT_EQ(set.CountBelow(64), 2u);
  EXPECT_EQ(set.CountBelow(65), 3u);
  EXPECT_EQ(set.CountBelow(0), 0u);
  EXPECT_EQ(set.CountBelow(99999), 4u);
  EXPECT_EQ(set.Lowest(), 0);
  EXPECT_EQ(set.Next(1), 63);
  EXPECT_EQ(set.Next(65), 1023);
  EXPECT_EQ(set.Next(1024), -1);
  EXPECT_EQ(set.Highest(), 1023);
  set.Clear(1023);
  EXPECT_EQ(set.Highest(), 64);
  EXPECT_EQ(ProcessorSet{}.Highest(), -1);
  EXPECT_EQ(ProcessorSet{}.Lowest(), -1);

  EXPECT_EQ(ProcessorSet::FirstN(65), ProcessorSet::Range(0, 64));
  EXPECT_EQ(ProcessorSet::FirstN(5000).Count(), 1024u);
  EXPECT_EQ(ProcessorSet::Range(60, 70).Count(), 11u);
  EXPECT_TRUE(ProcessorSet::Range(5, 3).Empty());
  EXPECT_EQ(ProcessorSet::Range(1000, 4000000000u).Count(), 24u);

  EXPECT_TRUE(ProcessorSet{31}.FitsIn32());
  EXPECT_FALSE(ProcessorSet{32}.FitsIn32());
  EXPECT_TRUE(ProcessorSet{63}.FitsIn64());
  EXPECT_FALSE(ProcessorSet{64}.FitsIn64());
  EXPECT_EQ((ProcessorSet{0, 33}).Low32(), 1u);
  EXPECT_EQ(ProcessorSet::FromLow32(0x80000001u), (ProcessorSet{0, 31}));

  const ProcessorSet a{1, 2, 100};
  const ProcessorSet b{2, 100, 700};
  EXPECT_EQ(a | b, (ProcessorSet{1, 2, 100, 700}));
  EXPECT_EQ(a & b, (ProcessorSet{2, 100}));
  EXPECT_EQ(ProcessorSet(a).RemoveAll(b), ProcessorSet{1});
  EXPECT_TRUE((a | b).Contains(a));
  EXPECT_FALSE(a.Contains(b));
  EXPECT_FALSE(a.Intersects(ProcessorSet{700}));
}

TEST(ProcessorSetText, ListSyntaxBothWays) {
  const std::vector<std::pair<ProcessorSet, std::string>> cases = {
      {{0}, "0"},
      {{0, 1}, "0-1"},
      {{0, 2, 4}, "0,2,4"},
      {ProcessorSet::Range(0, 3) | ProcessorSet::Range(40, 47), "0-3,40-47"},
      {ProcessorSet::Range(63, 64) | ProcessorSet{1023}, "63-64,1023"},
      {ProcessorSet::FirstN(1024), "0-1023"},
  };
  for (const auto& [set, text] : cases) {
    EXPECT_EQ(platform::FormatCpuList(set), text);
    ProcessorSet parsed;
    EXPECT_TRUE(platform::ParseCpuList(text, parsed)) << text;
    EXPECT_EQ(parsed, set) << text;
  }
  EXPECT_EQ(platform::FormatCpuList({}), "");

  // Overlapping, unordered items and leading zeros are the kernel's syntax too.
  ProcessorSet parsed;
  ASSERT_TRUE(platform::ParseCpuList("5,0-3,2,007", parsed));
  EXPECT_EQ(parsed, (ProcessorSet{0, 1, 2, 3, 5, 7}));

  for (const char* bad : {"", ",", "1,", ",1", "1,,2", "1-", "-1", "3-1", "1024", "0-1024", "18446744073709551616",
                          " 1", "1 ", "1\n", "a", "1;2", "+1", "0x1", "1-2-3"}) {
    ProcessorSet untouched{9};
    std::string why;
    EXPECT_FALSE(platform::ParseCpuList(bad, untouched, &why)) << bad;
    EXPECT_EQ(untouched, ProcessorSet{9}) << bad;
    EXPECT_FALSE(why.empty()) << bad;
  }
  std::string why;
  platform::ParseCpuList("0-3,1024", parsed, &why);
  EXPECT_EQ(why, "at 4: processor 1024 is above 1023");
  platform::ParseCpuList("7-3", parsed, &why);
  EXPECT_NE(why.find("7-3"), std::string::npos) << why;
}

TEST(ProcessorSetText, HexMaskKeepsTheOldFormWithinCpu0To31AndWidensByWords) {
  EXPECT_EQ(platform::FormatHexMask({}), "0x00000000");
  EXPECT_EQ(platform::FormatHexMask({0, 2}), "0x00000005");
  EXPECT_EQ(platform::FormatHexMask({31}), "0x80000000");
  EXPECT_EQ(platform::FormatHexMask({32}), "0x0000000100000000");
  EXPECT_EQ(platform::FormatHexMask({0, 63}), "0x8000000000000001");
  EXPECT_EQ(platform::FormatHexMask({64, 4}), "0x000000010000000000000010");
  const std::string widest = platform::FormatHexMask({1023, 33});
  EXPECT_EQ(widest.size(), 2u + 32 * 8);
  EXPECT_EQ(widest.substr(0, 10), "0x80000000");
  EXPECT_EQ(widest.substr(widest.size() - 16), "0000000200000000");
}

TEST(ProcessorSetText, DisplayPairTurnsCompactAbove16Processors) {
  const ProcessorSet set = ProcessorSet{0, 2} | ProcessorSet::Range(5, 7);
  EXPECT_EQ(platform::FormatCpuDisplay(set, 4), "2 [o-o-]");
  EXPECT_EQ(platform::FormatCpuDisplay(set, 16), "5 [o-o--ooo--------]");
  EXPECT_EQ(platform::FormatCpuDisplay(set, 17), "5 [0,2,5-7]");
  EXPECT_EQ(platform::FormatCpuDisplay(ProcessorSet::Range(0, 7) | ProcessorSet::Range(16, 40), 32), "24 [0-7,16-31]");
  EXPECT_EQ(platform::FormatCpuDisplay(3, ProcessorSet{}, 64), "3 []");
}

TEST(ProcessorSetText, ProcessorLinesPerProcessorUpTo16ThenPerRun) {
  EXPECT_EQ(platform::ProcessorLines({0, 2}, 2), "\n  CPU 0 = ON\n  CPU 1 = OFF");
  EXPECT_EQ(platform::ProcessorLines({}, 0), "");
  EXPECT_EQ(platform::ProcessorLines(ProcessorSet::FirstN(16), 16),
            platform::PerProcessorLines(ProcessorSet::FirstN(16), 16));
  EXPECT_EQ(platform::ProcessorLines(ProcessorSet::Range(0, 7) | ProcessorSet{9, 300}, 256),
            "\n  CPU 0-7 = ON\n  CPU 8 = OFF\n  CPU 9 = ON\n  CPU 10-255 = OFF");

  // Up to kMaxRunLines runs keep one line per run; beyond, ON and OFF members as lists.
  ProcessorSet evens;
  for (unsigned cpu = 0; cpu < 256; cpu += 2) evens.Set(cpu);
  auto lineCount = [](const std::string& text) { return std::count(text.begin(), text.end(), '\n'); };
  EXPECT_EQ(lineCount(platform::ProcessorLines(evens, 24)), 24);
  EXPECT_EQ(platform::ProcessorLines(evens, 26),
            "\n  CPU 0,2,4,6,8,10,12,14,16,18,20,22,24 = ON\n  CPU 1,3,5,7,9,11,13,15,17,19,21,23,25 = OFF");
  const std::string scattered = platform::ProcessorLines(evens, 256);
  EXPECT_EQ(lineCount(scattered), 16);
  EXPECT_EQ(scattered.substr(0, scattered.find('\n', 1)), "\n  CPU 0,2,4,6,8,10,12,14,16,18,20,22,24,26,28,30 = ON");
}

TEST(ProcessorSetConversions, WindowsGroupMaskRefusesWhatDoesNotFit) {
  std::uint64_t mask = 7;
  EXPECT_TRUE(platform::ToGroupMask({0, 63}, mask));
  EXPECT_EQ(mask, 0x8000000000000001u);
  EXPECT_FALSE(platform::ToGroupMask({1, 64}, mask));
  EXPECT_EQ(mask, 0x8000000000000001u);
  EXPECT_EQ(platform::FromGroupMask(~std::uint64_t{0}), ProcessorSet::FirstN(64));
}

TEST(ProcessorSetConversions, KernelBuffersOfAnySize) {
  const std::size_t bytes = CPU_ALLOC_SIZE(128);
  std::vector<unsigned char> storage(CPU_ALLOC_SIZE(2048), 0xFF);
  auto* buffer = reinterpret_cast<cpu_set_t*>(storage.data());
  ASSERT_TRUE(platform::StoreCpuSet({0, 64, 127}, buffer, bytes));
  EXPECT_EQ(CPU_COUNT_S(bytes, buffer), 3);
  EXPECT_TRUE(CPU_ISSET_S(0, bytes, buffer) && CPU_ISSET_S(64, bytes, buffer) && CPU_ISSET_S(127, bytes, buffer));
  EXPECT_EQ(storage[bytes], 0xFF);  // nothing written past the size given
  EXPECT_FALSE(platform::StoreCpuSet({1, 128}, buffer, bytes));
  EXPECT_TRUE(CPU_ISSET_S(0, bytes, buffer) && !CPU_ISSET_S(1, bytes, buffer));

  bool lost = true;
  EXPECT_EQ(platform::LoadCpuSet(buffer, bytes, &lost), (ProcessorSet{0, 64, 127}));
  EXPECT_FALSE(lost);
  // A machine beyond the set's capacity: what fits is kept, the rest reported.
  const std::size_t wide = CPU_ALLOC_SIZE(2048);
  CPU_ZERO_S(wide, buffer);
  CPU_SET_S(1023, wide, buffer);
  CPU_SET_S(1024, wide, buffer);
  EXPECT_EQ(platform::LoadCpuSet(buffer, wide, &lost), ProcessorSet{1023});
  EXPECT_TRUE(lost);
}

}  // namespace
