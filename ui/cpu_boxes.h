#pragma once
// The processor check boxes shared by the settings and the change-assignment dialogs: the
// templates' eight (IDC_CPU0..IDC_CPU7), and on larger machines one more for every further
// processor, made at run time with the preset button; and the text form of a mask shown next to
// processes and entries.
#include <string>

#include "framework/dialog.h"
#include "platform/processor_set.h"
#include "platform/processor_set_text.h"
#include "platform/types.h"
#include "ui/dialog_context.h"

// The boxes the templates have.
inline constexpr int kCpuBoxCount = 8;

// The box of processor n, and the processor of a box (-1 for any other control).
int CpuBoxId(unsigned processor);
int ProcessorOfBox(unsigned id);
// Gives dialog (the settings or the change-assignment dialog, its window just made) a box for each
// processor from 8 to processorCount - 1, in further columns at its template's pitch, and the
// preset button (IDC_CPU_PRESETS). Nothing on a machine with at most eight processors.
void AddProcessorBoxes(framework::CDialog& dialog, unsigned processorCount);
// Checks the boxes of the processors in set and clears the others; disabled boxes stay as they are.
void TickProcessorBoxes(framework::CDialog& dialog, const platform::ProcessorSet& set);

// The text forms beside processes and entries: the pattern ("o-o-") and the display pair "%d [%s]"
// (the pattern up to 16 processors, the list of processors above).
using platform::FormatCpuDisplay;
using platform::FormatCpuPattern;
// The processors of set among the first count.
inline int CountCpus(const platform::ProcessorSet& set, unsigned count) {
  return static_cast<int>(set.CountBelow(count));
}

// Shows the mask of the context's snapshot process row in the boxes of dialog: boxes of present processors
// follow the mask and are enabled, the others are disabled and keep their state. False (no box
// touched) for a row outside the snapshot.
bool ShowProcessMask(int row, framework::CDialog& dialog, DialogContext& context);
// Processor n for each box n that is exactly checked; disabled boxes count like the others.
platform::ProcessorSet ReadCpuBoxes(framework::CDialog& dialog);

// A click on a three-state box of the settings dialog, after the box took its next state.
enum class CpuBoxRequest { kNone, kAdd, kRemove };
// kNone for a processor the machine does not have (the box is set indeterminate); otherwise whether
// the click asks to add or to remove the processor.
CpuBoxRequest InterpretCpuBoxClick(framework::CDialog& dialog, int processor, unsigned processorCount);
// Settles the box after the change was tried: checked after an addition, unchecked after a
// removal, and back to where it was when the change failed.
void SettleCpuBox(framework::CDialog& dialog, int processor, CpuBoxRequest request, bool succeeded);
