#include "ui/cpu_boxes.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <vector>

#include "res/resource.h"
#include "res/texts.h"

bool ShowProcessMask(int row, framework::CDialog& dialog, DialogContext& context) {
  // A file-mode dialog passes -1 and has nothing to show, whether or not a snapshot exists.
  if (row < 0) return false;
  const auto& processes = context.Snapshot().processes;
  if (static_cast<unsigned>(row) >= processes.size()) return false;
  const unsigned processors = context.System().GetProcessorCount();
  const platform::ProcessorSet& set = processes[static_cast<std::size_t>(row)].affinityMask;
  for (unsigned n = 0; n < platform::ProcessorSet::kCapacity && dialog.HasControl(CpuBoxId(n)); ++n) {
    framework::Button box = dialog.ButtonItem(CpuBoxId(n));
    if (n < processors) {
      box.SetCheck(set.Test(n) ? BST_CHECKED : BST_UNCHECKED);
      box.Enable(true);
    } else {
      box.Enable(false);
    }
  }
  return true;
}

platform::ProcessorSet ReadCpuBoxes(framework::CDialog& dialog) {
  platform::ProcessorSet set;
  for (unsigned n = 0; n < platform::ProcessorSet::kCapacity && dialog.HasControl(CpuBoxId(n)); ++n) {
    if (dialog.ButtonItem(CpuBoxId(n)).GetCheck() == BST_CHECKED) set.Set(n);
  }
  return set;
}

void TickProcessorBoxes(framework::CDialog& dialog, const platform::ProcessorSet& set) {
  for (unsigned n = 0; n < platform::ProcessorSet::kCapacity && dialog.HasControl(CpuBoxId(n)); ++n) {
    framework::Button box = dialog.ButtonItem(CpuBoxId(n));
    if (box.IsEnabled()) box.SetCheck(set.Test(n) ? BST_CHECKED : BST_UNCHECKED);
  }
}

CpuBoxRequest InterpretCpuBoxClick(framework::CDialog& dialog, int processor, unsigned processorCount) {
  framework::Button box = dialog.ButtonItem(CpuBoxId(static_cast<unsigned>(processor)));
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
  dialog.ButtonItem(CpuBoxId(static_cast<unsigned>(processor))).SetCheck(checked ? BST_CHECKED : BST_UNCHECKED);
}

// ---- boxes beyond the templates' eight ----

namespace {

// How a dialog's other controls follow when its boxes grow to the right, and where the preset
// button goes (dialog units, before anything grew).
struct BoxDialogLayout {
  int templateId;
  int followRightEdge[3];
  int stretchToRightEdge;
  framework::DialogUnits presetButton;
};
constexpr BoxDialogLayout kBoxDialogs[] = {
    // The settings dialog: one column of eight under the close button, which keeps to the corner;
    // the preset button under the boxes (there are two columns at least), its foot level with the
    // lists'.
    {IDD_ASSIGN_LIST, {IDCANCEL, -1, -1}, -1, {392, 201, 72, 16}},
    // The change-assignment dialog: two columns of four; OK, Cancel and the preset button in a
    // column at the right edge, the edit above the boxes as wide as the window.
    {IDD_CHANGE_CPU_ASSIGN, {IDOK, IDCANCEL, IDC_CPU_PRESETS}, IDC_TARGET_TEXT, {112, 62, 50, 14}},
};
// Between two columns, beside the box width.
constexpr int kColumnGap = 8;
// Dialog units of the box's check mark and its gap (with room for the widest toolkit's), and of one
// character of its text.
constexpr int kCheckMarkUnits = 16;
constexpr int kCharUnits = 4;

}  // namespace

int CpuBoxId(unsigned processor) {
  return processor < static_cast<unsigned>(kCpuBoxCount) ? IDC_CPU0 + static_cast<int>(processor)
                                                         : IDC_CPU_MORE_BASE + static_cast<int>(processor);
}

// Box n of a template is IDC_CPU0 + n.
static_assert(IDC_CPU7 - IDC_CPU0 == kCpuBoxCount - 1);

