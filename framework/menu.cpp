#include "framework/menu.h"

#include "framework/defs.h"
#include "framework/resource_provider.h"
#include "framework/resource_types.h"

namespace framework {

bool MenuItem::IsSeparator() const { return (flags & MF_SEPARATOR) != 0; }
bool MenuItem::IsGrayed() const { return (state & MFS_GRAYED) != 0; }
bool MenuItem::IsChecked() const { return (state & MFS_CHECKED) != 0; }
bool MenuItem::IsDefault() const { return (state & MFS_DEFAULT) != 0; }

namespace {

// The state bits a MF_ flag word carries (MF_GRAYED, MF_DISABLED and MF_CHECKED share the MFS_ values).
unsigned StateOf(unsigned flags) { return flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED); }

void Fill(Menu& menu, std::span<const MenuItemTemplate> items, int depth) {
  for (const MenuItemTemplate& t : items) {
    if ((t.flags & MF_SEPARATOR) != 0) {
      menu.AppendSeparator();
    } else if ((t.flags & MF_POPUP) != 0) {
      Menu popup;
      // Templates are ours and shallow; the bound only guards against a template that nests itself.
      if (depth < 16) Fill(popup, t.children, depth + 1);
      menu.AppendPopup(t.text, std::move(popup));
    } else {
      menu.AppendString(t.id, t.text, t.flags);
    }
  }
}

}  // namespace

Menu::Menu(const Menu& other) { *this = other; }

Menu& Menu::operator=(const Menu& other) {
  if (this == &other) return *this;
  std::vector<MenuItem> copy;
  copy.reserve(other.items_.size());
  for (const MenuItem& item : other.items_) {
    MenuItem c;
    c.text = item.text;
    c.id = item.id;
    c.flags = item.flags;
    c.state = item.state;
    c.tip = item.tip;
    if (item.popup) c.popup = std::make_unique<Menu>(*item.popup);
    copy.push_back(std::move(c));
  }
  items_ = std::move(copy);
  return *this;
}

bool Menu::LoadFromResource(int resourceId) {
  items_.clear();
  const MenuTemplate* tpl = Resources().FindMenuTemplate(resourceId);
  if (tpl == nullptr) return false;
  Fill(*this, tpl->items, 0);
  return true;
}

const MenuItem* Menu::ItemAt(int position) const {
  if (position < 0 || position >= ItemCount()) return nullptr;
  return &items_[static_cast<std::size_t>(position)];
}

Menu* Menu::SubMenu(int position) {
  if (position < 0 || position >= ItemCount()) return nullptr;
  return items_[static_cast<std::size_t>(position)].popup.get();
}

const Menu* Menu::SubMenu(int position) const {
  if (position < 0 || position >= ItemCount()) return nullptr;
  return items_[static_cast<std::size_t>(position)].popup.get();
}

bool Menu::RemoveAt(int position) {
  if (position < 0 || position >= ItemCount()) return false;
  items_.erase(items_.begin() + position);
  return true;
}

void Menu::AppendString(unsigned id, const std::string& text, unsigned flags, const std::string& tip) {
  MenuItem item;
  item.text = text;
  item.tip = tip;
  item.id = id;
  item.flags = MF_STRING;
  item.state = StateOf(flags);
  items_.push_back(std::move(item));
}

void Menu::AppendSeparator() {
  MenuItem item;
  item.flags = MF_SEPARATOR;
  items_.push_back(std::move(item));
}

void Menu::AppendPopup(const std::string& text, Menu popup) {
  MenuItem item;
  item.text = text;
  item.flags = MF_POPUP;
  item.popup = std::make_unique<Menu>(std::move(popup));
  items_.push_back(std::move(item));
}

MenuItem* Menu::FindItemMutable(unsigned id) {
  for (MenuItem& item : items_) {
    if (item.popup) {
      if (MenuItem* found = item.popup->FindItemMutable(id)) return found;
    } else if (!item.IsSeparator() && item.id == id) {
      return &item;
    }
  }
  return nullptr;
}

const MenuItem* Menu::FindItem(unsigned id) const { return const_cast<Menu*>(this)->FindItemMutable(id); }

bool Menu::SetItemState(unsigned id, unsigned state) {
  MenuItem* item = FindItemMutable(id);
  if (item == nullptr) return false;
  item->state = state;
  return true;
}

bool Menu::SetItemText(unsigned id, const std::string& text) {
  MenuItem* item = FindItemMutable(id);
  if (item == nullptr) return false;
  item->text = text;
  return true;
}

bool Menu::SetItemGrayed(unsigned id, bool grayed) {
  MenuItem* item = FindItemMutable(id);
  if (item == nullptr) return false;
  item->state = grayed ? (item->state | MFS_GRAYED) : (item->state & ~static_cast<unsigned>(MFS_GRAYED));
  return true;
}

}  // namespace framework
