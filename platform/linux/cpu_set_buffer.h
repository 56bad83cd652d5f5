#pragma once
// Processor sets to and from the kernel's cpu_set_t buffers of sched_getaffinity and
// sched_setaffinity. The buffer is sized for the processors the machine can ever have, not for
// CPU_SETSIZE: the kernel refuses to report a mask into a buffer shorter than its own, and copies
// every byte of a longer one on every call.
#include <sched.h>

#include <cstddef>
#include <string>

#include "platform/linux/sysfs_topology.h"
#include "platform/processor_set.h"

namespace platform {

// The bytes of a buffer for every possible processor (devices/system/cpu/possible below the sysfs
// root; CPU_SETSIZE when that cannot be read): CPU_ALLOC_SIZE of the highest possible one + 1.
std::size_t PossibleCpuSetBytes(const std::string& sysfsRoot = kSysfsRoot);

// Writes the set into a buffer of bytes bytes (all of it: processors beyond the set are cleared).
// False, with the buffer untouched, when the set names a processor the buffer cannot hold.
bool StoreCpuSet(const ProcessorSet& set, cpu_set_t* buffer, std::size_t bytes);

// The processors of a buffer of bytes bytes. Processors the set cannot hold (ProcessorSet::kCapacity
// and above, only on machines larger than that) are left out; *lost tells whether there were any.
ProcessorSet LoadCpuSet(const cpu_set_t* buffer, std::size_t bytes, bool* lost = nullptr);

}  // namespace platform
