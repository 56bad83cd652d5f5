#pragma once
// The machine's processor topology as plain data (filled by platform/linux/sysfs_topology.h or
// platform/win32/win32_topology.h), and the processor presets it offers the user: all processors,
// performance cores, efficiency cores, each L3 cache domain, one logical processor per physical
// core, each NUMA node. Only presets that tell something on this machine are offered.
#include <cstdint>
#include <vector>

#include "platform/processor_set.h"

namespace platform {

enum class CoreType : std::uint8_t { kUnknown, kPerformance, kEfficiency };

// One logical processor (a hardware thread). Indices are -1 where the system told nothing.
struct LogicalProcessor {
  unsigned id = 0;
  CoreType type = CoreType::kUnknown;
  // The system's rating of the core's speed, higher is faster, only meaningful compared with other
  // processors' (ARM cpu_capacity, Windows efficiency class); -1 unknown.
  int capacity = -1;
  int core = -1;     // index into Topology::cores
  int l3 = -1;       // index into Topology::l3Domains
  int node = -1;     // NUMA node number
  int package = -1;  // package (socket) number
};

// Processors that share one L3 cache; bytes 0 when its size is unknown.
struct CacheDomain {
  ProcessorSet processors;
  std::uint64_t bytes = 0;
};

// A NUMA node or a package and its processors.
struct ProcessorGroup {
  int id = 0;
  ProcessorSet processors;
};

struct Topology {
  // The processors described: the online ones. Empty when the system could not be read at all.
  ProcessorSet online;
  // One record per online processor, by id.
  std::vector<LogicalProcessor> processors;
  // Physical cores, each with its SMT siblings, by lowest member; every online processor is in one.
  std::vector<ProcessorSet> cores;
  // L3 domains by lowest member; disjoint, only online members.
  std::vector<CacheDomain> l3Domains;
  // NUMA nodes with processors, by id; packages by id.
  std::vector<ProcessorGroup> nodes;
  std::vector<ProcessorGroup> packages;

  // The record of processor id, nullptr when it is not online.
  const LogicalProcessor* Find(unsigned id) const;
  ProcessorSet OfType(CoreType type) const;
};

// Puts what a reader gathered into the shape described above, whatever the system said: every
// set is cut to the online processors; cores, L3 domains, nodes and packages are made disjoint (a
// processor claimed twice stays with the first claim) and empty ones dropped; an online processor
// that no core claims is a core of its own; the per-processor indices are filled in. When no
// processor has a type yet and the capacities fall into two or more classes (values within 10 % of
// each other are one class), the slowest class are efficiency cores and the rest performance cores.
void FinishTopology(Topology& topology);

enum class PresetKind : std::uint8_t {
  kAllProcessors,
  kPerformanceCores,  // only with both core types present
  kEfficiencyCores,
  kL3Domain,    // one per L3 domain, only with two or more
  kOnePerCore,  // the lowest logical processor of each core, only where some core has SMT
  kNumaNode,    // one per node with processors, only with two or more
};

// What the user can pick; the interface names it from kind and parameters in its own language,
// e.g. "L3 96 MB (CPU 0-7,16-23)".
struct ProcessorPreset {
  PresetKind kind = PresetKind::kAllProcessors;
  ProcessorSet processors;
  // kL3Domain: the domain's position in Topology::l3Domains; kNumaNode: the node's number.
  int number = 0;
  // kL3Domain: the cache size, 0 unknown.
  std::uint64_t cacheBytes = 0;
};

// The presets in the order a menu shows them: all, performance, efficiency, L3 domains, one per
// core, NUMA nodes. None for a topology without processors.
std::vector<ProcessorPreset> TopologyPresets(const Topology& topology);

}  // namespace platform
