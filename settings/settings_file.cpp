#include "settings/settings_file.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "platform/processor_set_text.h"

namespace {

constexpr int kSlotsAlwaysWritten = 100;

std::string SlotKey(int slot, const char* suffix) {
  char key[40];
  std::snprintf(key, sizeof key, "%03d%s", slot, suffix);
  return key;
}

constexpr char kPathSuffix[] = "_process_path";
constexpr char kMaskSuffix[] = "_affinity_mask";
constexpr char kCpusSuffix[] = "_affinity_cpus";
// Room for the list of every processor a set can hold, one by one.
constexpr std::size_t kCpuListBytes = 8192;

// The slot number of a slot key, or 0 for any other key. Only the exact spelling the loader asks
// for counts ("0101_process_path" is not slot 101).
int SlotOfKey(const std::string& key) {
  std::size_t digits = 0;
  while (digits < key.size() && key[digits] >= '0' && key[digits] <= '9') ++digits;
  if (digits == 0 || digits > 9) return 0;
  std::string suffix = key.substr(digits);
  ToLowerAscii(suffix);
  if (suffix != kPathSuffix && suffix != kMaskSuffix && suffix != kCpusSuffix) return 0;
  int slot = 0;
  for (std::size_t i = 0; i < digits; ++i) slot = slot * 10 + (key[i] - '0');
  if (slot <= 0 || SlotKey(slot, "") != key.substr(0, digits)) return 0;
  return slot;
}

// Every slot the section has a key of, ascending; with listed, those that have a processor list key.
std::vector<int> SlotsOf(ProfileFile& file, std::set<int>* listed = nullptr) {
  std::vector<std::string> keys;
  file.ReadKeys(kSettingsSection, keys);
  std::vector<int> slots;
  slots.reserve(keys.size() / 2 + 1);
  for (const std::string& key : keys) {
    const int slot = SlotOfKey(key);
    if (slot == 0) continue;
    slots.push_back(slot);
    if (listed != nullptr && key.size() > sizeof kCpusSuffix - 1) {
      std::string suffix = key.substr(key.size() - (sizeof kCpusSuffix - 1));
      ToLowerAscii(suffix);
      if (suffix == kCpusSuffix) listed->insert(slot);
    }
  }
  std::sort(slots.begin(), slots.end());
  slots.erase(std::unique(slots.begin(), slots.end()), slots.end());
  return slots;
}

// A text from the file inside a one-line message: control bytes as \xNN, at most `room` bytes.
std::string Quoted(const std::string& text, std::size_t room) {
  const std::string shown = EscapeControlBytes(CutToBytes(text, room));
  return text.size() > room ? shown + "..." : shown;
}

enum class SlotState { kEmpty, kEntry, kUnholdable };

// One slot as the loader takes it. kUnholdable: a value the list could not hold as written, so the
// slot is neither watched nor ever written over; `why` says what is wrong.
class SlotReader {
 public:
  explicit SlotReader(ProfileFile& file)
      : file_(file), path_(kMaxPathBytes + 2, '\0'), cpus_(kCpuListBytes + 2, '\0') {}

  // listWhy: why the slot's processor list was passed over for its mask, empty when it was not.
  SlotState Read(int slot, WatchEntry& entry, std::string& why, std::string& listWhy) {
    listWhy.clear();
    const std::size_t length =
        file_.Read(kSettingsSection, SlotKey(slot, kPathSuffix).c_str(), "", path_.data(), path_.size());
    if (length == 0) return SlotState::kEmpty;
    entry.exePath.assign(path_.data(), length);
    if (length > kMaxPathBytes) {
      why = "its path is longer than " + std::to_string(kMaxPathBytes) + " bytes";
      return SlotState::kUnholdable;
    }
    ToLowerAscii(entry.exePath);
    // A valid list of processors holds the whole set and wins; the mask is what older programs
    // wrote and read.
    const std::size_t listLength =
        file_.Read(kSettingsSection, SlotKey(slot, kCpusSuffix).c_str(), "", cpus_.data(), cpus_.size());
    if (listLength > 0) {
      const std::string list(cpus_.data(), listLength);
      std::string reason;
      if (listLength <= kCpuListBytes && platform::ParseCpuList(Trimmed(list), entry.affinityMask, &reason)) {
        return SlotState::kEntry;
      }
      if (reason.empty()) reason = "longer than " + std::to_string(kCpuListBytes) + " bytes";
      listWhy = "its processor list \"" + Quoted(list, 60) + "\" is not valid (" + reason + ")";
    }
    char mask[64];
    const std::size_t maskLength =
        file_.Read(kSettingsSection, SlotKey(slot, kMaskSuffix).c_str(), "", mask, sizeof mask);
    AffinityMask bits = 0;
    if (maskLength + 1 >= sizeof mask || !ParseAffinityMask(mask, bits)) {
      why =
          "its mask \"" + Quoted(std::string(mask, maskLength), 40) + "\" is no number from -2147483648 to 4294967295";
      if (!listWhy.empty()) why = listWhy + ", and " + why;
      listWhy.clear();
      return SlotState::kUnholdable;
    }
    entry.affinityMask = bits;
    return SlotState::kEntry;
  }

