// Runs the window tests on the offscreen platform with a settings file of
// their own and the exception-displaying application object.
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "app/application.h"
#include "main_test_support.h"

namespace {
std::string g_settings;
}

std::string orv::maintest::SettingsFile() { return g_settings; }

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir dir;
  if (!dir.isValid()) return 2;
  g_settings = dir.filePath("system.reg").toStdString();
  qputenv("ORVISTAR_SETTINGS", QByteArray::fromStdString(g_settings));
  qputenv("XDG_STATE_HOME", dir.path().toLocal8Bit());  // the operations log
  orv::ui::TApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
