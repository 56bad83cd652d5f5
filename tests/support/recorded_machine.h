#pragma once
// The fake system as one of the machines whose sysfs trees are recorded in tests/platform/sysfs: its
// processor count and its topology (and so the presets the dialogs offer).
#include <string>

#include "platform/fake/fake_system.h"
#include "platform/linux/sysfs_topology.h"

inline void UseRecordedMachine(platform::FakeSystem& system, const char* tree) {
  system.topology = platform::ReadSysfsTopology(std::string(MAVRIN_SYSFS_TREES) + "/" + tree);
  system.processorCount = static_cast<std::uint32_t>(system.topology->online.Count());
}
