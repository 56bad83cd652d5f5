#pragma once
// The text forms of a processor set: the kernel's list syntax (settings file, sysfs), the hex form of
// the log, the display pair beside a process or entry, and the processor lines of a confirmation.
// Up to 32 processors (hex) and up to kCompactTextsAbove processors (display, lines) each form is
// the one the program always wrote, so small machines see no change.
#include <string>
#include <string_view>

#include "platform/processor_set.h"

namespace platform {

// Above this many processors the display pair and the processor lines take their compact forms.
inline constexpr unsigned kCompactTextsAbove = 16;

// The kernel's list syntax, ascending: "0-3,40-47"; a run of two or more is "first-last". The
// empty set gives "".
std::string FormatCpuList(const ProcessorSet& set);

// Reads the kernel's list syntax: items "n" or "first-last" joined by single commas, decimal,
// nothing else (no blanks, signs or line ends; callers reading files take the line end off). Items
// may overlap and come in any order, as the kernel allows. The empty text is refused too: a list
// that names nothing is no processor choice. On failure out is unchanged and, when why is given,
// it receives a one-line reason such as "at 5: processor 1024 is above 1023".
bool ParseCpuList(std::string_view text, ProcessorSet& out, std::string* why = nullptr);

// The log's form of a set. Within CPU 0-31: "0x%08X" of the low 32 bits, as always. Wider: every
// 32-bit word up to the highest member as 8 upper-case hex digits, most significant word first
// ("0x0000000100000000" is CPU 32), so one pattern reads every record.
std::string FormatHexMask(const ProcessorSet& set);

// One character per processor below count, processor 0 first: "o" member, "-" not.
std::string FormatCpuPattern(const ProcessorSet& set, unsigned count);

// The display pair "%d [%s]" beside a process or watch entry on a machine with processorCount
// processors: the members below processorCount, then the pattern (up to kCompactTextsAbove
// processors) or the list of those members ("24 [0-7,16-31]") above. Members at or above
// processorCount appear in neither part.
std::string FormatCpuDisplay(const ProcessorSet& set, unsigned processorCount);
// The same with a count computed elsewhere (a snapshot process's cpuCount).
std::string FormatCpuDisplay(int cpuCount, const ProcessorSet& set, unsigned processorCount);

// The processor lines of a confirmation, each starting with "\n". PerProcessorLines is the form of
// machines with up to kCompactTextsAbove processors: "\n  CPU %d = ON" / "= OFF" for every processor
// below processorCount. RunLengthProcessorLines is the form above: one line per run of equal state,
// "\n  CPU 0-7 = ON", "\n  CPU 8 = OFF". A set so scattered that its runs would not fit on a screen
// (more than kMaxRunLines) is shown as the ON members and then the OFF members in the list syntax,
// kListItemsPerLine items a line ("\n  CPU 0,2,4,... = ON"). ProcessorLines picks by processorCount.
inline constexpr unsigned kMaxRunLines = 24;
inline constexpr unsigned kListItemsPerLine = 16;
std::string PerProcessorLines(const ProcessorSet& set, unsigned processorCount);
std::string RunLengthProcessorLines(const ProcessorSet& set, unsigned processorCount);
std::string ProcessorLines(const ProcessorSet& set, unsigned processorCount);

}  // namespace platform
