#pragma once
// One dialog on the fake system and the headless window system, without the rest of the program:
// the dialog gets a context of its own, with a watch list that is never saved and no settings
// file, log or temporary directory behind it. The whole-program fixture builds on this one.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "framework/dialog.h"
#include "platform/fake/fake_system.h"
#include "res/resource.h"
#include "res/resources.h"
#include "settings/watch_list_editing.h"
#include "tests/support/captured_stream.h"
#include "tests/support/scripted_backend.h"
#include "ui/dialog_context.h"

class SmallDialogContext final : public DialogContext {
 public:
  SmallDialogContext(platform::FakeSystem& system, framework::IMessageBoxes& boxes, std::FILE* diagnostics)
      : system_(system), boxes_(boxes), snapshot_(system, boxes), diagnostics_(diagnostics) {}

  platform::ISystem& System() override { return system_; }
  SystemSnapshot& Snapshot() override { return snapshot_; }
  QuickChangedPaths& GetQuickChangedPaths() override { return quickChanged_; }
  WatchList& GetWatchList() override { return watchList_; }
  bool AddToWatchList(const WatchEntry& candidate, const std::string& note) override {
    WatchListEditing editing = Editing();
    return AddOrUpdateWatchEntry(editing, candidate, note);
  }
  bool DeleteFromWatchList(int index) override {
    WatchListEditing editing = Editing();
    return DeleteWatchEntry(index, editing);
  }
  std::FILE* Diagnostics() override { return diagnostics_; }
  void ShowAbout() override { ++aboutRequests; }

  int aboutRequests = 0;

 private:
  WatchListEditing Editing() {
    return WatchListEditing{watchList_, boxes_, [this] { return system_.GetProcessorCount(); }, {}};
  }

  platform::FakeSystem& system_;
  framework::IMessageBoxes& boxes_;
  SystemSnapshot snapshot_;
  WatchList watchList_;
  QuickChangedPaths quickChanged_;
  std::FILE* diagnostics_;
};

class DialogFixture : public ::testing::Test {
 protected:
  using Backend = framework::headless::ScriptedBackend;

  void SetUp() override {
    framework::SetResources(&res::ProgramResources());
    framework::SetBackend(&ui);
    framework::SetApplicationName("mavrin");
  }
  void TearDown() override {
    framework::SetBackend(nullptr);
    framework::EndQuit();
    framework::SetResources(nullptr);
  }

  // Runs check from inside whichever loop is innermost at that point of the script.
  void Check(std::function<void()> check) {
    ui.Then([check = std::move(check)](Backend&) { check(); });
  }
  void ExpectScriptFit() {
    EXPECT_TRUE(ui.Errors().empty()) << (ui.Errors().empty() ? std::string() : ui.Errors().front());
    EXPECT_EQ(0u, ui.PendingActions());
  }
  std::string Diagnostics() const { return diagStream.Text(); }
  // State of a control of the newest window made from templateId.
  const framework::headless::ControlState& Control(int templateId, int id) const {
    const framework::headless::ControlState* c = ui.FindControl(templateId, id);
    static const framework::headless::ControlState kMissing;
    return c != nullptr ? *c : kMissing;
  }

  platform::FakeSystem system;
  Backend ui;
  CapturedStream diagStream;
  // Unused where the application object is the dialogs' context.
  SmallDialogContext context{system, ui, diagStream.get()};
};
