#pragma once
// Shared by the framework tests: a headless backend installed for the length of one test.
#include <gtest/gtest.h>

#include "res/resources.h"
#include "tests/support/scripted_backend.h"

class HeadlessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    framework::SetResources(&res::ProgramResources());
    framework::SetBackend(&ui);
    framework::SetShell(&shell);
  }
  void TearDown() override {
    framework::SetBackend(nullptr);
    framework::SetShell(nullptr);
    framework::SetResources(nullptr);
  }
  framework::headless::ScriptedBackend ui;
  framework::headless::RecordingShell shell;
};
