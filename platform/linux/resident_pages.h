#pragma once
// Giving back the pages of files the program mapped, read at start-up and no longer uses. The
// program wakes every second for as long as the session lasts, and on a virtualised host each
// wake costs in proportion to the pages the process has mapped: start-up leaves some ten
// megabytes of the desktop libraries mapped that the loop never touches again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct PageRange {
  std::uintptr_t start = 0;
  std::size_t length = 0;
};

// The ranges of a /proc/PID/smaps text whose pages can be dropped and read back from their file
// unchanged: private, read-only mappings of files, none of whose pages is a private copy (in
// memory or swapped out), and no locked, I/O or raw page ranges.
std::vector<PageRange> RereadableRanges(const std::string& smaps);

// Drops this process's mapped pages of those ranges (they come back from the file when next
// touched) and returns unused heap to the system. The number of kilobytes that were mapped.
std::size_t ReleaseRereadablePages();

}  // namespace platform
