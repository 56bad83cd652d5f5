#pragma once
// Decoding of what GetLogicalProcessorInformationEx(RelationAll) writes: a sequence of
// SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX records of varying size. Read by the documented byte
// offsets rather than through the SDK's structures: the cross compiler's headers predate the
// members this needs (EfficiencyClass, the group counts of caches and nodes), and so the decoding
// builds and is tested on Linux too. win32_topology.cpp checks the offsets against the SDK's.
#include <cstddef>
#include <cstdint>

#include "platform/topology.h"

namespace platform {

namespace records {
// Every record: Relationship (DWORD), Size (DWORD), then the relationship's structure.
inline constexpr std::size_t kBody = 8;
inline constexpr std::uint32_t kProcessorCore = 0;
inline constexpr std::uint32_t kNumaNode = 1;
inline constexpr std::uint32_t kCache = 2;
inline constexpr std::uint32_t kProcessorPackage = 3;
inline constexpr std::uint32_t kGroup = 4;
// GROUP_AFFINITY: Mask (KAFFINITY), Group (WORD), Reserved.
inline constexpr std::size_t kGroupAffinityBytes = 16;
inline constexpr std::size_t kAffinityGroup = 8;
// PROCESSOR_RELATIONSHIP (cores, packages), offsets within the body.
inline constexpr std::size_t kProcessorEfficiencyClass = 1;
inline constexpr std::size_t kProcessorGroupCount = 22;
inline constexpr std::size_t kProcessorGroupMask = 24;
// NUMA_NODE_RELATIONSHIP.
inline constexpr std::size_t kNodeNumber = 0;
inline constexpr std::size_t kNodeGroupCount = 22;
inline constexpr std::size_t kNodeGroupMask = 24;
// CACHE_RELATIONSHIP.
inline constexpr std::size_t kCacheLevel = 0;
inline constexpr std::size_t kCacheSize = 4;
inline constexpr std::size_t kCacheGroupCount = 30;
inline constexpr std::size_t kCacheGroupMask = 32;
// GROUP_RELATIONSHIP and its PROCESSOR_GROUP_INFO entries.
inline constexpr std::size_t kGroupActiveCount = 2;
inline constexpr std::size_t kGroupInfo = 24;
inline constexpr std::size_t kGroupInfoBytes = 48;
inline constexpr std::size_t kGroupInfoActiveMask = 40;
}  // namespace records

// The finished topology of the processors of one processor group, numbered as in the group's
// affinity masks. A record that is cut short or claims more than the buffer holds ends the
// decoding; what came before it stays.
Topology TopologyFromProcessorRecords(const unsigned char* data, std::size_t bytes, unsigned group);

}  // namespace platform
