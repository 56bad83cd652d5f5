#include "platform/win32/win32_topology.h"

#include <windows.h>

#include <cstddef>
#include <vector>

#include "platform/win32/group_mask.h"
#include "platform/win32/processor_records.h"

namespace platform {
namespace {

// The decoder reads by offset; these are the SDK's own. The efficiency class and the cache and node
// group counts sit in what older headers call Reserved, so their offsets are checked through it.
static_assert(offsetof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX, Processor) == records::kBody);
static_assert(offsetof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX, Size) == 4);
static_assert(RelationProcessorCore == records::kProcessorCore && RelationNumaNode == records::kNumaNode &&
              RelationCache == records::kCache && RelationProcessorPackage == records::kProcessorPackage &&
              RelationGroup == records::kGroup);
static_assert(sizeof(GROUP_AFFINITY) == records::kGroupAffinityBytes &&
              offsetof(GROUP_AFFINITY, Group) == records::kAffinityGroup && sizeof(KAFFINITY) == 8);
static_assert(offsetof(PROCESSOR_RELATIONSHIP, Reserved) == records::kProcessorEfficiencyClass &&
              offsetof(PROCESSOR_RELATIONSHIP, GroupCount) == records::kProcessorGroupCount &&
              offsetof(PROCESSOR_RELATIONSHIP, GroupMask) == records::kProcessorGroupMask);
static_assert(offsetof(NUMA_NODE_RELATIONSHIP, NodeNumber) == records::kNodeNumber &&
              offsetof(NUMA_NODE_RELATIONSHIP, Reserved) + 18 == records::kNodeGroupCount &&
              offsetof(NUMA_NODE_RELATIONSHIP, GroupMask) == records::kNodeGroupMask);
static_assert(offsetof(CACHE_RELATIONSHIP, Level) == records::kCacheLevel &&
              offsetof(CACHE_RELATIONSHIP, CacheSize) == records::kCacheSize &&
              offsetof(CACHE_RELATIONSHIP, Reserved) + 18 == records::kCacheGroupCount &&
              offsetof(CACHE_RELATIONSHIP, GroupMask) == records::kCacheGroupMask);
static_assert(offsetof(GROUP_RELATIONSHIP, ActiveGroupCount) == records::kGroupActiveCount &&
              offsetof(GROUP_RELATIONSHIP, GroupInfo) == records::kGroupInfo &&
              sizeof(PROCESSOR_GROUP_INFO) == records::kGroupInfoBytes &&
              offsetof(PROCESSOR_GROUP_INFO, ActiveProcessorMask) == records::kGroupInfoActiveMask);

// The group of the calling thread: the one the process's affinity calls address.
unsigned OwnGroup() {
  GROUP_AFFINITY affinity{};
  return GetThreadGroupAffinity(GetCurrentThread(), &affinity) ? affinity.Group : 0;
}

}  // namespace

Topology ReadWindowsTopology() {
  const unsigned group = OwnGroup();
  std::vector<unsigned char> buffer;
  DWORD length = 0;
  // The size asked for can grow between the calls when processors are added; a few tries do.
  for (int attempt = 0; attempt < 4; ++attempt) {
    buffer.resize(length);
    auto* records =
        reinterpret_cast<PSYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX>(buffer.empty() ? nullptr : buffer.data());
    if (GetLogicalProcessorInformationEx(RelationAll, records, &length)) {
      Topology topology = TopologyFromProcessorRecords(buffer.data(), length, group);
      if (!topology.online.Empty()) return topology;
      break;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
  }
  Topology topology;
  DWORD_PTR processMask = 0;
  DWORD_PTR systemMask = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask)) {
    topology.online = FromGroupMask(static_cast<std::uint64_t>(systemMask));
  }
  FinishTopology(topology);
  return topology;
}

}  // namespace platform
