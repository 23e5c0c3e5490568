// GoogleTest main for the window's tests: one QApplication on the offscreen
// platform, so the tests need no display and no window ever waits for a user.
#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("TqUpdater"));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
