#pragma once
// The application object on the fake system and the headless window system, with its settings
// file and log in a fresh temporary directory that is removed afterwards.
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

class MenuTest : public ::testing::Test {
 protected:
  using Backend = framework::headless::HeadlessBackend;

  void SetUp() override {
    char pattern[] = "/tmp/mavrin-menu-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    diag = std::tmpfile();
    ASSERT_NE(diag, nullptr);
    framework::SetBackend(&ui);
    framework::SetShell(&shell);
    framework::SetApplicationName("mavrin");
    ini = std::make_unique<IniFile>(IniPath());
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

  std::string IniPath() const { return dir + "/mavrin.ini"; }

  // Puts entries into the settings file, where start-up will find them.
  void StoreEntries(const std::vector<WatchEntry>& entries) {
    WatchList list;
    for (const WatchEntry& e : entries) list.Append(e);
    IniFile file(IniPath());
    ASSERT_TRUE(SerializeWatchList(list, file, true, nullptr));
  }
  // What the settings file holds now, read by a reader of its own.
  std::vector<WatchEntry> SavedEntries() const {
    WatchList list;
    IniFile file(IniPath());
    SerializeWatchList(list, file, false, nullptr);
    return std::vector<WatchEntry>(list.begin(), list.end());
  }
  std::vector<WatchEntry> Entries() const {
    return std::vector<WatchEntry>(app->GetWatchList().begin(), app->GetWatchList().end());
  }

  static std::string ReadText(const std::string& path) {
    std::string text;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
      char buffer[4096];
      std::size_t n;
      while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
      std::fclose(f);
    }
    return text;
  }

  // Everything written to the diagnostics stream so far.
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

  // ---- script steps for a run of the whole program ----
  void OpenTrayMenu() { ui.TrayNotify(WM_LBUTTONDOWN); }
  void Check(std::function<void()> check) {
    ui.Then([check = std::move(check)](Backend&) { check(); });
  }
  void ExitProgram() {
    ui.Then([](Backend&) { framework::MainWindow()->PostToSelf(WM_COMMAND, ID_TRAY_EXIT, 0); });
  }
  // Runs the program over the script (which ends it) and expects the script to have fit.
  void RunProgram() {
    app->InitInstance();
    EXPECT_TRUE(app->Ran());
    EXPECT_TRUE(ui.Errors().empty()) << (ui.Errors().empty() ? std::string() : ui.Errors().front());
    EXPECT_EQ(0u, ui.PendingActions());
  }

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

  // State of a control of the newest window made from templateId.
  const framework::headless::ControlState& Control(int templateId, int id) const {
    const framework::headless::ControlState* c = ui.FindControl(templateId, id);
    static const framework::headless::ControlState kMissing;
    return c != nullptr ? *c : kMissing;
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
