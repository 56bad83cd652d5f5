#pragma once
// The tray menu's tests: the whole program, and what its menus showed.
#include <string>
#include <vector>

#include "tests/support/program_fixture.h"

class MenuTest : public ProgramFixture {
 protected:
  void OpenTrayMenu() { ui.TrayNotify(WM_LBUTTONDOWN); }

  // The tray popup of the n-th menu shown (0 = first).
  const framework::Menu& ShownMenu(std::size_t n = 0) const { return ui.Menus().at(n).menu; }
  static std::vector<std::string> Texts(const framework::Menu* menu) {
    std::vector<std::string> texts;
    if (menu == nullptr) return texts;
    for (int i = 0; i < menu->ItemCount(); ++i) texts.push_back(menu->ItemAt(i)->text);
    return texts;
  }
  static std::vector<unsigned> Ids(const framework::Menu* menu) {
    std::vector<unsigned> ids;
    if (menu == nullptr) return ids;
    for (int i = 0; i < menu->ItemCount(); ++i) ids.push_back(menu->ItemAt(i)->id);
    return ids;
  }
  static const framework::Menu* DeleteMenu(const framework::Menu& tray) { return tray.SubMenu(3); }
  static const framework::Menu* WindowMenu(const framework::Menu& tray) {
    const framework::Menu* quick = tray.SubMenu(4);
    return quick != nullptr ? quick->SubMenu(0) : nullptr;
  }
  static const framework::Menu* ProcessMenu(const framework::Menu& tray) {
    const framework::Menu* quick = tray.SubMenu(4);
    return quick != nullptr ? quick->SubMenu(1) : nullptr;
  }
};
