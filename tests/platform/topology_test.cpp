// Topology readers and presets: recorded sysfs trees of machines this one is not, damaged copies of
// them, this machine's own /sys, and Windows processor records built byte by byte.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/linux/cpu_set_buffer.h"
#include "platform/linux/sysfs_topology.h"
#include "platform/processor_set_text.h"
#include "platform/topology.h"
#include "platform/win32/processor_records.h"
#include "tests/engine/test_support.h"

namespace {

namespace fs = std::filesystem;
using platform::CoreType;
using platform::PresetKind;
using platform::ProcessorSet;

const std::string kTrees = MAVRIN_SYSFS_TREES;

// One line per preset: kind, its parameters, its processors.
std::string Describe(const std::vector<platform::ProcessorPreset>& presets) {
  std::string text;
  for (const auto& p : presets) {
    static const char* const kNames[] = {"all", "performance", "efficiency", "l3", "one-per-core", "node"};
    text += kNames[static_cast<int>(p.kind)];
    if (p.kind == PresetKind::kL3Domain)
      text += " #" + std::to_string(p.number) + " " + std::to_string(p.cacheBytes >> 10) + "K";
    if (p.kind == PresetKind::kNumaNode) text += " " + std::to_string(p.number);
    text += " " + platform::FormatCpuList(p.processors) + "\n";
  }
  return text;
}

std::string PresetsOf(const std::string& root) {
  return Describe(platform::TopologyPresets(platform::ReadSysfsTopology(root)));
}

TEST(SysfsTopology, PresetsOfRecordedMachines) {
  EXPECT_EQ(PresetsOf(kTrees + "/intel_8p16e"),
            "all 0-31\nperformance 0-15\nefficiency 16-31\none-per-core 0,2,4,6,8,10,12,14,16-31\n");
  EXPECT_EQ(PresetsOf(kTrees + "/amd_x3d"),
            "all 0-31\nl3 #0 98304K 0-7,16-23\nl3 #1 32768K 8-15,24-31\none-per-core 0-15\n");
  EXPECT_EQ(PresetsOf(kTrees + "/server_2s128"),
            "all 0-127\nl3 #0 61440K 0-31,64-95\nl3 #1 61440K 32-63,96-127\none-per-core 0-63\n"
            "node 0 0-7,64-71\nnode 1 8-15,72-79\nnode 2 16-23,80-87\nnode 3 24-31,88-95\n"
            "node 4 32-39,96-103\nnode 5 40-47,104-111\nnode 6 48-55,112-119\nnode 7 56-63,120-127\n");
  EXPECT_EQ(PresetsOf(kTrees + "/arm_4x4"), "all 0-7\nperformance 4-7\nefficiency 0-3\n");
  EXPECT_EQ(PresetsOf(kTrees + "/vm_2cpu"), "all 0-1\n");
}

TEST(SysfsTopology, DescribesEachProcessor) {
  const platform::Topology server = platform::ReadSysfsTopology(kTrees + "/server_2s128");
  ASSERT_EQ(server.processors.size(), 128u);
  EXPECT_EQ(server.cores.size(), 64u);
  const platform::LogicalProcessor* cpu = server.Find(100);
  ASSERT_NE(cpu, nullptr);
  EXPECT_EQ(server.cores[static_cast<std::size_t>(cpu->core)], (ProcessorSet{36, 100}));
  EXPECT_EQ(cpu->l3, 1);
  EXPECT_EQ(cpu->node, 4);
  EXPECT_EQ(cpu->package, 1);
  EXPECT_EQ(server.packages.size(), 2u);

  const platform::Topology arm = platform::ReadSysfsTopology(kTrees + "/arm_4x4");
  EXPECT_EQ(arm.Find(5)->capacity, 1024);
  EXPECT_EQ(arm.Find(5)->type, CoreType::kPerformance);
  EXPECT_EQ(arm.Find(5)->node, -1);
  EXPECT_EQ(arm.Find(8), nullptr);
  EXPECT_EQ(platform::PossibleCpuSetBytes(kTrees + "/server_2s128"), CPU_ALLOC_SIZE(128));
  EXPECT_EQ(platform::PossibleCpuSetBytes(kTrees + "/missing"), CPU_ALLOC_SIZE(1024));
}

class DamagedTree : public testing::Test {
 protected:
  void SetUp() override {
    root = scratch.path() / "sys";
    fs::copy(kTrees + "/amd_x3d", root, fs::copy_options::recursive);
  }
  void Write(const std::string& relative, const std::string& text) {
    const fs::path file = root / relative;
    fs::create_directories(file.parent_path());
    fs::remove(file);
    std::ofstream(file) << text;
  }
  std::string Cpu(int n, const std::string& file) { return "devices/system/cpu/cpu" + std::to_string(n) + "/" + file; }

