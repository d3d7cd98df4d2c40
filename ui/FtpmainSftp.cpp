// Connecting: the server is asked for in the prompt dialog, as the FTP engine asks for it,
// and the answer chooses the engine: "sftp://[user@]host[:port][/path]" connects the SFTP
// engine, anything else the FTP engine, which takes the answer as its own request's.
#include "session/SftpTarget.h"
#include "texts/FrenchMessages.h"
#include "ui/Dialogs.h"
#include "ui/Ftpinput.h"
#include "ui/Ftpmain.h"
#include "ui/Screen.h"
#include "ui/TextCodec.h"

void TForm1::ConnectAsked() {
  const std::string word = talvo::texts::NeedInfoWord(ftpnServer);
  QString typed;
  InputForm->Ask(QString::fromStdString(word), QString::fromStdString(talvo::texts::NeedInfoPrompt(word)), typed);
  const std::string server = TypedBytes(typed);
  TSftpTarget target;
  std::string problem;
  if (ParseSftpTarget(server, target, problem)) {
    FSession = &Sftp1;
    Sftp1.SetFtpServer(target.host);
    Sftp1.FtpPort = target.port != 0 ? target.port : 22;
    Sftp1.UserName = target.user;
    Sftp1.UserPassword.clear();
    Sftp1.InitialDirectory = target.path;
    if (MakeRequest([this] { Sftp1.Connect(); })) Screen::SetArrow();
    return;
  }
  if (!problem.empty()) {
    Screen::SetArrow();
    ShowInformation(this, QStringLiteral("Adresse illisible : ") + DisplayText(server));
    return;
  }
  FSession = &Ftp1;
  Ftp1.SetFtpServer("");
  Ftp1.UserName.clear();
  Ftp1.UserPassword.clear();
  Ftp1.UserAccount.clear();
  FServerAsked = true;
  FServerAnswer = server;
  if (MakeRequest([this] { Ftp1.Connect(); })) Screen::SetArrow();
  FServerAsked = false;
}
