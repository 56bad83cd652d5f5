#pragma once
// The whole program on the fake system and the headless window system: the application object with
// its settings file and log in a fresh temporary directory that goes away with the test. The test
// groups of the shell, the menus and the dialogs build on it; their dialogs take the application
// object as their context.
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
#include "platform/fake/fake_file_monitor.h"
#include "platform/fake/fake_instance_guard.h"
#include "platform/fake/fake_system.h"
#include "platform/linux/ini_file.h"
#include "res/resource.h"
#include "settings/settings_file.h"
#include "tests/support/captured_stream.h"
#include "tests/support/dialog_fixture.h"

class ProgramFixture : public DialogFixture {
 protected:
  void SetUp() override {
    DialogFixture::SetUp();
    char pattern[] = "/tmp/mavrin-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    diag = diagStream.get();
    ASSERT_NE(diag, nullptr);
    framework::SetShell(&shell);
    ini = std::make_unique<platform::IniFile>(IniPath());
    app = std::make_unique<CAssignApp>(CAssignApp::Services{system, ui, guard, SettingsFile(), &settingsMonitor,
                                                            LogPath(), diag, errorsStream.get(),
                                                            PostBringForwardToMainWindow});
    SetTheApp(app.get());
  }

  void TearDown() override {
    SetTheApp(nullptr);
    app.reset();
    framework::SetMainWindow(nullptr);
    framework::SetShell(nullptr);
    g_bSettingsOpen = false;
    g_bAboutOpen = false;
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    DialogFixture::TearDown();
  }

  // The settings file the application object gets; a group may put a wrapper around `ini`.
  virtual ProfileFile& SettingsFile() { return *ini; }

  std::string IniPath() const { return dir + "/mavrin.ini"; }
  std::string LogPath() const { return dir + "/mavrin.log"; }

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
  void WriteIni(const std::string& text) {
    if (std::FILE* f = std::fopen(IniPath().c_str(), "wb")) {
      std::fwrite(text.data(), 1, text.size(), f);
      std::fclose(f);
    }
  }
  // Puts entries into the settings file, where start-up will find them.
  void StoreEntries(const std::vector<WatchEntry>& entries) {
    WatchList list;
    for (const WatchEntry& e : entries) list.Append(e);
    platform::IniFile file(IniPath());
    ASSERT_TRUE(SerializeWatchList(list, file, true, nullptr));
  }
  // What the settings file holds now, read by a reader of its own.
  std::vector<WatchEntry> SavedEntries() const {
    WatchList list;
    platform::IniFile file(IniPath());
    SerializeWatchList(list, file, false, nullptr);
    return std::vector<WatchEntry>(list.begin(), list.end());
  }
  std::vector<WatchEntry> Entries() const {
    return std::vector<WatchEntry>(app->GetWatchList().begin(), app->GetWatchList().end());
  }

  // Everything written so far to the stream for the user who started the program.
  std::string Errors() const { return errorsStream.Text(); }
  // Another start of the program while this one runs: what it answers.
  bool StartAgain() {
    platform::FakeInstanceGuard other(registry);
    return ClaimSingleInstance(other, errorsStream.get());
  }

  // ---- script steps for a run of the whole program ----
  // Posts a command to the tray window, as a menu choice would.
  void PostCommand(unsigned id) {
    ui.Then([id](Backend&) { framework::MainWindow()->PostToSelf(WM_COMMAND, id, 0); });
  }
  void ExitProgram() { PostCommand(ID_TRAY_EXIT); }
  // Runs the program over the script (which ends it) and expects the script to have fit.
  void RunProgram() {
    app->InitInstance();
    EXPECT_TRUE(app->Ran());
    ExpectScriptFit();
  }

  std::string dir;
  std::FILE* diag = nullptr;
  CapturedStream errorsStream;
  platform::FakeFileMonitor settingsMonitor;
  framework::headless::RecordingShell shell;
  platform::FakeInstanceRegistry registry;
  platform::FakeInstanceGuard guard{registry};
  std::unique_ptr<platform::IniFile> ini;
  std::unique_ptr<CAssignApp> app;
};
