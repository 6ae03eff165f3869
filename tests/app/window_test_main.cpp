// The window tests need a QApplication; they run without a display.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::unsetenv("PLCBURN_EXTRA_PORTS");  // start-up must list only what the model offers
  // The burns' records go to a log of this run's own.
  QTemporaryDir state;
  qputenv("XDG_STATE_HOME", state.path().toUtf8());
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