  enginetest::ScratchDirectory scratch;
  fs::path root;
};

TEST_F(DamagedTree, BadFilesLeaveOutTheirPartOnly) {
  Write("devices/system/cpu/online", "0-31,x\n");
  Write(Cpu(0, "topology/thread_siblings_list"), "zero\n");
  Write(Cpu(0, "cache/index3/shared_cpu_list"), "1-7,16-23\n");  // leaves out its own processor
  Write(Cpu(8, "cache/index3/shared_cpu_list"), "8-15,24-31,2000\n");
  Write(Cpu(9, "cache/index3/size"), "lots\n");
  Write(Cpu(3, "cpu_capacity"), "-7\n");
  Write("devices/system/node/node1/cpulist", "garbage\n");
  Write("devices/system/node/node2/cpulist", "\n");  // a node with memory only
  fs::create_directories(root / "devices/cpu_core/cpus");
  const fs::path fifo = root / Cpu(5, "topology/physical_package_id");
  fs::remove(fifo);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);  // would block a reader that waits for a writer

  const platform::Topology topology = platform::ReadSysfsTopology(root.string());
  // The cpuN folders stand in for the online list; cpu 0's core, cpu 8's cache come from their
  // siblings; only the size of the second cache is lost.
  EXPECT_EQ(Describe(platform::TopologyPresets(topology)),
            "all 0-31\nl3 #0 98304K 0-7,16-23\nl3 #1 0K 8-15,24-31\none-per-core 0-15\n");
  EXPECT_EQ(topology.cores.size(), 16u);
  EXPECT_EQ(topology.Find(5)->package, -1);
  EXPECT_EQ(topology.Find(6)->package, 0);
}

TEST_F(DamagedTree, MissingPiecesGiveAPartialDescription) {
  Write("devices/system/cpu/online", std::string(20000, '0') + "\n");  // longer than any sysfs file
  for (int cpu = 0; cpu < 32; ++cpu) {
    fs::remove(root / Cpu(cpu, "topology/thread_siblings_list"));
    fs::remove_all(root / Cpu(cpu, "cache"));
  }
  fs::remove_all(root / "devices/system/cpu/cpu31");
  const platform::Topology topology = platform::ReadSysfsTopology(root.string());
  // The cpuN folders name the processors, package and core ids the cores.
  EXPECT_EQ(topology.online, ProcessorSet::FirstN(31));
  EXPECT_EQ(topology.cores.size(), 16u);
  EXPECT_EQ(topology.cores[15], ProcessorSet{15});
  EXPECT_EQ(Describe(platform::TopologyPresets(topology)), "all 0-30\none-per-core 0-15\n");

  EXPECT_TRUE(platform::ReadSysfsTopology((scratch.path() / "nothing").string()).online.Empty());
  EXPECT_TRUE(platform::TopologyPresets(platform::ReadSysfsTopology((scratch.path() / "nothing").string())).empty());
}

TEST(SysfsTopology, ThisMachine) {
  const platform::Topology topology = platform::ReadSysfsTopology();
  EXPECT_EQ(topology.online.Count(), static_cast<unsigned>(sysconf(_SC_NPROCESSORS_ONLN)));
  for (const auto& cpu : topology.processors) EXPECT_GE(cpu.core, 0) << cpu.id;
  const auto presets = platform::TopologyPresets(topology);
  ASSERT_FALSE(presets.empty());
  EXPECT_EQ(presets[0].processors, topology.online);

  // The buffer sized for the possible processors is one the kernel accepts, both ways.
  const std::size_t bytes = platform::PossibleCpuSetBytes();
  std::vector<unsigned char> storage(bytes);
  auto* buffer = reinterpret_cast<cpu_set_t*>(storage.data());
  ASSERT_EQ(sched_getaffinity(0, bytes, buffer), 0);
  const ProcessorSet own = platform::LoadCpuSet(buffer, bytes);
  EXPECT_TRUE(topology.online.Contains(own));
  ASSERT_TRUE(platform::StoreCpuSet(own, buffer, bytes));
  EXPECT_EQ(sched_setaffinity(0, bytes, buffer), 0);
}

