#include "platform/processor_set_text.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "res/texts.h"

namespace platform {
namespace {

struct Run {
  unsigned first;
  unsigned last;
};

// The maximal runs of members, ascending.
std::vector<Run> MemberRuns(const ProcessorSet& set) {
  std::vector<Run> runs;
  for (int cpu = set.Lowest(); cpu >= 0;) {
    unsigned last = static_cast<unsigned>(cpu);
    while (set.Test(last + 1)) ++last;
    runs.push_back({static_cast<unsigned>(cpu), last});
    cpu = set.Next(last + 1);
  }
  return runs;
}

void AppendRun(std::string& text, const Run& run) {
  text += std::to_string(run.first);
  if (run.last != run.first) {
    text += '-';
    text += std::to_string(run.last);
  }
}

std::string JoinRuns(const std::vector<Run>& runs, std::size_t begin, std::size_t end) {
  std::string text;
  for (std::size_t i = begin; i < end; ++i) {
    if (i != begin) text += ',';
    AppendRun(text, runs[i]);
  }
  return text;
}

// A decimal processor number at text[pos]; pos moves past it. Numbers are read to their end even
// when far too large, so the reason names the whole number.
bool ReadNumber(std::string_view text, std::size_t& pos, unsigned& value, std::string* why) {
  const std::size_t start = pos;
  std::uint64_t n = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    if (n < ProcessorSet::kCapacity) n = n * 10 + static_cast<unsigned>(text[pos] - '0');
    ++pos;
  }
  if (pos == start) {
    if (why != nullptr) {
      *why = "at " + std::to_string(start) +
             (start < text.size() ? ": '" + std::string(1, text[start]) + "' where a processor number belongs"
                                  : ": the list ends where a processor number belongs");
    }
    return false;
  }
  if (n >= ProcessorSet::kCapacity) {
    if (why != nullptr) {
      *why = "at " + std::to_string(start) + ": processor " + std::string(text.substr(start, pos - start)) +
             " is above " + std::to_string(ProcessorSet::kCapacity - 1);
    }
    return false;
  }
  value = static_cast<unsigned>(n);
  return true;
}

// One line of a confirmation: the processors it names and whether they are on, in the user's words.
std::string ProcessorLine(const std::string& cpus, bool on) {
  return res::Fill(res::TextId::kProcessorLine,
                   {cpus, res::Text(on ? res::TextId::kProcessorOn : res::TextId::kProcessorOff)});
}

}  // namespace

std::string FormatCpuList(const ProcessorSet& set) {
  const std::vector<Run> runs = MemberRuns(set);
  return JoinRuns(runs, 0, runs.size());
}

bool ParseCpuList(std::string_view text, ProcessorSet& out, std::string* why) {
  if (text.empty()) {
    if (why != nullptr) *why = "the list is empty";
    return false;
  }
  ProcessorSet set;
  std::size_t pos = 0;
  while (true) {
    unsigned first = 0;
    if (!ReadNumber(text, pos, first, why)) return false;
    unsigned last = first;
    if (pos < text.size() && text[pos] == '-') {
      ++pos;
      if (!ReadNumber(text, pos, last, why)) return false;
      if (last < first) {
        if (why != nullptr) {
          *why = "at " + std::to_string(pos) + ": the range " + std::to_string(first) + "-" + std::to_string(last) +
                 " runs backwards";
        }
        return false;
      }
    }
    set |= ProcessorSet::Range(first, last);
    if (pos == text.size()) break;
    if (text[pos] != ',') {
      if (why != nullptr) *why = "at " + std::to_string(pos) + ": '" + std::string(1, text[pos]) + "' is no separator";
      return false;
    }
    ++pos;
  }
  out = set;
  return true;
}

std::string FormatHexMask(const ProcessorSet& set) {
  char word[16];
  if (set.FitsIn32()) {
    std::snprintf(word, sizeof word, "0x%08X", static_cast<unsigned>(set.Low32()));
    return word;
  }
  std::string text = "0x";
  for (int w = set.Highest() / 32; w >= 0; --w) {
    const auto bits = static_cast<unsigned>((set.Word(static_cast<unsigned>(w) / 2) >> (32 * (w % 2))) & 0xFFFFFFFFu);
    std::snprintf(word, sizeof word, "%08X", bits);
    text += word;
  }
  return text;
}

std::string FormatCpuPattern(const ProcessorSet& set, unsigned count) {
  std::string pattern(count, '-');
  for (int cpu = set.Lowest(); cpu >= 0 && static_cast<unsigned>(cpu) < count;
       cpu = set.Next(static_cast<unsigned>(cpu) + 1)) {
    pattern[static_cast<std::size_t>(cpu)] = 'o';
  }
  return pattern;
}

std::string FormatCpuDisplay(int cpuCount, const ProcessorSet& set, unsigned processorCount) {
  const std::string shown = processorCount <= kCompactTextsAbove
                                ? FormatCpuPattern(set, processorCount)
                                : FormatCpuList(set & ProcessorSet::FirstN(processorCount));
  return std::to_string(cpuCount) + " [" + shown + "]";
}

std::string FormatCpuDisplay(const ProcessorSet& set, unsigned processorCount) {
  return FormatCpuDisplay(static_cast<int>(set.CountBelow(processorCount)), set, processorCount);
}

std::string PerProcessorLines(const ProcessorSet& set, unsigned processorCount) {
  std::string lines;
  for (unsigned i = 0; i < processorCount; ++i) {
    lines += ProcessorLine(std::to_string(i), set.Test(i));
  }
  return lines;
}

std::string RunLengthProcessorLines(const ProcessorSet& set, unsigned processorCount) {
  const ProcessorSet machine = ProcessorSet::FirstN(processorCount);
  const ProcessorSet on = set & machine;
  const ProcessorSet off = ProcessorSet(machine).RemoveAll(set);
  const std::vector<Run> onRuns = MemberRuns(on);
  const std::vector<Run> offRuns = MemberRuns(off);
  std::string lines;
  if (onRuns.size() + offRuns.size() <= kMaxRunLines) {
    // The runs of both kinds alternate; walk them in processor order.
    std::size_t i = 0;
    std::size_t k = 0;
    while (i < onRuns.size() || k < offRuns.size()) {
      const bool takeOn = k == offRuns.size() || (i < onRuns.size() && onRuns[i].first < offRuns[k].first);
      const Run& run = takeOn ? onRuns[i++] : offRuns[k++];
      std::string cpus;
      AppendRun(cpus, run);
      lines += ProcessorLine(cpus, takeOn);
    }
    return lines;
  }
  for (const auto* runs : {&onRuns, &offRuns}) {
    for (std::size_t begin = 0; begin < runs->size(); begin += kListItemsPerLine) {
      const std::size_t end = std::min(runs->size(), begin + kListItemsPerLine);
      lines += ProcessorLine(JoinRuns(*runs, begin, end), runs == &onRuns);
    }
  }
  return lines;
}

std::string ProcessorLines(const ProcessorSet& set, unsigned processorCount) {
  return processorCount <= kCompactTextsAbove ? PerProcessorLines(set, processorCount)
                                              : RunLengthProcessorLines(set, processorCount);
}

}  // namespace platform