 private:
  // The list without the blanks a hand edit may leave around it.
  static std::string_view Trimmed(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
  }

  ProfileFile& file_;
  std::string path_;
  std::string cpus_;
};

// Visits the slots a load takes, in slot order: every one up to slot 100, gaps or not; above it
// only those that go on without an empty slot, because older saves blanked only the first hundred
// and left the deleted entries of a longer list behind above an empty slot there.
template <class Visit>
void ForEachSlot(ProfileFile& file, Visit visit) {
  SlotReader reader(file);
  WatchEntry entry;
  std::string why;
  std::string listWhy;
  int next = kSlotsAlwaysWritten + 1;
  for (int slot : SlotsOf(file)) {
    if (slot > kSlotsAlwaysWritten && slot != next) break;
    const SlotState state = reader.Read(slot, entry, why, listWhy);
    if (slot > kSlotsAlwaysWritten) {
      if (state == SlotState::kEmpty) break;
      next = slot + 1;
    }
    visit(slot, state, entry, why, listWhy);
  }
}

// What one entry's writes came to, reported once the commit has told whether they reached the disk.
struct EntryReport {
  std::string line;  // the entry's "%03d : %s, %d" line
  bool pathRefused = false;
  bool maskRefused = false;
  bool pathQueued = false;
  bool maskQueued = false;
};

// The mask key's value: the lowest 32 processors as a signed number, as the file always held it.
std::string MaskText(const platform::ProcessorSet& set) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", static_cast<int>(static_cast<std::int32_t>(set.Low32())));
  return text;
}

bool WriteBlankSlot(ProfileFile& file, int slot, const std::set<int>& listed) {
  const bool path = file.Write(kSettingsSection, SlotKey(slot, kPathSuffix).c_str(), "");
  const bool mask = file.Write(kSettingsSection, SlotKey(slot, kMaskSuffix).c_str(), "0");
  // A list left there would come back with the next entry to take the slot.
  const bool cpus = listed.count(slot) == 0 || file.Write(kSettingsSection, SlotKey(slot, kCpusSuffix).c_str(), "");
  return path && mask && cpus;
}

}  // namespace

bool ParseAffinityMask(const char* text, AffinityMask& mask) {
  if (text == nullptr) return false;
  auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (blank(*text)) ++text;
  if (*text == '\0') {  // no value at all, as for a missing key
    mask = 0;
    return true;
  }
  const bool negative = *text == '-';
  if (*text == '+' || *text == '-') ++text;
  if (*text < '0' || *text > '9') return false;
  std::uint64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10u + static_cast<std::uint64_t>(*text - '0');
    if (value > 0xFFFFFFFFull) return false;
  }
  while (blank(*text)) ++text;
  if (*text != '\0' || (negative && value > 0x80000000ull)) return false;
  mask = negative ? 0u - static_cast<AffinityMask>(value) : static_cast<AffinityMask>(value);
  return true;
}

void ReadWatchList(WatchList& list, ProfileFile& file, std::FILE* errors) {
  list.Clear();
  ForEachSlot(file, [&](int slot, SlotState state, const WatchEntry& entry, const std::string& why,
                        const std::string& listWhy) {
    if (!listWhy.empty() && state == SlotState::kEntry && errors != nullptr) {
      std::fprintf(errors, "mavrin: %s: slot %03d (%s): %s, so its mask is used\n", file.Path().c_str(), slot,
                   Quoted(entry.exePath, 80).c_str(), listWhy.c_str());
    }
    if (state == SlotState::kEntry) {
      list.Append(entry);
    } else if (state == SlotState::kUnholdable && errors != nullptr) {
      std::fprintf(errors, "mavrin: %s: slot %03d (%s) is not watched and stays as it is: %s\n", file.Path().c_str(),
                   slot, Quoted(entry.exePath, 80).c_str(), why.c_str());
    }
  });
}

