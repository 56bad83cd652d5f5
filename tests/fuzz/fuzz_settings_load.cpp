// The settings load on arbitrary file contents: it never fails, every loaded path is a lower-cased
// path the list can hold, and a loaded list saved over the same file loads again as the same list,
// but for the paths the file cannot hold, which the save refuses and reports.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/linux/ini_file.h"
#include "settings/settings_file.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

// Runs the save with its diagnostic lines caught.
std::string Save(WatchList& list, platform::IniFile& file) {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* diag = open_memstream(&text, &size);
  FUZZ_CHECK(diag != nullptr);
  SerializeWatchList(list, file, true, diag, nullptr);
  std::fclose(diag);
  std::string lines(text, size);
  std::free(text);
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string content(reinterpret_cast<const char*>(data), size);
  const std::string path = fuzz::ScratchDir() + "/mavrin.ini";
  FUZZ_CHECK(fuzz::WriteBytes(path, content));

  platform::IniFile file(path);
  WatchList loaded;
  loaded.Append({"left over", 1});
  SerializeWatchList(loaded, file, false, nullptr, nullptr);

  WatchList storable;
  std::size_t refused = 0;
  for (const WatchEntry& entry : loaded) {
    FUZZ_CHECK(!entry.exePath.empty());
    FUZZ_CHECK(entry.exePath.size() <= kMaxPathBytes);
    FUZZ_CHECK(entry.exePath.find('\0') == std::string::npos);
    for (char c : entry.exePath) FUZZ_CHECK(!(c >= 'A' && c <= 'Z'));
    if (fuzz::HasLineBreak(entry.exePath)) {
      ++refused;
    } else {
      storable.Append(entry);
    }
  }

  const std::string lines = Save(loaded, file);
  FUZZ_CHECK(Count(lines, " failed. (process)\n") == refused);
  FUZZ_CHECK(Count(lines, " failed. (mask)\n") == 0);

  WatchList reloaded;
  SerializeWatchList(reloaded, file, false, nullptr, nullptr);
  FUZZ_CHECK(reloaded == storable);

  // Saved again, the file does not change any more.
  const std::string saved = fuzz::ReadBytes(path);
  Save(reloaded, file);
  FUZZ_CHECK(fuzz::ReadBytes(path) == saved);
  FUZZ_CHECK(fuzz::ScratchEntries() == 1);
  return 0;
}
