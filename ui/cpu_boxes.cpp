#include "ui/cpu_boxes.h"

#include <cstdio>

#include "app/assign_app.h"
#include "res/resource.h"

namespace {

bool BitSet(AffinityMask mask, unsigned bit) { return bit < 32 && ((mask >> bit) & 1u) != 0; }

}  // namespace

std::string FormatCpuPattern(AffinityMask mask, unsigned count) {
  std::string pattern(count, '-');
  for (unsigned k = 0; k < count; ++k) {
    if (BitSet(mask, k)) pattern[k] = 'o';
  }
  return pattern;
}

int CountCpus(AffinityMask mask, unsigned count) {
  int n = 0;
  for (unsigned k = 0; k < count && k < 32; ++k) n += BitSet(mask, k) ? 1 : 0;
  return n;
}

std::string FormatCpuDisplay(int cpuCount, AffinityMask mask, unsigned count) {
  return std::to_string(cpuCount) + " [" + FormatCpuPattern(mask, count) + "]";
}

std::string FormatCpuDisplay(AffinityMask mask, unsigned count) {
  return FormatCpuDisplay(CountCpus(mask, count), mask, count);
}

bool ShowProcessMask(int row, framework::CDialog& dialog) {
  // A file-mode dialog passes -1 and has nothing to show, whether or not a snapshot exists.
  if (row < 0) return false;
  const auto& processes = TheApp().Processes();
  if (static_cast<unsigned>(row) >= processes.size()) return false;
  const unsigned processors = TheApp().System().GetProcessorCount();
  AffinityMask work = processes[static_cast<std::size_t>(row)].affinityMask;
  for (int n = 0; n < kCpuBoxCount; ++n) {
    framework::Button box = dialog.ButtonItem(IDC_CPU0 + n);
    if (static_cast<unsigned>(n) < processors) {
      box.SetCheck((work & 1u) != 0 ? BST_CHECKED : BST_UNCHECKED);
      box.Enable(true);
    } else {
      box.Enable(false);
    }
    work >>= 1;
  }
  return true;
}

AffinityMask ReadCpuBoxes(framework::CDialog& dialog) {
  AffinityMask mask = 0;
  for (int n = 0; n < kCpuBoxCount; ++n) {
    if (dialog.ButtonItem(IDC_CPU0 + n).GetCheck() == BST_CHECKED) mask |= AffinityMask{1} << n;
  }
  return mask;
}

CpuBoxRequest InterpretCpuBoxClick(framework::CDialog& dialog, int processor, unsigned processorCount) {
  framework::Button box = dialog.ButtonItem(IDC_CPU0 + processor);
  if (processor < 0 || static_cast<unsigned>(processor) >= processorCount) {
    box.SetCheck(BST_INDETERMINATE);
    return CpuBoxRequest::kNone;
  }
  return box.GetCheck() == BST_CHECKED ? CpuBoxRequest::kAdd : CpuBoxRequest::kRemove;
}

void SettleCpuBox(framework::CDialog& dialog, int processor, CpuBoxRequest request, bool succeeded) {
  if (request == CpuBoxRequest::kNone) return;
  const bool add = request == CpuBoxRequest::kAdd;
  // Success shows what was asked for; failure shows what the process still has.
  const bool checked = succeeded ? add : !add;
  dialog.ButtonItem(IDC_CPU0 + processor).SetCheck(checked ? BST_CHECKED : BST_UNCHECKED);
}