int ProcessorOfBox(unsigned id) {
  if (id >= static_cast<unsigned>(IDC_CPU0) && id <= static_cast<unsigned>(IDC_CPU7))
    return static_cast<int>(id) - IDC_CPU0;
  if (id >= static_cast<unsigned>(IDC_CPU_MORE_BASE + kCpuBoxCount) && id <= static_cast<unsigned>(IDC_CPU_MORE_LAST)) {
    return static_cast<int>(id) - IDC_CPU_MORE_BASE;
  }
  return -1;
}

void AddProcessorBoxes(framework::CDialog& dialog, unsigned processorCount) {
  const unsigned boxes = std::min(processorCount, platform::ProcessorSet::kCapacity);
  if (boxes <= static_cast<unsigned>(kCpuBoxCount)) return;
  const framework::DialogTemplate* tpl = dialog.Template();
  const BoxDialogLayout* layout = nullptr;
  for (const BoxDialogLayout& l : kBoxDialogs) {
    if (tpl != nullptr && l.templateId == tpl->id) layout = &l;
  }
  if (layout == nullptr) return;

  // The template's boxes: their rows (in processor order) and columns.
  std::vector<int> rows;
  std::vector<int> columns;
  framework::DialogUnits area{INT_MAX, INT_MAX, 0, 0};
  int right = 0;
  int bottom = 0;
  const framework::ControlTemplate* last = nullptr;
  for (int n = 0; n < kCpuBoxCount; ++n) {
    const framework::ControlTemplate* box = dialog.FindControl(IDC_CPU0 + n);
    if (box == nullptr) return;
    if (std::find(rows.begin(), rows.end(), box->y) == rows.end()) rows.push_back(box->y);
    if (std::find(columns.begin(), columns.end(), box->x) == columns.end()) columns.push_back(box->x);
    area.x = std::min(area.x, box->x);
    area.y = std::min(area.y, box->y);
    right = std::max(right, box->x + box->cx);
    bottom = std::max(bottom, box->y + box->cy);
    last = box;
  }
  area.cx = right - area.x;
  area.cy = bottom - area.y;
  const int templatePitch = columns.size() > 1 ? columns[1] - columns[0] : last->cx + kColumnGap;
  // Longer numbers widen the new columns so that no box cuts its text.
  const int longest = static_cast<int>(("CPU " + std::to_string(boxes - 1)).size());
  const int width = std::max(last->cx, kCheckMarkUnits + kCharUnits * longest);
  const int pitch = std::max(templatePitch, width + kColumnGap);
  const int perColumn = static_cast<int>(rows.size());
  const int firstNewColumnX = columns.back() + templatePitch;

  framework::ControlBlock block;
  block.area = area;
  for (unsigned n = kCpuBoxCount; n < boxes; ++n) {
    const int column = static_cast<int>(n) / perColumn - static_cast<int>(columns.size());
    const int x = firstNewColumnX + column * pitch;
    block.blockControls.push_back(framework::AddedControl{
        CpuBoxId(n), framework::ControlKind::CheckBox, res::Fill(res::TextId::kCpuN, {std::to_string(n)}),
        framework::DialogUnits{x, rows[n % rows.size()], width, last->cy}, last->style});
    block.growth = x + width - right;
  }
  // The free room below the boxes before the next control under them, or the window's edge.
  block.roomBelow = tpl->cy - bottom;
  const auto limitRoom = [&](const framework::DialogUnits& c) {
    if (c.x < right && c.x + c.cx > area.x && c.y >= bottom) block.roomBelow = std::min(block.roomBelow, c.y - bottom);
  };
  for (const framework::ControlTemplate& c : tpl->controls) limitRoom(framework::DialogUnits{c.x, c.y, c.cx, c.cy});
  limitRoom(layout->presetButton);
  block.otherControls.push_back(framework::AddedControl{IDC_CPU_PRESETS, framework::ControlKind::PushButton,
                                                        res::Text(res::TextId::kPresetsButton), layout->presetButton,
                                                        WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON});
  for (int id : layout->followRightEdge) {
    if (id != -1) block.followRightEdge.push_back(id);
  }
  if (layout->stretchToRightEdge != -1) block.stretchToRightEdge.push_back(layout->stretchToRightEdge);
  dialog.AddControls(block);
}
