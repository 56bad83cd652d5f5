#pragma once
// Menus as plain trees, loaded from the program's menu templates and changed by position or by
// command id in the manner of the system's menu calls. A backend shows a Menu when a dialog tracks it.
#include <memory>
#include <string>
#include <vector>

namespace framework {

class Menu;

struct MenuItem {
  std::string text;             // UTF-8; empty for a separator
  unsigned id = 0;              // command id; 0 for separators and popups
  unsigned flags = 0;           // MF_SEPARATOR or MF_POPUP
  unsigned state = 0;           // MFS_CHECKED, MFS_DEFAULT, MFS_GRAYED (a template's MF_GRAYED lands here)
  std::unique_ptr<Menu> popup;  // set exactly when flags has MF_POPUP
  std::string tip;              // what the item stands for in detail, shown on hover where menus can

  bool IsSeparator() const;
  bool IsPopup() const { return popup != nullptr; }
  bool IsGrayed() const;
  bool IsChecked() const;
  bool IsDefault() const;
};

class Menu {
 public:
  Menu() = default;
  Menu(const Menu& other);
  Menu& operator=(const Menu& other);
  Menu(Menu&&) noexcept = default;
  Menu& operator=(Menu&&) noexcept = default;

  // Replaces the contents with the menu template resourceId (its top level: one popup per item).
  // False, leaving the menu empty, when there is no such template.
  bool LoadFromResource(int resourceId);
  // Empties the menu (the system's DestroyMenu).
  void Destroy() { items_.clear(); }

  int ItemCount() const { return static_cast<int>(items_.size()); }
  // The item at position, or nullptr.
  const MenuItem* ItemAt(int position) const;
  // The popup at position, or nullptr when there is none or that item is not a popup.
  Menu* SubMenu(int position);
  const Menu* SubMenu(int position) const;

  // Removes the item at position (a popup goes with its contents). False when out of range.
  bool RemoveAt(int position);
  // flags: MF_STRING, optionally with MF_GRAYED or MF_CHECKED (kept as the item's state). tip: the
  // item's tool tip (backends without menu tips leave it out).
  void AppendString(unsigned id, const std::string& text, unsigned flags = 0, const std::string& tip = {});
  void AppendSeparator();
  void AppendPopup(const std::string& text, Menu popup);

  // By command id, searching popups depth first as the system does. False when no item has the id.
  bool SetItemState(unsigned id, unsigned state);
  bool SetItemText(unsigned id, const std::string& text);
  bool SetItemGrayed(unsigned id, bool grayed);
  const MenuItem* FindItem(unsigned id) const;

 private:
  MenuItem* FindItemMutable(unsigned id);
  std::vector<MenuItem> items_;
};

}  // namespace framework
