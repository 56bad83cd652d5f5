#pragma once
// Shared by the framework tests: a headless backend installed for the length of one test.
#include <gtest/gtest.h>

#include "framework/headless/headless_backend.h"

class HeadlessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    framework::SetBackend(&ui);
    framework::SetShell(&shell);
  }
  void TearDown() override {
    framework::SetBackend(nullptr);
    framework::SetShell(nullptr);
  }
  framework::headless::HeadlessBackend ui;
  framework::headless::RecordingShell shell;
};
