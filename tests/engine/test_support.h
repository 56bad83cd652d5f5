#pragma once
// Shared pieces of the engine tests: a message box double, captured output, a scratch directory,
// and the parts of an observation cycle.
#include <gmock/gmock.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/activity_log.h"
#include "engine/observation_cycle.h"
#include "engine/system_snapshot.h"
#include "framework/message_box.h"
#include "settings/watch_list.h"
#include "tests/support/captured_stream.h"

namespace enginetest {

using ::CapturedStream;

struct ShownBox {
  framework::OwnerWindow owner;
  std::string text;
  bool hasCaption;
  unsigned type;
};

class RecordingMessageBoxes final : public framework::IMessageBoxes {
 public:
  int ShowMessageBox(framework::OwnerWindow owner, const std::string& text, const char* caption,
                     unsigned type) override {
    shown.push_back(ShownBox{owner, text, caption != nullptr, type});
    return IDOK;
  }
  std::vector<ShownBox> shown;
};

class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "mavrin-engine-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// What one observation cycle works with, over the fake system or the real one: its snapshot, the
// watch list, and the log, written into a scratch directory and echoed to a captured console.
template <class System, class Boxes = RecordingMessageBoxes>
class CycleFixture : public testing::Test {
 protected:
  template <class... SystemArguments>
  explicit CycleFixture(SystemArguments&&... arguments) : system(std::forward<SystemArguments>(arguments)...) {}

  void Watch(const std::string& path, const platform::ProcessorSet& mask) { watchList.Append(WatchEntry{path, mask}); }
  void Tick() { RunObservationCycle(watchList, snapshot, quickChanged, log, out.get()); }
  std::vector<std::string> LogLines() const { return Lines(ReadFile(logPath)); }

  // Declared first so that it is removed last, after everything that may write into it.
  ScratchDirectory scratch;
  System system;
  Boxes boxes;
  SystemSnapshot snapshot{system, boxes};
  WatchList watchList;
  QuickChangedPaths quickChanged;
  std::filesystem::path logPath = scratch.path() / "mavrin.log";
  CapturedStream out;
  ActivityLog log{system, logPath.string(), out.get()};
};

}  // namespace enginetest
