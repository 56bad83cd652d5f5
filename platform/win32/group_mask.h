#pragma once
// Processor sets to and from the affinity mask of one processor group (KAFFINITY / DWORD_PTR, 64
// bits on x64): processor n of the group is bit n. Kept free of the Windows headers so the portable
// tests check it too.
#include <cstdint>

#include "platform/processor_set.h"

namespace platform {

// False, with mask untouched, when the set names processor 64 or above: the caller refuses such a
// set (with a failure record) instead of cutting it.
inline bool ToGroupMask(const ProcessorSet& set, std::uint64_t& mask) {
  if (!set.FitsIn64()) return false;
  mask = set.Low64();
  return true;
}

inline ProcessorSet FromGroupMask(std::uint64_t mask) { return ProcessorSet::FromLow64(mask); }

}  // namespace platform
