#include "platform/linux/cpu_set_buffer.h"

#include <climits>
#include <cstdint>
#include <cstring>

namespace platform {
namespace {

// The kernel's buffer is an array of unsigned long: processor n is bit n % kLongBits of word
// n / kLongBits, whatever the byte order.
constexpr unsigned kLongBits = sizeof(unsigned long) * CHAR_BIT;
static_assert(ProcessorSet::kWordBits % kLongBits == 0, "a set word holds whole kernel words");
constexpr unsigned kLongsPerSetWord = ProcessorSet::kWordBits / kLongBits;

unsigned long LongAt(const cpu_set_t* buffer, std::size_t index) {
  unsigned long word = 0;
  std::memcpy(&word, reinterpret_cast<const unsigned char*>(buffer) + index * sizeof word, sizeof word);
  return word;
}

void PutLong(cpu_set_t* buffer, std::size_t index, unsigned long word) {
  std::memcpy(reinterpret_cast<unsigned char*>(buffer) + index * sizeof word, &word, sizeof word);
}

}  // namespace

std::size_t PossibleCpuSetBytes(const std::string& sysfsRoot) {
  ProcessorSet possible;
  // A machine with processors beyond the set's capacity fails the strict list syntax: it gets the
  // largest buffer the set can fill, and the kernel tells whether that is too short.
  if (!ReadSysfsCpuList(sysfsRoot, "devices/system/cpu/possible", possible) || possible.Empty()) {
    return CPU_ALLOC_SIZE(ProcessorSet::kCapacity);
  }
  return CPU_ALLOC_SIZE(static_cast<unsigned>(possible.Highest()) + 1);
}

bool StoreCpuSet(const ProcessorSet& set, cpu_set_t* buffer, std::size_t bytes) {
  const std::size_t longs = bytes / sizeof(unsigned long);
  if (set.Highest() >= 0 && static_cast<std::size_t>(set.Highest()) >= longs * kLongBits) return false;
  for (std::size_t i = 0; i < longs; ++i) {
    const std::uint64_t word = set.Word(static_cast<unsigned>(i / kLongsPerSetWord));
    PutLong(buffer, i, static_cast<unsigned long>(word >> (kLongBits * (i % kLongsPerSetWord))));
  }
  // A size that is no whole number of words (never from CPU_ALLOC_SIZE) has its tail cleared.
  std::memset(reinterpret_cast<unsigned char*>(buffer) + longs * sizeof(unsigned long), 0,
              bytes - longs * sizeof(unsigned long));
  return true;
}

ProcessorSet LoadCpuSet(const cpu_set_t* buffer, std::size_t bytes, bool* lost) {
  const std::size_t longs = bytes / sizeof(unsigned long);
  ProcessorSet set;
  bool beyond = false;
  for (std::size_t i = 0; i < longs; ++i) {
    const unsigned long word = LongAt(buffer, i);
    if (word == 0) continue;
    const std::size_t setWord = i / kLongsPerSetWord;
    if (setWord >= ProcessorSet::kWords) {
      beyond = true;
      continue;
    }
    const auto index = static_cast<unsigned>(setWord);
    set.SetWord(index, set.Word(index) | (std::uint64_t{word} << (kLongBits * (i % kLongsPerSetWord))));
  }
  if (lost != nullptr) *lost = beyond;
  return set;
}

}  // namespace platform
