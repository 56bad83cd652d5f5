#pragma once
// The processor topology as Linux describes it under sysfs. The root is a parameter so that tests
// read recorded trees of machines this one is not; the program passes "/sys". What is read:
//   devices/system/cpu/online                          the processors described (else the cpuN folders)
//   devices/system/cpu/cpuN/topology/thread_siblings_list, core_id, physical_package_id
//   devices/system/cpu/cpuN/cache/index3/level, shared_cpu_list, size
//   devices/system/cpu/cpuN/cpu_capacity               ARM big.LITTLE (and newer x86 kernels)
//   devices/cpu_core/cpus, devices/cpu_atom/cpus       Intel hybrid: performance / efficiency cores
//   devices/system/node/nodeN/cpulist                  NUMA nodes
// A file that is missing, unreadable or malformed leaves its part of the description out; nothing
// the tree holds makes the reader fail or hang.
#include <string>
#include <string_view>

#include "platform/processor_set.h"
#include "platform/topology.h"

namespace platform {

inline constexpr char kSysfsRoot[] = "/sys";

// The finished topology (see FinishTopology) of the online processors.
Topology ReadSysfsTopology(const std::string& sysfsRoot = kSysfsRoot);

// A list file such as devices/system/cpu/online below root, with its line end taken off. False when
// it is missing or not in the list syntax; an empty line is the empty set.
bool ReadSysfsCpuList(const std::string& sysfsRoot, std::string_view relativePath, ProcessorSet& out);

// The processors that are online; when the online list cannot be read, the cpuN folders.
ProcessorSet OnlineProcessors(const std::string& sysfsRoot = kSysfsRoot);

}  // namespace platform
