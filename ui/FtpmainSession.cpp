// What the window tells of its session besides the log: the title (server, remote folder,
// encrypted or not), the folder a new login starts in, a remote command the server
// refused (with its own words), and a transfer that did not go whole (with what it left on
// disk). The bar and the counter never stay at what a failed transfer reached.
#include "texts/FrenchMessages.h"
#include "ui/Dialogs.h"
#include "ui/FailureTexts.h"
#include "ui/Ftpmain.h"
#include "ui/Screen.h"

namespace {

const QString kConnectionCut = QStringLiteral("la connexion avec le serveur a été coupée");

}  // namespace

void TForm1::ShowSession() {
  FView.Connected = Session().Connected;
  FView.Server = SessionSocket().FtpServer;
  FView.Port = SessionSocket().FtpPort;
  FView.Encrypted = FSession == &Sftp1 || Ftp1.SockTlsActive();  // SSH always is
  if (!FView.Connected) FView.Folder.clear();
  setWindowTitle(WindowTitle(ApplicationTitle(), FView));
}

// A new session starts in its server's own folder (no CWD at the login); back on a server,
// port and user of this run, it goes to the folder its pane showed last, unless a link
// says where to go. Called once the server is known, and again once the user.
void TForm1::ChooseStartFolder() {
  const auto place = FPlaces.find({SessionSocket().FtpServer, SessionSocket().FtpPort});
  const bool known = place != FPlaces.end() && !FLogin.Target.Link &&
                     (Session().UserName.empty() || Session().UserName == place->second.User);
  if (FBackToPlace && !known) {
    Session().InitialDirectory.clear();
    FBackToPlace = false;
  } else if (Session().InitialDirectory.empty() && known) {
    Session().InitialDirectory = place->second.Folder;
    FBackToPlace = true;
  }
}

void TForm1::RememberPlace() {
  FPlaces[{SessionSocket().FtpServer, SessionSocket().FtpPort}] = {Session().UserName, Session().InitialDirectory};
}

void TForm1::StartRemoteCommand(const QString& what, const std::function<void()>& request) {
  FPendingCommand = what;
  StartOperation(request);
  if (!Screen::IsHourglass()) FPendingCommand.clear();  // refused at once: nothing ends it
}

// Told once the folder is being listed again; an error (the connection, say) has shown
// its own message already.
void TForm1::ReportRefusal(bool success, const std::string& reply) {
  const QString what = std::exchange(FPendingCommand, QString());
  if (what.isEmpty() || success || SessionError() != ftpeNone || !Session().Connected || FClosing) return;
  ShowInformation(this, RefusedText(what, reply));
}

void TForm1::NoteTransferEnd(bool download) {
  if (Session().Success) return;
  FProgress->Hide();
  ui.ByteCounter->Clear();
  // No error came: the server closed the connection in the middle of the file.
  if (!Session().Connected && SessionError() == ftpeNone && (download || FStoreDataOpened)) {
    FCutShort.emplace(download, download ? Session().LocalFile : Session().RemoteFile);
  }
}

void TForm1::TellCutShort() {
  if (!FCutShort || FClosing) {
    FCutShort.reset();
    return;
  }
  const auto [download, file] = *std::exchange(FCutShort, std::nullopt);
  ShowInformation(this, download ? IncompleteDownloadText(file, kConnectionCut)
                                 : IncompleteUploadText(file, kConnectionCut));
}

// The message of an error, and what it did to the file under way: named, with what is on
// disk, for a download that did not come whole or that the end of the connection cut.
QString TForm1::ErrorText(FtpError error, const QString& message) const {
  const bool receiving = Session().Busy && Running(Operation::Receive);
  const bool storing = Session().Busy && Running(Operation::Store) && FStoreDataOpened;
  if (receiving && error == ftpeDownloadIncomplete) {
    return IncompleteDownloadText(Session().LocalFile,
                                  QStringLiteral("la connexion de données a été coupée, ou le nombre d'octets reçus "
                                                 "diffère de la taille annoncée par le serveur"));
  }
  if (Session().Connected || message.isEmpty()) return message;
  if (receiving) return message + QStringLiteral("\n\n") + IncompleteDownloadText(Session().LocalFile, kConnectionCut);
  if (storing) return message + QStringLiteral("\n\n") + IncompleteUploadText(Session().RemoteFile, kConnectionCut);
  return message;
}

bool TForm1::TransferUnderWay() const {
  const bool fileOperation = Running(Operation::Receive) || Running(Operation::Store);
  return FTransferBatch || FolderTransfer().Running() || (Session().Busy && fileOperation);
}

// The engine's own view of what it does, for the engine that runs the session.
bool TForm1::Running(Operation operation) const {
  if (FSession == &Sftp1) {
    return Sftp1.CurrentOperation ==
           (operation == Operation::Receive ? TVelaSftp::opReceiveFile : TVelaSftp::opStoreFile);
  }
  return Ftp1.Operation() == (operation == Operation::Receive ? TVelaFtp::opReceiveFile : TVelaFtp::opStoreFile);
}

FtpError TForm1::SessionError() const { return FSession == &Sftp1 ? Sftp1.LastError : Ftp1.LastError; }

// An FTP server's last reply; SFTP has no reply line to show.
std::string TForm1::LastServerReply() const { return FSession == &Ftp1 ? Ftp1.LastReply : std::string(); }
