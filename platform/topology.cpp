#include "platform/topology.h"

#include <algorithm>
#include <array>
#include <utility>

namespace platform {
namespace {

// Cuts each group to the online processors, takes out what an earlier group claimed, drops groups
// left empty.
template <typename Group, typename Members>
void MakeDisjoint(std::vector<Group>& groups, const ProcessorSet& online, Members members) {
  ProcessorSet claimed;
  std::vector<Group> kept;
  kept.reserve(groups.size());
  for (Group& group : groups) {
    ProcessorSet& set = members(group);
    set &= online;
    set.RemoveAll(claimed);
    if (set.Empty()) continue;
    claimed |= set;
    kept.push_back(std::move(group));
  }
  groups = std::move(kept);
}

// Capacities that differ by less than this share a class: systems rate equal cores slightly apart
// (favoured cores, measured frequencies), but big and little cores lie far apart.
constexpr double kSameClassRatio = 0.9;

void ClassifyByCapacity(std::vector<LogicalProcessor>& processors) {
  std::vector<int> values;
  for (const LogicalProcessor& p : processors) {
    if (p.type != CoreType::kUnknown) return;  // the system named the types itself
    if (p.capacity >= 0) values.push_back(p.capacity);
  }
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());
  if (values.size() < 2) return;
  // The slowest class: from the lowest value up to the first gap.
  int slowestClassTop = values[0];
  for (std::size_t i = 1; i < values.size(); ++i) {
    if (slowestClassTop < values[i] * kSameClassRatio) break;
    slowestClassTop = values[i];
  }
  if (slowestClassTop == values.back()) return;  // one class: a uniform machine
  for (LogicalProcessor& p : processors) {
    if (p.capacity < 0) continue;
    p.type = p.capacity <= slowestClassTop ? CoreType::kEfficiency : CoreType::kPerformance;
  }
}

bool ByLowest(const ProcessorSet& a, const ProcessorSet& b) { return a.Lowest() < b.Lowest(); }

}  // namespace

const LogicalProcessor* Topology::Find(unsigned id) const {
  auto it = std::lower_bound(processors.begin(), processors.end(), id,
                             [](const LogicalProcessor& p, unsigned wanted) { return p.id < wanted; });
  return it != processors.end() && it->id == id ? &*it : nullptr;
}

ProcessorSet Topology::OfType(CoreType type) const {
  ProcessorSet set;
  for (const LogicalProcessor& p : processors) {
    if (p.type == type) set.Set(p.id);
  }
  return set;
}

