#include "settings/settings_file.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "settings/text.h"

namespace {

constexpr int kSlotsAlwaysWritten = 100;

std::string SlotKey(int slot, const char* suffix) {
  char key[40];
  std::snprintf(key, sizeof key, "%03d%s", slot, suffix);
  return key;
}

constexpr char kPathSuffix[] = "_process_path";
constexpr char kMaskSuffix[] = "_affinity_mask";

// The slot number of a slot key, or 0 for any other key. Only the exact spelling the loader asks
// for counts ("0101_process_path" is not slot 101).
int SlotOfKey(const std::string& key) {
  std::size_t digits = 0;
  while (digits < key.size() && key[digits] >= '0' && key[digits] <= '9') ++digits;
  if (digits == 0 || digits > 9) return 0;
  std::string suffix = key.substr(digits);
  ToLowerAscii(suffix);
  if (suffix != kPathSuffix && suffix != kMaskSuffix) return 0;
  int slot = 0;
  for (std::size_t i = 0; i < digits; ++i) slot = slot * 10 + (key[i] - '0');
  if (slot <= 0 || SlotKey(slot, "") != key.substr(0, digits)) return 0;
  return slot;
}

// What one slot's writes came to, reported once the commit has told whether they reached the disk.
struct SlotReport {
  std::string line;         // the entry's "%03d : %s, %d" line; empty for a blanked slot
  bool pathRefused = false;
  bool maskRefused = false;
  bool pathQueued = false;
  bool maskQueued = false;
};

void LoadWatchList(WatchList& list, ProfileFile& file) {
  list.Clear();
  file.BeginBatch();  // one look at the file for all the reads
  char buffer[1024];
  for (int slot = 1; slot < INT_MAX; ++slot) {
    std::size_t length = file.Read(kSettingsSection, SlotKey(slot, kPathSuffix).c_str(), "", buffer, sizeof buffer);
    if (length == 0) break;
    WatchEntry entry;
    entry.exePath.assign(buffer, length);
    ToLowerAscii(entry.exePath);
    file.Read(kSettingsSection, SlotKey(slot, kMaskSuffix).c_str(), "", buffer, sizeof buffer);
    entry.affinityMask = ParseAffinityMask(buffer);
    list.Append(entry);
  }
  file.DiscardBatch();
}

void WriteSlot(ProfileFile& file, int slot, const char* path, AffinityMask mask, SlotReport& report) {
  char maskText[16];
  std::snprintf(maskText, sizeof maskText, "%d", static_cast<int>(static_cast<std::int32_t>(mask)));
  report.pathQueued = file.Write(kSettingsSection, SlotKey(slot, kPathSuffix).c_str(), path);
  report.pathRefused = !report.pathQueued;
  report.maskQueued = file.Write(kSettingsSection, SlotKey(slot, kMaskSuffix).c_str(), maskText);
  report.maskRefused = !report.maskQueued;
}

void SaveWatchList(const WatchList& list, ProfileFile& file, std::FILE* diag) {
  file.BeginBatch();
  std::vector<SlotReport> reports;
  reports.reserve(list.Count() + kSlotsAlwaysWritten);

  // Entries take the slots in list order. An entry whose path the file cannot hold gives up its
  // slot to the next one: a blank or partial slot would end the next load early and lose every
  // entry after it.
  int slot = 0;
  for (std::size_t i = 0; i < list.Count(); ++i) {
    const WatchEntry& entry = list.At(i);
    SlotReport& report = reports.emplace_back();
    char head[64];
    std::snprintf(head, sizeof head, "%03d : ", static_cast<int>(i + 1));
    char tail[24];
    std::snprintf(tail, sizeof tail, ", %d\n", static_cast<int>(static_cast<std::int32_t>(entry.affinityMask)));
    report.line = std::string(head) + entry.exePath + tail;

    if (entry.exePath.empty() || entry.exePath.find('\0') != std::string::npos) {
      report.pathRefused = true;
      continue;
    }
    report.pathQueued = file.Write(kSettingsSection, SlotKey(slot + 1, kPathSuffix).c_str(), entry.exePath.c_str());
    if (!report.pathQueued) {
      report.pathRefused = true;
      continue;
    }
    ++slot;
    char maskText[16];
    std::snprintf(maskText, sizeof maskText, "%d", static_cast<int>(static_cast<std::int32_t>(entry.affinityMask)));
    report.maskQueued = file.Write(kSettingsSection, SlotKey(slot, kMaskSuffix).c_str(), maskText);
    report.maskRefused = !report.maskQueued;
  }

  // Blank the rest of the first hundred slots, as every saved file has them, and every higher slot
  // an earlier, longer list left behind, so that no deleted entry comes back.
  int lastBlank = list.Count() > static_cast<std::size_t>(kSlotsAlwaysWritten) ? static_cast<int>(list.Count())
                                                                                : kSlotsAlwaysWritten;
  for (int n = slot + 1; n <= lastBlank; ++n) WriteSlot(file, n, "", 0, reports.emplace_back());
  std::vector<std::string> keys;
  file.ReadKeys(kSettingsSection, keys);
  std::set<int> stale;
  for (const std::string& key : keys) {
    int n = SlotOfKey(key);
    if (n > lastBlank) stale.insert(n);
  }
  for (int n : stale) WriteSlot(file, n, "", 0, reports.emplace_back());

  const bool committed = file.CommitBatch();
  if (diag == nullptr) return;
  for (const SlotReport& report : reports) {
    std::fputs(report.line.c_str(), diag);
    if (report.pathRefused || (report.pathQueued && !committed)) std::fputs(" failed. (process)\n", diag);
    if (report.maskRefused || (report.maskQueued && !committed)) std::fputs(" failed. (mask)\n", diag);
  }
}

}  // namespace

AffinityMask ParseAffinityMask(const char* text) {
  if (text == nullptr) return 0;
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  AffinityMask value = 0;  // unsigned, so it wraps modulo 2^32 by itself
  for (; *text >= '0' && *text <= '9'; ++text) value = value * 10u + static_cast<AffinityMask>(*text - '0');
  return negative ? 0u - value : value;
}

bool SerializeWatchList(WatchList& list, ProfileFile& file, bool save, std::FILE* diag) {
  if (save) {
    SaveWatchList(list, file, diag);
  } else {
    LoadWatchList(list, file);
  }
  return true;
}
