#pragma once
// A set of processors numbered 0 to 1023 (the Linux kernel's CPU_SETSIZE): the processors a process
// may run on. A plain value of fixed size without allocation, so it can sit in every snapshot and
// watch entry and be copied and compared like an integer. Processor numbers at or above kCapacity
// are never members: Set and Clear ignore them, Test says false.
#include <array>
#include <bit>
#include <compare>
#include <cstdint>
#include <initializer_list>

namespace platform {

class ProcessorSet {
 public:
  static constexpr unsigned kCapacity = 1024;
  static constexpr unsigned kWordBits = 64;
  static constexpr unsigned kWords = kCapacity / kWordBits;

  constexpr ProcessorSet() = default;
  // A 32-bit affinity mask is the set it names (bit n is processor n): every mask the program ever
  // held or wrote converts without loss, so code and files written for masks keep working.
  constexpr ProcessorSet(std::uint32_t mask) { words_[0] = mask; }  // NOLINT: implicit on purpose
  constexpr ProcessorSet(std::initializer_list<unsigned> processors) {
    for (unsigned cpu : processors) Set(cpu);
  }

  // Processors 0 to count - 1; a count above kCapacity gives every processor.
  static constexpr ProcessorSet FirstN(unsigned count) {
    ProcessorSet set;
    if (count > kCapacity) count = kCapacity;
    for (unsigned w = 0; w < count / kWordBits; ++w) set.words_[w] = ~std::uint64_t{0};
    if (count % kWordBits != 0) set.words_[count / kWordBits] = (std::uint64_t{1} << (count % kWordBits)) - 1;
    return set;
  }
  // Processors first to last, both included; empty when first > last.
  static constexpr ProcessorSet Range(unsigned first, unsigned last) {
    if (first > last || first >= kCapacity) return {};
    ProcessorSet set = FirstN(last >= kCapacity ? kCapacity : last + 1);
    set.RemoveAll(FirstN(first));
    return set;
  }
  // Bit n of the mask is processor n.
  static constexpr ProcessorSet FromLow32(std::uint32_t mask) { return FromLow64(mask); }
  static constexpr ProcessorSet FromLow64(std::uint64_t mask) {
    ProcessorSet set;
    set.words_[0] = mask;
    return set;
  }

  constexpr void Set(unsigned cpu) {
    if (cpu < kCapacity) words_[cpu / kWordBits] |= Bit(cpu);
  }
  constexpr void Clear(unsigned cpu) {
    if (cpu < kCapacity) words_[cpu / kWordBits] &= ~Bit(cpu);
  }
  constexpr void Assign(unsigned cpu, bool member) {
    if (member) {
      Set(cpu);
    } else {
      Clear(cpu);
    }
  }
  constexpr bool Test(unsigned cpu) const { return cpu < kCapacity && (words_[cpu / kWordBits] & Bit(cpu)) != 0; }

  constexpr bool Empty() const {
    for (std::uint64_t w : words_) {
      if (w != 0) return false;
    }
    return true;
  }
  constexpr unsigned Count() const {
    unsigned n = 0;
    for (std::uint64_t w : words_) n += static_cast<unsigned>(std::popcount(w));
    return n;
  }
  // Members below limit: the processors of a machine with limit processors.
  constexpr unsigned CountBelow(unsigned limit) const {
    if (limit >= kCapacity) return Count();
    unsigned n = 0;
    for (unsigned w = 0; w < limit / kWordBits; ++w) n += static_cast<unsigned>(std::popcount(words_[w]));
    if (limit % kWordBits != 0) {
      n += static_cast<unsigned>(
          std::popcount(words_[limit / kWordBits] & ((std::uint64_t{1} << (limit % kWordBits)) - 1)));
    }
    return n;
  }
  // The highest / lowest member, -1 for the empty set.
  constexpr int Highest() const {
    for (unsigned w = kWords; w-- > 0;) {
      if (words_[w] != 0) return static_cast<int>(w * kWordBits + kWordBits - 1 - std::countl_zero(words_[w]));
    }
    return -1;
  }
  constexpr int Lowest() const { return Next(0); }
  // The lowest member at or above from, -1 when there is none. Walks the members:
  //   for (int cpu = set.Lowest(); cpu >= 0; cpu = set.Next(cpu + 1)) ...
  constexpr int Next(unsigned from) const {
    if (from >= kCapacity) return -1;
    unsigned w = from / kWordBits;
    std::uint64_t bits = words_[w] & (~std::uint64_t{0} << (from % kWordBits));
    while (true) {
      if (bits != 0) return static_cast<int>(w * kWordBits + static_cast<unsigned>(std::countr_zero(bits)));
      if (++w == kWords) return -1;
      bits = words_[w];
    }
  }

  // Processors 0-31 / 0-63 as a mask; members above are not in it (see FitsIn32 / FitsIn64).
  constexpr std::uint32_t Low32() const { return static_cast<std::uint32_t>(words_[0]); }
  constexpr std::uint64_t Low64() const { return words_[0]; }
  // Whether Low32 / Low64 hold the whole set.
  constexpr bool FitsIn32() const { return (words_[0] >> 32) == 0 && FitsIn64(); }
  constexpr bool FitsIn64() const {
    for (unsigned w = 1; w < kWords; ++w) {
      if (words_[w] != 0) return false;
    }
    return true;
  }
  // Processors 64 * index to 64 * index + 63, for conversions to the systems' own buffers.
  constexpr std::uint64_t Word(unsigned index) const { return index < kWords ? words_[index] : 0; }
  constexpr void SetWord(unsigned index, std::uint64_t bits) {
    if (index < kWords) words_[index] = bits;
  }

  // Every member of other is a member of this set.
  constexpr bool Contains(const ProcessorSet& other) const {
    for (unsigned w = 0; w < kWords; ++w) {
      if ((other.words_[w] & ~words_[w]) != 0) return false;
    }
    return true;
  }
  constexpr bool Intersects(const ProcessorSet& other) const { return !(*this & other).Empty(); }
  // Takes out every member of other.
  constexpr ProcessorSet& RemoveAll(const ProcessorSet& other) {
    for (unsigned w = 0; w < kWords; ++w) words_[w] &= ~other.words_[w];
    return *this;
  }

  constexpr ProcessorSet& operator|=(const ProcessorSet& other) {
    for (unsigned w = 0; w < kWords; ++w) words_[w] |= other.words_[w];
    return *this;
  }
  constexpr ProcessorSet& operator&=(const ProcessorSet& other) {
    for (unsigned w = 0; w < kWords; ++w) words_[w] &= other.words_[w];
    return *this;
  }
  friend constexpr ProcessorSet operator|(ProcessorSet a, const ProcessorSet& b) { return a |= b; }
  friend constexpr ProcessorSet operator&(ProcessorSet a, const ProcessorSet& b) { return a &= b; }
  friend constexpr bool operator==(const ProcessorSet&, const ProcessorSet&) = default;
  // Some order, so that sets can be keys of ordered containers.
  friend constexpr auto operator<=>(const ProcessorSet&, const ProcessorSet&) = default;

 private:
  static constexpr std::uint64_t Bit(unsigned cpu) { return std::uint64_t{1} << (cpu % kWordBits); }

  std::array<std::uint64_t, kWords> words_{};
};

}  // namespace platform
