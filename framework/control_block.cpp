#include "framework/control_block.h"

#include <algorithm>

namespace framework {

ControlBlockPlan PlanControlBlock(const ControlBlock& block, Size client, Size maxClient, int scrollBarHeight,
                                  const std::function<Pixels(const DialogUnits&)>& toPixels) {
  ControlBlockPlan plan;
  const Pixels area = toPixels(block.area);
  const Pixels grown =
      toPixels(DialogUnits{block.area.x, block.area.y, block.area.cx + std::max(0, block.growth), block.area.cy});
  const int growth = std::max(0, grown.cx - area.cx);
  plan.contentWidth = area.cx + growth;
  // The window widens as far as the screen lets it; a template already wider than the screen stays
  // as it is and the whole growth scrolls.
  plan.shift = std::clamp(maxClient.cx - client.cx, 0, growth);
  plan.scrolls = plan.shift < growth;
  plan.viewport = Pixels{area.x, area.y, area.cx + plan.shift, area.cy};
  if (plan.scrolls) {
    const int room = toPixels(DialogUnits{0, 0, 0, std::max(0, block.roomBelow)}).cy;
    plan.extraHeight = std::max(0, scrollBarHeight - room);
  }
  plan.client = Size{client.cx + plan.shift, client.cy + plan.extraHeight};
  return plan;
}

bool InBlockArea(const ControlBlock& block, const ControlTemplate& control) {
  const DialogUnits& a = block.area;
  return control.x >= a.x && control.y >= a.y && control.x + control.cx <= a.x + a.cx &&
         control.y + control.cy <= a.y + a.cy;
}

bool ContainsId(const std::vector<int>& list, int id) { return std::find(list.begin(), list.end(), id) != list.end(); }

}  // namespace framework
