#pragma once
// Controls a dialog adds to its window at run time, beyond its template: a block that continues one
// part of the template to the right (the processor boxes of a machine with more processors than the
// template has boxes), and how the rest of the window follows it. The window grows by the block's
// growth; where it would then no longer fit on the screen, the block's area scrolls sideways
// instead, so the window never outgrows the screen.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/defs.h"
#include "framework/resource_types.h"

namespace framework {

// A rectangle in dialog units (DialogUnits) or in pixels of the window's client area (Pixels).
struct DialogUnits {
  int x = 0;
  int y = 0;
  int cx = 0;
  int cy = 0;
};
struct Pixels {
  int x = 0;
  int y = 0;
  int cx = 0;
  int cy = 0;
};

// One control made at run time, like a template control (texts are UTF-8, positions dialog units).
struct AddedControl {
  int id = -1;
  ControlKind kind = ControlKind::PushButton;
  std::string text;
  DialogUnits rect;
  std::uint32_t style = 0;
};

struct ControlBlock {
  // The part of the template the block continues; the template's controls that lie wholly inside it
  // belong to the block.
  DialogUnits area;
  // How far the block reaches beyond area's right edge.
  int growth = 0;
  // Free dialog units below area before the next control or the window's edge: room a scroll bar
  // may take before the window has to grow downwards for it.
  int roomBelow = 0;
  // The new controls of the block, placed as if the whole block were shown (area's origin is where
  // the template has it).
  std::vector<AddedControl> blockControls;
  // New controls outside the block, placed as in the template, before anything grew.
  std::vector<AddedControl> otherControls;
  // Controls (of the template or otherControls) that keep their distance to the window's right
  // edge as it moves, and those that get wider with it.
  std::vector<int> followRightEdge;
  std::vector<int> stretchToRightEdge;
};

// How a backend lays a block out; computed alike for every backend from its own metrics.
struct ControlBlockPlan {
  // The block's area in the window as shown: the whole block, or the scrolling part of it (without
  // its scroll bar, which goes right below).
  Pixels viewport;
  // The width of the whole block; more than viewport.cx when it scrolls.
  int contentWidth = 0;
  bool scrolls = false;
  // How far the window's right edge moves (followRightEdge / stretchToRightEdge go with it).
  int shift = 0;
  // How far controls below the area move down, and the window with them, to make room for the
  // scroll bar.
  int extraHeight = 0;
  // The window's client size afterwards.
  Size client;
};

// client: the window's client size now; maxClient: the largest client size that still fits on the
// screen; toPixels maps the backend's dialog units.
ControlBlockPlan PlanControlBlock(const ControlBlock& block, Size client, Size maxClient, int scrollBarHeight,
                                  const std::function<Pixels(const DialogUnits&)>& toPixels);

// Whether a template control lies wholly inside the block's area.
bool InBlockArea(const ControlBlock& block, const ControlTemplate& control);

// Whether id is in list.
bool ContainsId(const std::vector<int>& list, int id);

}  // namespace framework
