#pragma once
// A whole program on the fake system and the headless window system: the application object with
// its settings file and log in a temporary directory.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "app/assign_app.h"
#include "app/dummy_dlg.h"
#include "framework/headless/headless_backend.h"
#include "platform/fake/fake_instance_guard.h"
#include "platform/fake/fake_system.h"
#include "settings/ini_file.h"

// Watches the settings file's commits: what the window system looked like when the list was saved.
class ObservedProfile : public ProfileFile {
 public:
  explicit ObservedProfile(ProfileFile& inner) : inner_(inner) {}
  std::size_t Read(const char* s, const char* k, const char* d, char* b, std::size_t n) override {
    return inner_.Read(s, k, d, b, n);
  }
  bool Write(const char* s, const char* k, const char* v) override { return inner_.Write(s, k, v); }
  bool ReadKeys(const char* s, std::vector<std::string>& keys) override { return inner_.ReadKeys(s, keys); }
  bool BeginBatch() override { return inner_.BeginBatch(); }
  bool CommitBatch() override {
    ++commits;
    if (onCommit) onCommit();
    return inner_.CommitBatch();
  }
  void DiscardBatch() override { inner_.DiscardBatch(); }

  int commits = 0;
  std::function<void()> onCommit;

 private:
  ProfileFile& inner_;
};

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/mavrin-app-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    diag = std::tmpfile();
    ASSERT_NE(diag, nullptr);
    framework::SetBackend(&ui);
    framework::SetShell(&shell);
    ini = std::make_unique<IniFile>(IniPath());
    profile = std::make_unique<ObservedProfile>(*ini);
    app = std::make_unique<CAssignApp>(CAssignApp::Services{system, ui, guard, *profile, LogPath(), diag});
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
  std::string LogPath() const { return dir + "/mavrin.log"; }

  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void WriteIni(const std::string& text) { std::ofstream(IniPath(), std::ios::binary) << text; }

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
  static std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
  }

  CDummyDlg* MainDialog() { return static_cast<CDummyDlg*>(framework::MainWindow()); }
  // Posts a command to the tray window, as a menu choice would.
  void PostCommand(unsigned id) {
    ui.Then([id](framework::headless::HeadlessBackend&) { framework::MainWindow()->PostToSelf(WM_COMMAND, id, 0); });
  }
  void Check(std::function<void()> check) {
    ui.Then([check = std::move(check)](framework::headless::HeadlessBackend&) { check(); });
  }

  std::string dir;
  std::FILE* diag = nullptr;
  platform::FakeSystem system;
  framework::headless::HeadlessBackend ui;
  framework::headless::RecordingShell shell;
  platform::FakeInstanceRegistry registry;
  platform::FakeInstanceGuard guard{registry};
  std::unique_ptr<IniFile> ini;
  std::unique_ptr<ObservedProfile> profile;
  std::unique_ptr<CAssignApp> app;
};
