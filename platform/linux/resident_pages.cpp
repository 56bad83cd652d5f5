#include "platform/linux/resident_pages.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace platform {

namespace {

struct Mapping {
  PageRange range;
  bool candidate = false;  // from its header line: private, read-only, a file
  bool copies = false;     // private copies, in memory or swapped out
  bool locked = false;
  long rss = 0;
};

// "Anonymous:   12 kB" -> 12; -1 when the line is not that key.
long KilobytesOf(const char* line, const char* key) {
  const std::size_t length = std::strlen(key);
  if (std::strncmp(line, key, length) != 0 || line[length] != ':') return -1;
  return std::strtol(line + length + 1, nullptr, 10);
}

bool HasFlag(const char* flags, const char* flag) {
  for (const char* at = std::strstr(flags, flag); at != nullptr; at = std::strstr(at + 1, flag)) {
    const bool startsWord = at == flags || at[-1] == ' ';
    const char after = at[std::strlen(flag)];
    if (startsWord && (after == ' ' || after == '\0' || after == '\n')) return true;
  }
  return false;
}

}  // namespace

std::vector<PageRange> RereadableRanges(const std::string& smaps) {
  std::vector<PageRange> ranges;
  Mapping mapping;
  bool open = false;
  std::istringstream in(smaps);
  for (std::string text; std::getline(in, text);) {
    const char* line = text.c_str();
    unsigned long start = 0;
    unsigned long end = 0;
    char perms[8] = {};
    unsigned long long offset = 0;
    char device[32] = {};
    unsigned long long inode = 0;
    int consumed = 0;
    if (std::sscanf(line, "%lx-%lx %7s %llx %31s %llu %n", &start, &end, perms, &offset, device, &inode, &consumed) >=
            6 &&
        std::strlen(perms) == 4) {
      mapping = Mapping{};
      open = true;
      mapping.range = PageRange{start, end > start ? end - start : 0};
      const char* path = line + consumed;
      // A file's own pages: pseudo-files ([vdso], [heap]) and anonymous memory have none to go back to.
      mapping.candidate = perms[0] == 'r' && perms[1] != 'w' && perms[3] == 'p' && inode != 0 && path[0] == '/';
      continue;
    }
    if (!open) continue;
    long value = -1;
    if ((value = KilobytesOf(line, "Rss")) >= 0) {
      mapping.rss = value;
    } else if ((value = KilobytesOf(line, "Anonymous")) >= 0 || (value = KilobytesOf(line, "Swap")) >= 0) {
      // A private copy of a page (a relocation, say) exists nowhere else: dropping it would lose it.
      if (value > 0) mapping.copies = true;
    } else if ((value = KilobytesOf(line, "Locked")) >= 0) {
      if (value > 0) mapping.locked = true;
    } else if (std::strncmp(line, "VmFlags:", 8) == 0) {
      // The last line of a mapping: an unknown layout before it leaves the mapping alone.
      const char* flags = line + 8;
      const bool special = HasFlag(flags, "wr") || HasFlag(flags, "io") || HasFlag(flags, "pf") ||
                           HasFlag(flags, "lo") || HasFlag(flags, "ht");
      if (mapping.candidate && !mapping.copies && !mapping.locked && !special && mapping.rss > 0 &&
          mapping.range.length > 0) {
        ranges.push_back(mapping.range);
      }
      open = false;
    }
  }
  return ranges;
}

std::size_t ReleaseRereadablePages() {
  std::ifstream file("/proc/self/smaps");
  std::stringstream text;
  text << file.rdbuf();
  std::size_t released = 0;
  for (const PageRange& range : RereadableRanges(text.str())) {
    if (madvise(reinterpret_cast<void*>(range.start), range.length, MADV_DONTNEED) == 0) released += range.length / 1024;
  }
  malloc_trim(0);
  return released;
}

}  // namespace platform
