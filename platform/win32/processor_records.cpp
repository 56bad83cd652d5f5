#include "platform/win32/processor_records.h"

#include "platform/win32/group_mask.h"

namespace platform {
namespace {

// Windows runs little-endian on every processor it supports.
std::uint64_t ReadLittle(const unsigned char* at, std::size_t bytes) {
  std::uint64_t value = 0;
  for (std::size_t i = bytes; i-- > 0;) value = (value << 8) | at[i];
  return value;
}

// One record's body: reads outside it give 0.
class Body {
 public:
  Body(const unsigned char* data, std::size_t bytes) : data_(data), bytes_(bytes) {}
  std::uint64_t Read(std::size_t offset, std::size_t width) const {
    return offset + width <= bytes_ ? ReadLittle(data_ + offset, width) : 0;
  }
  // The processors of group among the GROUP_AFFINITY array at offset. A group count of 0 (systems
  // before the count was introduced) means the one mask there.
  ProcessorSet InGroup(std::size_t countOffset, std::size_t arrayOffset, unsigned group) const {
    std::size_t count = countOffset == 0 ? 1 : Read(countOffset, 2);
    if (count == 0) count = 1;
    ProcessorSet set;
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t at = arrayOffset + i * records::kGroupAffinityBytes;
      if (at + records::kGroupAffinityBytes > bytes_) break;
      if (Read(at + records::kAffinityGroup, 2) == group) set |= FromGroupMask(Read(at, 8));
    }
    return set;
  }

 private:
  const unsigned char* data_;
  std::size_t bytes_;
};

}  // namespace

Topology TopologyFromProcessorRecords(const unsigned char* data, std::size_t bytes, unsigned group) {
  Topology topology;
  ProcessorSet active;
  bool groupKnown = false;
  ProcessorSet inCores;
  std::size_t offset = 0;
  int packageNumber = 0;
  while (data != nullptr && bytes - offset >= records::kBody) {
    const auto relationship = static_cast<std::uint32_t>(ReadLittle(data + offset, 4));
    const auto size = static_cast<std::size_t>(ReadLittle(data + offset + 4, 4));
    if (size < records::kBody || size > bytes - offset) break;
    const Body body(data + offset + records::kBody, size - records::kBody);
    offset += size;

    switch (relationship) {
      case records::kProcessorCore: {
        // A core lies within one group: its one mask.
        const ProcessorSet core = body.InGroup(0, records::kProcessorGroupMask, group);
        if (core.Empty()) break;
        topology.cores.push_back(core);
        inCores |= core;
        const int efficiencyClass = static_cast<int>(body.Read(records::kProcessorEfficiencyClass, 1));
        for (int cpu = core.Lowest(); cpu >= 0; cpu = core.Next(static_cast<unsigned>(cpu) + 1)) {
          LogicalProcessor& record = topology.processors.emplace_back();
          record.id = static_cast<unsigned>(cpu);
          record.capacity = efficiencyClass;
        }
        break;
      }
      case records::kProcessorPackage: {
        const ProcessorSet members = body.InGroup(records::kProcessorGroupCount, records::kProcessorGroupMask, group);
        // Packages carry no number of their own; they are counted in the order reported.
        const int id = packageNumber++;
        if (!members.Empty()) topology.packages.push_back({id, members});
        break;
      }
      case records::kNumaNode: {
        const ProcessorSet members = body.InGroup(records::kNodeGroupCount, records::kNodeGroupMask, group);
        const auto number = static_cast<int>(body.Read(records::kNodeNumber, 4) & 0x7FFFFFFF);
        if (!members.Empty()) topology.nodes.push_back({number, members});
        break;
      }
      case records::kCache: {
        if (body.Read(records::kCacheLevel, 1) != 3) break;
        const ProcessorSet members = body.InGroup(records::kCacheGroupCount, records::kCacheGroupMask, group);
        if (!members.Empty()) topology.l3Domains.push_back({members, body.Read(records::kCacheSize, 4)});
        break;
      }
      case records::kGroup: {
        const std::size_t groups = body.Read(records::kGroupActiveCount, 2);
        const std::size_t at = records::kGroupInfo + group * records::kGroupInfoBytes;
        if (group < groups && at + records::kGroupInfoBytes <= size - records::kBody) {
          active = FromGroupMask(body.Read(at + records::kGroupInfoActiveMask, 8));
          groupKnown = true;
        }
        break;
      }
      default: break;  // dies, modules and relationships added later
    }
  }
  topology.online = groupKnown ? active : inCores;
  FinishTopology(topology);
  return topology;
}

}  // namespace platform
