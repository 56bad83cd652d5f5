#pragma once
// The processor presets beside the processor boxes: a menu of the choices the machine's topology
// offers (all processors, performance or efficiency cores, one L3 cache domain, one thread per
// core, one NUMA node), each named with its processors.
#include <string>
#include <vector>

#include "framework/dialog.h"
#include "platform/system.h"
#include "platform/topology.h"

// A preset as its menu item reads, e.g. "L3 キャッシュ 96 MB (CPU 0-7,16-23)".
std::string PresetLabel(const platform::ProcessorPreset& preset);

class ProcessorPresetMenu {
 public:
  // Reads the topology, shows its presets at the cursor, owned by dialog; a choice reaches the
  // dialog as command ID_PRESET_BASE + its position.
  void Show(framework::CDialog& dialog, platform::ITopologyApi& topology);
  // The processors of the preset behind command id of the last menu shown; nullptr for any other id.
  const platform::ProcessorSet* Chosen(unsigned id) const;

 private:
  std::vector<platform::ProcessorPreset> presets_;
};
