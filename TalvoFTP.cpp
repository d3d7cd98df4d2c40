// Program entry: the application's title, the main window, the hidden prompt dialog, and
// Qt's event loop, which also drives the engine's message loop. The command line may
// force the data connection mode, and may name a server (a link) to connect to at start.
#include <QApplication>
#include <QIcon>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/MessageLoop.h"
#include "ui/Ftpinput.h"
#include "ui/Ftpmain.h"
#include "ui/ProgramOptions.h"
#include "ui/QtLoopBridge.h"

int main(int argc, char** argv) {
  // Answered before Qt starts, which needs a display.
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--help") {
      std::fputs(kProgramUsage, stdout);
      return 0;
    }
  }
  QApplication application(argc, argv);  // takes Qt's own options out of argv
  QApplication::setApplicationName(QStringLiteral("Talvo FTP"));
  TProgramOptions options;
  std::string problem;
  if (!ParseProgramOptions(std::vector<std::string>(argv + 1, argv + argc), options, problem)) {
    std::fprintf(stderr, "TalvoFTP: %s\n%s", problem.c_str(), kProgramUsage);
    return 2;
  }
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
  form.Ftp1.DataConnectionMode = options.DataMode;
  form.Ftp1.TlsMode = options.TlsMode;
  TInputForm input;
  InputForm = &input;

  form.show();
  if (!options.Server.empty()) {
    QTimer::singleShot(0, &form, [&form, &options] { form.ConnectToServer(options.Server); });
  }
  const int exitCode = QApplication::exec();
  InputForm = nullptr;
  Form1 = nullptr;
  return exitCode;
}