// GetLogicalProcessorInformationEx output, little-endian, at the documented offsets.
class Records {
 public:
  std::size_t Add(std::uint32_t relationship, std::size_t bodyBytes) {
    const std::size_t at = bytes.size();
    bytes.resize(at + platform::records::kBody + bodyBytes);
    Put(at, relationship, 4);
    Put(at + 4, platform::records::kBody + bodyBytes, 4);
    return at + platform::records::kBody;
  }
  void Put(std::size_t at, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
  }
  void Affinity(std::size_t at, std::uint64_t mask, unsigned group) {
    Put(at, mask, 8);
    Put(at + 8, group, 2);
  }
  void Core(std::uint64_t mask, unsigned group, int efficiencyClass) {
    const std::size_t body = Add(platform::records::kProcessorCore, 40);
    Put(body + 1, static_cast<std::uint64_t>(efficiencyClass), 1);
    Put(body + 22, 1, 2);
    Affinity(body + 24, mask, group);
  }
  std::vector<unsigned char> bytes;
};

TEST(WindowsProcessorRecords, DescribeTheOwnGroupOnly) {
  namespace r = platform::records;
  Records records;
  const std::size_t groups = records.Add(r::kGroup, 24 + 2 * 48);
  records.Put(groups + 2, 2, 2);
  records.Put(groups + 24 + 40, 0xF, 8);
  records.Put(groups + 24 + 48 + 40, 0xFF, 8);
  for (unsigned cpu = 0; cpu < 4; ++cpu) records.Core(1u << cpu, 0, 0);
  records.Core(0x3, 1, 1);  // two performance cores with two threads each
  records.Core(0xC, 1, 1);
  for (unsigned cpu = 4; cpu < 8; ++cpu) records.Core(1u << cpu, 1, 0);
  const std::size_t cache = records.Add(r::kCache, 48);
  records.Put(cache, 3, 1);
  records.Put(cache + 4, 30u << 20, 4);
  records.Affinity(cache + 32, 0xFF, 1);
  for (unsigned node = 0; node < 2; ++node) {  // node 0 spans both groups
    const std::size_t body = records.Add(r::kNumaNode, 24 + 2 * 16);
    records.Put(body, node, 4);
    records.Put(body + 22, node == 0 ? 2 : 1, 2);
    records.Affinity(body + 24, node == 0 ? 0xF : 0xF0, node == 0 ? 0 : 1);
    records.Affinity(body + 40, 0xF, 1);
  }
  const std::string expected =
      "all 0-7\nperformance 0-3\nefficiency 4-7\none-per-core 0,2,4-7\nnode 0 0-3\nnode 1 4-7\n";
  auto presets = [&](std::size_t bytes) {
    return Describe(platform::TopologyPresets(platform::TopologyFromProcessorRecords(records.bytes.data(), bytes, 1)));
  };
  EXPECT_EQ(presets(records.bytes.size()), expected);
  EXPECT_EQ(platform::TopologyFromProcessorRecords(records.bytes.data(), records.bytes.size(), 1).l3Domains[0].bytes,
            30u << 20);

  // A record cut short or claiming too much ends the decoding; what came before stays.
  EXPECT_EQ(presets(records.bytes.size() - 1), "all 0-7\nperformance 0-3\nefficiency 4-7\none-per-core 0,2,4-7\n");
  records.Put(groups - r::kBody + 4, 0, 4);
  EXPECT_EQ(presets(records.bytes.size()), "");
  records.Put(groups - r::kBody + 4, 1u << 30, 4);
  EXPECT_EQ(presets(records.bytes.size()), "");
}

TEST(Topology, CapacityClassesMakeCoreTypes) {
  auto typesOf = [](std::vector<int> capacities) {
    platform::Topology topology;
    topology.online = ProcessorSet::FirstN(static_cast<unsigned>(capacities.size()));
    for (unsigned cpu = 0; cpu < capacities.size(); ++cpu) {
      platform::LogicalProcessor& record = topology.processors.emplace_back();
      record.id = cpu;
      record.capacity = capacities[cpu];
    }
    platform::FinishTopology(topology);
    std::string types;
    for (const auto& p : topology.processors) types += "?PE"[static_cast<int>(p.type)];
    return types;
  };
  EXPECT_EQ(typesOf({1024, 1010, 870, 325, 330, -1}), "PPPEE?");
  EXPECT_EQ(typesOf({1024, 980, 1000}), "???");  // favoured cores of one kind
  EXPECT_EQ(typesOf({1, 0, 0}), "PEE");          // Windows efficiency classes
}

}  // namespace
