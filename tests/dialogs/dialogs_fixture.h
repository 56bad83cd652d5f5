#pragma once
// The application object on the fake system and the headless window system, with its settings file
// and log in a fresh temporary directory that goes away with the test.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/assign_app.h"
#include "app/dummy_dlg.h"
#include "framework/dialog.h"
#include "framework/headless/headless_backend.h"
#include "platform/fake/fake_instance_guard.h"
#include "platform/fake/fake_system.h"
#include "res/resource.h"
#include "settings/ini_file.h"
#include "settings/settings_file.h"

class DialogsTest : public ::testing::Test {
 protected:
  using Backend = framework::headless::HeadlessBackend;

  void SetUp() override {
    char pattern[] = "/tmp/mavrin-dialogs-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    diag = std::tmpfile();
    ASSERT_NE(diag, nullptr);
    framework::SetBackend(&ui);
    framework::SetShell(&shell);
    framework::SetApplicationName("mavrin");
    ini = std::make_unique<IniFile>(dir + "/mavrin.ini");
    app = std::make_unique<CAssignApp>(CAssignApp::Services{system, ui, guard, *ini, dir + "/mavrin.log", diag});
    SetTheApp(app.get());
  }

  void TearDown() override {
    SetTheApp(nullptr);
    app.reset();
    framework::SetMainWindow(nullptr);
    framework::SetBackend(nullptr);
    framework::SetShell(nullptr);
    g_bSettingsOpen = false;
    g_bAboutOpen = false;
    if (diag != nullptr) std::fclose(diag);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  // Runs check from inside whichever loop is innermost at that point of the script.
  void Check(std::function<void()> check) {
    ui.Then([check = std::move(check)](Backend&) { check(); });
  }
  void ExpectScriptFit() {
    EXPECT_TRUE(ui.Errors().empty()) << ui.Errors().front();
    EXPECT_EQ(0u, ui.PendingActions());
  }

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

  std::vector<WatchEntry> Entries() const {
    return std::vector<WatchEntry>(app->GetWatchList().begin(), app->GetWatchList().end());
  }
  // What the settings file holds, read by a reader of its own.
  std::vector<WatchEntry> SavedEntries() const {
    WatchList list;
    IniFile file(dir + "/mavrin.ini");
    SerializeWatchList(list, file, false, nullptr);
    return std::vector<WatchEntry>(list.begin(), list.end());
  }
  std::string Diagnostics() {
    std::fflush(diag);
    std::string text;
    std::rewind(diag);
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, diag)) > 0) text.append(buffer, n);
    std::fseek(diag, 0, SEEK_END);
    return text;
  }

  std::string dir;
  std::FILE* diag = nullptr;
  platform::FakeSystem system;
  Backend ui;
  framework::headless::RecordingShell shell;
  platform::FakeInstanceRegistry registry;
  platform::FakeInstanceGuard guard{registry};
  std::unique_ptr<IniFile> ini;
  std::unique_ptr<CAssignApp> app;
};
