#include "ui/processor_presets.h"

#include "framework/backend.h"
#include "platform/processor_set_text.h"
#include "res/resource.h"
#include "res/texts.h"

namespace {

// A list longer than this reads worse in a menu than the number of processors it names.
constexpr std::size_t kLongestListShown = 24;

std::string Processors(const platform::ProcessorSet& set) {
  const std::string list = platform::FormatCpuList(set);
  if (list.size() <= kLongestListShown) return res::Fill(res::TextId::kPresetCpus, {list});
  return res::Fill(res::TextId::kPresetCpuCount, {std::to_string(set.Count())});
}

std::string CacheSize(std::uint64_t bytes) {
  constexpr std::uint64_t kMegabyte = 1024 * 1024;
  if (bytes >= kMegabyte)
    return res::Fill(res::TextId::kSizeMegabytes, {std::to_string((bytes + kMegabyte / 2) / kMegabyte)});
  return res::Fill(res::TextId::kSizeKilobytes, {std::to_string((bytes + 512) / 1024)});
}

// Kinds that stand together in the menu, with a separator between groups.
int GroupOf(platform::PresetKind kind) {
  switch (kind) {
    case platform::PresetKind::kAllProcessors: return 0;
    case platform::PresetKind::kPerformanceCores:
    case platform::PresetKind::kEfficiencyCores: return 1;
    case platform::PresetKind::kL3Domain: return 2;
    case platform::PresetKind::kOnePerCore: return 3;
    case platform::PresetKind::kNumaNode: return 4;
  }
  return 5;
}

}  // namespace

std::string PresetLabel(const platform::ProcessorPreset& preset) {
  const std::string cpus = Processors(preset.processors);
  switch (preset.kind) {
    case platform::PresetKind::kAllProcessors: return res::Fill(res::TextId::kPresetAll, {cpus});
    case platform::PresetKind::kPerformanceCores: return res::Fill(res::TextId::kPresetPerformance, {cpus});
    case platform::PresetKind::kEfficiencyCores: return res::Fill(res::TextId::kPresetEfficiency, {cpus});
    case platform::PresetKind::kL3Domain:
      if (preset.cacheBytes == 0) {
        return res::Fill(res::TextId::kPresetL3Numbered, {std::to_string(preset.number + 1), cpus});
      }
      return res::Fill(res::TextId::kPresetL3, {CacheSize(preset.cacheBytes), cpus});
    case platform::PresetKind::kOnePerCore: return res::Fill(res::TextId::kPresetOnePerCore, {cpus});
    case platform::PresetKind::kNumaNode:
      return res::Fill(res::TextId::kPresetNumaNode, {std::to_string(preset.number), cpus});
  }
  return cpus;
}

void ProcessorPresetMenu::Show(framework::CDialog& dialog, platform::ITopologyApi& topology) {
  presets_ = platform::TopologyPresets(topology.ReadProcessorTopology());
  if (presets_.empty()) return;
  framework::Menu menu;
  for (std::size_t i = 0; i < presets_.size(); ++i) {
    if (i > 0 && GroupOf(presets_[i].kind) != GroupOf(presets_[i - 1].kind)) menu.AppendSeparator();
    menu.AppendString(ID_PRESET_BASE + static_cast<unsigned>(i), PresetLabel(presets_[i]));
  }
  const framework::Point cursor = framework::Backend().CursorPos();
  dialog.SetForeground();
  dialog.TrackPopup(menu, TPM_LEFTALIGN, cursor.x, cursor.y);
}

const platform::ProcessorSet* ProcessorPresetMenu::Chosen(unsigned id) const {
  if (id < ID_PRESET_BASE || id - ID_PRESET_BASE >= presets_.size()) return nullptr;
  return &presets_[id - ID_PRESET_BASE].processors;
}
