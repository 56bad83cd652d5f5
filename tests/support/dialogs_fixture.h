#pragma once
// The dialogs' tests: the whole program, and the controls its dialogs showed.
#include <string>
#include <vector>

#include "tests/support/program_fixture.h"

class DialogsTest : public ProgramFixture {
 protected:
  const framework::headless::ControlState* Control(int templateId, int id) const {
    return ui.FindControl(templateId, id);
  }
  int CheckOf(int templateId, int id) const {
    const auto* c = Control(templateId, id);
    return c != nullptr ? c->check : -1;
  }
  bool EnabledOf(int templateId, int id) const {
    const auto* c = Control(templateId, id);
    return c != nullptr && c->enabled;
  }
  // Rows whose state has LVIS_SELECTED.
  std::vector<int> SelectedRows(int templateId, int listId) const {
    std::vector<int> rows;
    if (const auto* c = Control(templateId, listId)) {
      for (std::size_t i = 0; i < c->rows.size(); ++i) {
        if ((c->rows[i].state & LVIS_SELECTED) != 0) rows.push_back(static_cast<int>(i));
      }
    }
    return rows;
  }
  std::string RowText(int templateId, int listId, int row, int column) const {
    const auto* c = Control(templateId, listId);
    if (c == nullptr || row < 0 || static_cast<std::size_t>(row) >= c->rows.size()) return "<no row>";
    const auto& texts = c->rows[static_cast<std::size_t>(row)].texts;
    return static_cast<std::size_t>(column) < texts.size() ? texts[static_cast<std::size_t>(column)] : std::string();
  }
  std::size_t RowCount(int templateId, int listId) const {
    const auto* c = Control(templateId, listId);
    return c != nullptr ? c->rows.size() : 0;
  }
};
