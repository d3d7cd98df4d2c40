// The GUI tests' entry: a QApplication on the offscreen platform, titled like the program,
// with Qt's loop driving the engine's, as in the program itself.
#include <gtest/gtest.h>

#include <QApplication>

#include "platform/MessageLoop.h"
#include "ui/QtLoopBridge.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Talvo FTP"));
  TQtLoopBridge bridge(platform::MessageLoop::Current());
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