bool WriteWatchList(const WatchList& list, ProfileFile& file, std::FILE* diag, std::FILE* errors) {
  // A file that cannot be read is never written over: what we could not read would be lost.
  const bool readable = file.BeginBatch();
  // The slots a load leaves out keep what the user wrote there; everything else is ours.
  std::set<int> kept;
  ForEachSlot(file, [&kept](int slot, SlotState state, const WatchEntry&, const std::string&, const std::string&) {
    if (state == SlotState::kUnholdable) kept.insert(slot);
  });
  std::set<int> listed;
  SlotsOf(file, &listed);
  auto nextSlot = [&kept](int slot) {
    do ++slot;
    while (kept.count(slot) != 0);
    return slot;
  };

  // Entries take the free slots in list order. An entry whose path the file cannot hold gives up
  // its slot to the next one, so that no slot is left partly written.
  std::vector<EntryReport> reports;
  reports.reserve(list.Count());
  int slot = 0;
  for (std::size_t i = 0; i < list.Count(); ++i) {
    const WatchEntry& entry = list.At(i);
    EntryReport& report = reports.emplace_back();
    char head[64];
    std::snprintf(head, sizeof head, "%03d : ", static_cast<int>(i + 1));
    const bool wide = !entry.affinityMask.FitsIn32();
    report.line = std::string(head) + entry.exePath + ", " +
                  (wide ? platform::FormatCpuList(entry.affinityMask) : MaskText(entry.affinityMask)) + "\n";
    if (entry.exePath.empty() || entry.exePath.find('\0') != std::string::npos) {
      report.pathRefused = true;
      continue;
    }
    const int candidate = nextSlot(slot);
    report.pathQueued = file.Write(kSettingsSection, SlotKey(candidate, kPathSuffix).c_str(), entry.exePath.c_str());
    if (!report.pathQueued) {
      report.pathRefused = true;
      continue;
    }
    slot = candidate;
    report.maskQueued =
        file.Write(kSettingsSection, SlotKey(slot, kMaskSuffix).c_str(), MaskText(entry.affinityMask).c_str());
    if (report.maskQueued && (wide || listed.count(slot) != 0)) {
      const std::string cpuList = wide ? platform::FormatCpuList(entry.affinityMask) : std::string();
      report.maskQueued = file.Write(kSettingsSection, SlotKey(slot, kCpusSuffix).c_str(), cpuList.c_str());
    }
    report.maskRefused = !report.maskQueued;
  }

  // Blank the rest of the first hundred slots, as every saved file has them, and every higher slot
  // an earlier, longer list left behind, so that no deleted entry comes back.
  const int lastBlank = std::max(slot, kSlotsAlwaysWritten);
  for (int n = nextSlot(slot); n <= lastBlank; n = nextSlot(n)) WriteBlankSlot(file, n, listed);
  for (int n : SlotsOf(file)) {
    if (n > lastBlank && kept.count(n) == 0) WriteBlankSlot(file, n, listed);
  }

  const bool committed = file.CommitBatch() && readable;
  if (diag != nullptr) {
    for (const EntryReport& report : reports) {
      std::fputs(report.line.c_str(), diag);
      if (report.pathRefused || (report.pathQueued && !committed)) std::fputs(" failed. (process)\n", diag);
      if (report.maskRefused || (report.maskQueued && !committed)) std::fputs(" failed. (mask)\n", diag);
    }
  }
  if (!committed && errors != nullptr) {
    const std::string why = readable ? file.LastError() : "it cannot be read: " + file.LastError();
    std::fprintf(errors, "mavrin: the watch list could not be saved to %s%s%s%s; the file keeps what it held\n",
                 file.Path().c_str(), why.empty() ? "" : " (", why.c_str(), why.empty() ? "" : ")");
    std::fflush(errors);
  }
  return committed;
}

bool SerializeWatchList(WatchList& list, ProfileFile& file, bool save, std::FILE* diag, std::FILE* errors) {
  if (save) return WriteWatchList(list, file, diag, errors);
  const bool readable = file.BeginBatch();  // one look at the file for all the reads
  ReadWatchList(list, file, errors);
  file.DiscardBatch();
  return readable;
}