void FinishTopology(Topology& topology) {
  const ProcessorSet& online = topology.online;

  // One record per online processor, keeping what the reader put into the first record of each.
  std::vector<LogicalProcessor> given = std::move(topology.processors);
  std::stable_sort(given.begin(), given.end(),
                   [](const LogicalProcessor& a, const LogicalProcessor& b) { return a.id < b.id; });
  topology.processors.clear();
  topology.processors.reserve(online.Count());
  auto next = given.begin();
  for (int cpu = online.Lowest(); cpu >= 0; cpu = online.Next(static_cast<unsigned>(cpu) + 1)) {
    const auto id = static_cast<unsigned>(cpu);
    while (next != given.end() && next->id < id) ++next;
    LogicalProcessor record;
    if (next != given.end() && next->id == id) {
      record.type = next->type;
      record.capacity = next->capacity;
    }
    record.id = id;
    topology.processors.push_back(record);
  }

  MakeDisjoint(topology.cores, online, [](ProcessorSet& s) -> ProcessorSet& { return s; });
  ProcessorSet unclaimed = online;
  for (const ProcessorSet& core : topology.cores) unclaimed.RemoveAll(core);
  for (int cpu = unclaimed.Lowest(); cpu >= 0; cpu = unclaimed.Next(static_cast<unsigned>(cpu) + 1)) {
    topology.cores.push_back(ProcessorSet{static_cast<unsigned>(cpu)});
  }
  std::sort(topology.cores.begin(), topology.cores.end(), ByLowest);

  MakeDisjoint(topology.l3Domains, online, [](CacheDomain& d) -> ProcessorSet& { return d.processors; });
  std::sort(topology.l3Domains.begin(), topology.l3Domains.end(),
            [](const CacheDomain& a, const CacheDomain& b) { return ByLowest(a.processors, b.processors); });
  for (auto* groups : {&topology.nodes, &topology.packages}) {
    MakeDisjoint(*groups, online, [](ProcessorGroup& g) -> ProcessorSet& { return g.processors; });
    std::stable_sort(groups->begin(), groups->end(),
                     [](const ProcessorGroup& a, const ProcessorGroup& b) { return a.id < b.id; });
  }

  ClassifyByCapacity(topology.processors);

  // Where each online processor's record is, to fill in its indices.
  std::array<int, ProcessorSet::kCapacity> position{};
  for (std::size_t i = 0; i < topology.processors.size(); ++i) {
    position[topology.processors[i].id] = static_cast<int>(i);
  }
  auto mark = [&](const ProcessorSet& set, auto assign) {
    for (int cpu = set.Lowest(); cpu >= 0; cpu = set.Next(static_cast<unsigned>(cpu) + 1)) {
      assign(topology.processors[static_cast<std::size_t>(position[static_cast<std::size_t>(cpu)])]);
    }
  };
  for (std::size_t i = 0; i < topology.cores.size(); ++i) {
    mark(topology.cores[i], [&](LogicalProcessor& p) { p.core = static_cast<int>(i); });
  }
  for (std::size_t i = 0; i < topology.l3Domains.size(); ++i) {
    mark(topology.l3Domains[i].processors, [&](LogicalProcessor& p) { p.l3 = static_cast<int>(i); });
  }
  for (const ProcessorGroup& node : topology.nodes) {
    mark(node.processors, [&](LogicalProcessor& p) { p.node = node.id; });
  }
  for (const ProcessorGroup& package : topology.packages) {
    mark(package.processors, [&](LogicalProcessor& p) { p.package = package.id; });
  }
}

std::vector<ProcessorPreset> TopologyPresets(const Topology& topology) {
  std::vector<ProcessorPreset> presets;
  if (topology.online.Empty()) return presets;
  presets.push_back({PresetKind::kAllProcessors, topology.online, 0, 0});

  const ProcessorSet performance = topology.OfType(CoreType::kPerformance) & topology.online;
  const ProcessorSet efficiency = topology.OfType(CoreType::kEfficiency) & topology.online;
  if (!performance.Empty() && !efficiency.Empty()) {
    presets.push_back({PresetKind::kPerformanceCores, performance, 0, 0});
    presets.push_back({PresetKind::kEfficiencyCores, efficiency, 0, 0});
  }

  if (topology.l3Domains.size() >= 2) {
    for (std::size_t i = 0; i < topology.l3Domains.size(); ++i) {
      const CacheDomain& domain = topology.l3Domains[i];
      presets.push_back(
          {PresetKind::kL3Domain, domain.processors & topology.online, static_cast<int>(i), domain.bytes});
    }
  }

  ProcessorSet onePerCore;
  bool smt = false;
  for (const ProcessorSet& core : topology.cores) {
    const ProcessorSet members = core & topology.online;
    if (members.Empty()) continue;
    onePerCore.Set(static_cast<unsigned>(members.Lowest()));
    smt = smt || members.Count() > 1;
  }
  if (smt) presets.push_back({PresetKind::kOnePerCore, onePerCore, 0, 0});

  std::vector<const ProcessorGroup*> nodes;
  for (const ProcessorGroup& node : topology.nodes) {
    if (node.processors.Intersects(topology.online)) nodes.push_back(&node);
  }
  if (nodes.size() >= 2) {
    for (const ProcessorGroup* node : nodes) {
      presets.push_back({PresetKind::kNumaNode, node->processors & topology.online, node->id, 0});
    }
  }
  return presets;
}

}  // namespace platform
