// The texts built from paths, titles and masks: tray-menu items, the editing commands' questions,
// log records and the byte cut. Any path and any mask: no crash, no read past a buffer, a name is
// never taken as a format, every cut stays within its limit and keeps what fits, and a log record
// is always exactly one line.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "app/tray_menu_text.h"
#include "base/text.h"
#include "engine/activity_log.h"
#include "settings/watch_list_editing.h"
#include "tests/fuzz/fuzz_support.h"
#include "ui/cpu_boxes.h"

namespace {

using fuzz::Reader;

bool IsValidUtf8(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t width = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (width == 0 || i + width > text.size()) return false;
    for (std::size_t k = 1; k < width; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += width;
  }
  return true;
}

bool IsPrefix(const std::string& part, const std::string& whole) { return whole.compare(0, part.size(), part) == 0; }

// A cut keeps at most max bytes, is the start of the text, splits no character of valid text, and
// gives up no more than the bytes of the one character that did not fit.
void CheckCut(const std::string& text, std::size_t max) {
  const std::string cut = CutToBytes(text, max);
  FUZZ_CHECK(cut.size() <= max);
  FUZZ_CHECK(IsPrefix(cut, text));
  if (text.size() <= max) FUZZ_CHECK(cut == text);
  if (text.size() > max) FUZZ_CHECK(cut.size() + 3 >= max);
  if (IsValidUtf8(text)) FUZZ_CHECK(IsValidUtf8(cut));
}

class YesBoxes : public framework::IMessageBoxes {
 public:
  int ShowMessageBox(framework::OwnerWindow, const std::string& text, const char*, unsigned type) override {
    texts.push_back(text);
    return type == MB_YESNO ? IDYES : IDOK;
  }
  std::vector<std::string> texts;
};

class FixedClock : public platform::IClock {
 public:
  std::tm LocalNow() override {
    std::tm t{};
    t.tm_year = 124;
    t.tm_mon = 2;
    t.tm_mday = 5;
    t.tm_hour = 9;
    t.tm_min = 7;
    t.tm_sec = 2;
    return t;
  }
};

void CheckTrayTexts(Reader& in, const std::string& name) {
  const std::size_t index = in.Word() % 5000;
  const AffinityMask mask = in.Word();
  const unsigned processors = in.Byte() % 65;
  const int cpuCount = static_cast<int>(in.Word());

  char number[16];
  std::snprintf(number, sizeof number, "%2d : ", static_cast<int>(index + 1));
  const std::string full = number + name + "\t" + FormatCpuDisplay(cpuCount, mask, processors);
  const std::string item = TrayItemText(index, name, cpuCount, mask, processors);
  FUZZ_CHECK(item.size() <= kTrayItemTextBytes);
  FUZZ_CHECK(IsPrefix(item, full));
  if (full.size() <= kTrayItemTextBytes) FUZZ_CHECK(item == full);

  const std::string titleOnly = TrayTitleOnlyItemText(index, name);
  FUZZ_CHECK(titleOnly.size() <= kTrayItemTextBytes && IsPrefix(titleOnly, number + name));
  const std::string title = TrayWindowTitle(name);
  FUZZ_CHECK(title.size() <= kTrayTitleBytes && IsPrefix(title, name));

  const std::string pattern = FormatCpuPattern(mask, processors);
  FUZZ_CHECK(pattern.size() == processors);
  int set = 0;
  for (unsigned k = 0; k < processors; ++k) {
    FUZZ_CHECK(pattern[k] == (k < 32 && ((mask >> k) & 1u) ? 'o' : '-'));
    set += pattern[k] == 'o';
  }
  FUZZ_CHECK(CountCpus(mask, processors) == set);
  // Up to 16 processors the pattern; above, the list of the processors among them.
  const std::string shown =
      processors <= 16
          ? pattern
          : platform::FormatCpuList(platform::ProcessorSet(mask) & platform::ProcessorSet::FirstN(processors));
  FUZZ_CHECK(FormatCpuDisplay(mask, processors) == std::to_string(set) + " [" + shown + "]");
}

void CheckEditingTexts(Reader& in, const std::string& path) {
  WatchList list;
  YesBoxes boxes;
  const unsigned processors = in.Byte() % 40;
  WatchListEditing editing{list, boxes, [processors] { return processors; }, {}};
  const WatchEntry candidate{path, in.Word()};

  FUZZ_CHECK(AddOrUpdateWatchEntry(editing, candidate));
  FUZZ_CHECK(list.Count() == 1 && list[0] == candidate);
  FUZZ_CHECK(!boxes.texts.empty() && boxes.texts[0].find("\n  " + path + "\n") != std::string::npos);
  FUZZ_CHECK(boxes.texts[0].find(ProcessorLines(candidate.affinityMask, processors)) != std::string::npos);

  const WatchEntry overwrite{path, in.Word()};
  boxes.texts.clear();
  FUZZ_CHECK(AddOrUpdateWatchEntry(editing, overwrite));
  FUZZ_CHECK(list.Count() == 1 && list[0] == overwrite);
  FUZZ_CHECK(boxes.texts[0].find("\n  " + path + "\n") != std::string::npos);

  boxes.texts.clear();
  FUZZ_CHECK(DeleteWatchEntry(0, editing));
  FUZZ_CHECK(list.Empty());
  FUZZ_CHECK(boxes.texts.size() == 1 && boxes.texts[0].size() >= path.size() &&
             boxes.texts[0].compare(boxes.texts[0].size() - path.size(), path.size(), path) == 0);
  FUZZ_CHECK(!DeleteWatchEntry(0, editing) && !DeleteWatchEntry(-1, editing));

  // One line per processor up to 16; above, one per run of equal state, which a 32-bit mask on at
  // most 40 processors never has more of than fit.
  const std::uint32_t mask = in.Word();
  const std::string lines = ProcessorLines(mask, processors);
  std::size_t count = 0;
  for (char c : lines) count += c == '\n';
  std::size_t runs = 0;
  for (unsigned k = 0; k < processors; ++k) {
    const bool on = k < 32 && ((mask >> k) & 1u) != 0;
    const bool before = k > 0 && k - 1 < 32 && ((mask >> (k - 1)) & 1u) != 0;
    runs += k == 0 || on != before;
  }
  FUZZ_CHECK(count == (processors <= 16 ? processors : runs) || (processors > 16 && runs > platform::kMaxRunLines));
}

// One record is one line: the stamp, the text, the escaped path in quotes, one line end.
void CheckLogRecord(Reader& in, const std::string& path) {
  const std::string logPath = fuzz::ScratchDir() + "/mavrin.log";
  std::remove(logPath.c_str());
  char* echoed = nullptr;
  std::size_t echoedSize = 0;
  std::FILE* console = open_memstream(&echoed, &echoedSize);
  FUZZ_CHECK(console != nullptr);
  FixedClock clock;
  ActivityLog log(clock, logPath, console);
  const AffinityMask mask = in.Word();
  FUZZ_CHECK(log.RecordChange(mask, path));
  FUZZ_CHECK(log.RecordFailure(in.Word(), mask, path));
  std::fclose(console);
  const std::string echo(echoed, echoedSize);
  std::free(echoed);

  const std::string escaped = EscapeForLog(path);
  for (char c : escaped) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
  char head[64];
  std::snprintf(head, sizeof head, "set affinity mask 0x%08X to process \"", static_cast<unsigned>(mask));
  char failHead[64];
  std::snprintf(failHead, sizeof failHead, "failed to set affinity mask 0x%08X to process \"",
                static_cast<unsigned>(mask));
  const std::string change = std::string(head) + escaped + "\"\n";
  const std::string failure = std::string(failHead) + escaped + "\"\n";
  FUZZ_CHECK(fuzz::ReadBytes(logPath) == "(2024/03/05 09:07:02) " + change + "(2024/03/05 09:07:02) " + failure);
  FUZZ_CHECK(echo == change + failure);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in(data, size);
  const std::size_t max = in.Byte();
  // The first line of the input is the name or path; the rest are the choices.
  std::string rest = in.Rest();
  const std::size_t end = rest.find('\n');
  std::string name = rest.substr(0, end);
  const std::string choices = end == std::string::npos ? std::string() : rest.substr(end + 1);
  Reader more(reinterpret_cast<const std::uint8_t*>(choices.data()), choices.size());

  CheckCut(name, max);
  CheckCut(name, kTrayItemTextBytes);
  CheckTrayTexts(more, name);
  CheckLogRecord(more, name);
  // Watch-list paths are C strings, lower-cased.
  std::string path = name.substr(0, name.find('\0'));
  ToLowerAscii(path);
  CheckEditingTexts(more, path);
  return 0;
}
