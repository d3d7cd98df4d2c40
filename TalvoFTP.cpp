// Program entry: the application's title, the main window, the hidden prompt dialog, and
// Qt's event loop, which also drives the engine's message loop. The program takes no
// arguments of its own and keeps nothing between runs.
#include <QApplication>
#include <QIcon>

#include "platform/MessageLoop.h"
#include "ui/Ftpinput.h"
#include "ui/Ftpmain.h"
#include "ui/QtLoopBridge.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Talvo FTP"));
  // The program's own icon on its windows; the desktop entry of the same name carries it
  // too, which is how Wayland desktops find it.
  QIcon icon;
  icon.addFile(QStringLiteral(":/icons/talvo-ftp-48.png"));
  icon.addFile(QStringLiteral(":/icons/talvo-ftp-256.png"));
  QApplication::setWindowIcon(icon);
  QApplication::setDesktopFileName(QStringLiteral("talvo-ftp"));
  TQtLoopBridge bridge(platform::MessageLoop::Current());

  TForm1 form;
  Form1 = &form;
  TInputForm input;
  InputForm = &input;

  form.show();
  const int exitCode = QApplication::exec();
  InputForm = nullptr;
  Form1 = nullptr;
  return exitCode;
}
