#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include "framework/resource_provider.h"
#include "res/resources.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Qt's file dialog keeps its sizes and history in the user's configuration: the tests start from
  // none and leave the user's alone.
  QTemporaryDir config;
  if (config.isValid()) qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  framework::SetResources(&res::ProgramResources());
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
