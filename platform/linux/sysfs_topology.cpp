#include "platform/linux/sysfs_topology.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <utility>

#include "platform/processor_set_text.h"

namespace platform {
namespace {

// sysfs files hold one page at most; anything longer is not what the reader expects.
constexpr std::size_t kMaxFileBytes = 16 * 1024;

std::string Join(const std::string& root, std::string_view relativePath) {
  std::string path = root;
  path += '/';
  path += relativePath;
  return path;
}

// The file's text without its line end. Only regular files are read, and without waiting, so a
// pipe or device in a recorded tree cannot block the reader.
bool ReadLine(const std::string& path, std::string& text) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return false;
  struct stat info {};
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  text.clear();
  char buffer[4096];
  while (ok) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > kMaxFileBytes) ok = false;
  }
  close(fd);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return ok;
}

// A decimal number, optionally negative, and nothing else.
bool ParseInt(std::string_view text, std::int64_t& value) {
  bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  if (text.empty() || text.size() > 12) return false;
  std::int64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  value = negative ? -n : n;
  return true;
}

bool ReadInt(const std::string& path, std::int64_t& value) {
  std::string text;
  return ReadLine(path, text) && ParseInt(text, value);
}

// A cache size as the kernel writes it ("32768K"); a bare number is bytes.
bool ParseCacheSize(std::string_view text, std::uint64_t& bytes) {
  std::uint64_t unit = 1;
  if (!text.empty()) {
    switch (text.back()) {
      case 'K': unit = std::uint64_t{1} << 10; break;
      case 'M': unit = std::uint64_t{1} << 20; break;
      case 'G': unit = std::uint64_t{1} << 30; break;
      default: break;
    }
    if (unit != 1) text.remove_suffix(1);
  }
  std::int64_t n = 0;
  if (!ParseInt(text, n) || n <= 0) return false;
  bytes = static_cast<std::uint64_t>(n) * unit;
  return true;
}

// The numbers of the entries of dir named prefix + digits, below limit.
std::vector<unsigned> NumberedEntries(const std::string& dir, std::string_view prefix, std::int64_t limit) {
  std::vector<unsigned> numbers;
  DIR* listing = opendir(dir.c_str());
  if (listing == nullptr) return numbers;
  while (const dirent* entry = readdir(listing)) {
    std::string_view name(entry->d_name);
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) continue;
    std::int64_t n = 0;
    name.remove_prefix(prefix.size());
    if (name[0] != '-' && ParseInt(name, n) && n < limit) numbers.push_back(static_cast<unsigned>(n));
  }
  closedir(listing);
  return numbers;
}

std::string CpuDir(const std::string& root, unsigned cpu) {
  return Join(root, "devices/system/cpu/cpu" + std::to_string(cpu));
}

}  // namespace

bool ReadSysfsCpuList(const std::string& sysfsRoot, std::string_view relativePath, ProcessorSet& out) {
  std::string text;
  if (!ReadLine(Join(sysfsRoot, relativePath), text)) return false;
  if (text.empty()) {
    out = {};
    return true;
  }
  return ParseCpuList(text, out);
}

ProcessorSet OnlineProcessors(const std::string& sysfsRoot) {
  ProcessorSet online;
  if (ReadSysfsCpuList(sysfsRoot, "devices/system/cpu/online", online) && !online.Empty()) return online;
  online = {};
  for (unsigned cpu : NumberedEntries(Join(sysfsRoot, "devices/system/cpu"), "cpu", ProcessorSet::kCapacity)) {
    online.Set(cpu);
  }
  return online;
}

Topology ReadSysfsTopology(const std::string& sysfsRoot) {
  Topology topology;
  topology.online = OnlineProcessors(sysfsRoot);
  const ProcessorSet& online = topology.online;

  ProcessorSet inCore;
  ProcessorSet inL3;
  std::map<std::pair<std::int64_t, std::int64_t>, ProcessorSet> coresById;  // (package, core_id)
  std::map<std::int64_t, ProcessorSet> packages;
  std::string text;
  for (int each = online.Lowest(); each >= 0; each = online.Next(static_cast<unsigned>(each) + 1)) {
    const auto cpu = static_cast<unsigned>(each);
    const std::string dir = CpuDir(sysfsRoot, cpu);
    LogicalProcessor& record = topology.processors.emplace_back();
    record.id = cpu;

    std::int64_t value = 0;
    if (ReadInt(dir + "/cpu_capacity", value) && value >= 0 && value <= INT32_MAX) {
      record.capacity = static_cast<int>(value);
    }
    std::int64_t package = -1;
    if (ReadInt(dir + "/topology/physical_package_id", package) && package >= 0) packages[package].Set(cpu);

    // Siblings named by an earlier processor's list need no reading of their own.
    if (!inCore.Test(cpu)) {
      ProcessorSet siblings;
      std::int64_t coreId = 0;
      if (ReadSysfsCpuList(dir, "topology/thread_siblings_list", siblings)) {
        siblings.Set(cpu);
        topology.cores.push_back(siblings);
        inCore |= siblings;
      } else if (package >= 0 && ReadInt(dir + "/topology/core_id", coreId)) {
        coresById[{package, coreId}].Set(cpu);
      }
    }

    if (!inL3.Test(cpu)) {
      std::int64_t level = 3;
      ProcessorSet shared;
      const bool isL3 = !ReadLine(dir + "/cache/index3/level", text) || (ParseInt(text, level) && level == 3);
      if (isL3 && ReadSysfsCpuList(dir, "cache/index3/shared_cpu_list", shared)) {
        CacheDomain& domain = topology.l3Domains.emplace_back();
        shared.Set(cpu);
        domain.processors = shared;
        if (ReadLine(dir + "/cache/index3/size", text)) ParseCacheSize(text, domain.bytes);
        inL3 |= shared;
      }
    }
  }
  for (auto& [key, core] : coresById) topology.cores.push_back(core);
  for (auto& [id, members] : packages) topology.packages.push_back({static_cast<int>(id), members});

  // Intel hybrid parts name their core types as two performance-monitoring devices.
  ProcessorSet performance;
  ProcessorSet efficiency;
  const bool named = ReadSysfsCpuList(sysfsRoot, "devices/cpu_core/cpus", performance);
  if (ReadSysfsCpuList(sysfsRoot, "devices/cpu_atom/cpus", efficiency) || named) {
    for (LogicalProcessor& record : topology.processors) {
      if (performance.Test(record.id)) {
        record.type = CoreType::kPerformance;
      } else if (efficiency.Test(record.id)) {
        record.type = CoreType::kEfficiency;
      }
    }
  }

  const std::string nodeDir = Join(sysfsRoot, "devices/system/node");
  for (unsigned node : NumberedEntries(nodeDir, "node", INT32_MAX)) {
    ProcessorSet members;
    if (ReadSysfsCpuList(nodeDir, "node" + std::to_string(node) + "/cpulist", members)) {
      topology.nodes.push_back({static_cast<int>(node), members});
    }
  }

  FinishTopology(topology);
  return topology;
}

}  // namespace platform
