#pragma once
// The shapes of the program's resources: dialog templates, menu templates and icon images. The data
// itself lives in res/; every backend builds its windows and menus from these records.
#include <cstdint>
#include <span>
#include <vector>

namespace framework {

enum class ControlKind {
  PushButton,  // BS_PUSHBUTTON or BS_DEFPUSHBUTTON in style
  CheckBox,    // BS_AUTOCHECKBOX (two states) or BS_AUTO3STATE (three states) in style
  Edit,
  ListView,
  StaticText,
  StaticIcon,  // shows icon resource iconId
};

// One control of a dialog template. Positions and sizes are in dialog units.
struct ControlTemplate {
  int id = -1;  // -1: a control the program never addresses
  ControlKind kind = ControlKind::StaticText;
  const char* text = "";  // UTF-8; never null
  int x = 0;
  int y = 0;
  int cx = 0;
  int cy = 0;
  std::uint32_t style = 0;
  std::uint32_t exStyle = 0;
  int iconId = 0;  // StaticIcon only
};

struct DialogTemplate {
  int id = 0;
  const char* caption = "";
  int cx = 0;  // dialog units
  int cy = 0;
  std::uint32_t style = 0;
  std::uint32_t exStyle = 0;
  const char* fontFace = "";
  int pointSize = 0;
  std::span<const ControlTemplate> controls;  // template order = tab order
};

// One item of a menu template. A popup has MF_POPUP in flags and its items in children; a separator
// has MF_SEPARATOR and no text.
struct MenuItemTemplate {
  const char* text = "";
  unsigned id = 0;
  unsigned flags = 0;  // MF_POPUP, MF_SEPARATOR, MF_GRAYED
  std::span<const MenuItemTemplate> children;
};

struct MenuTemplate {
  int id = 0;
  std::span<const MenuItemTemplate> items;  // the menu bar: one popup per item
};

// A square image, 8-bit RGBA, rows top first, no padding: width * height * 4 bytes.
struct IconImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;
};

}  // namespace framework
