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
  FSession.Connected = Ftp1.Connected;
  FSession.Server = Ftp1.FtpServer;
  FSession.Port = Ftp1.FtpPort;
  FSession.Encrypted = Ftp1.SockTlsActive();
  if (!FSession.Connected) FSession.Folder.clear();
  setWindowTitle(WindowTitle(ApplicationTitle(), FSession));
}

// A new session starts in its server's own folder (no CWD at the login); back on a server,
// port and user of this run, it goes to the folder its pane showed last, unless a link
// says where to go. Called once the server is known, and again once the user.
void TForm1::ChooseStartFolder() {
  const auto place = FPlaces.find({Ftp1.FtpServer, Ftp1.FtpPort});
  const bool known = place != FPlaces.end() && !FLogin.Target.Link &&
                     (Ftp1.UserName.empty() || Ftp1.UserName == place->second.User);
  if (FBackToPlace && !known) {
    Ftp1.InitialDirectory.clear();
    FBackToPlace = false;
  } else if (Ftp1.InitialDirectory.empty() && known) {
    Ftp1.InitialDirectory = place->second.Folder;
    FBackToPlace = true;
  }
}

void TForm1::RememberPlace() {
  FPlaces[{Ftp1.FtpServer, Ftp1.FtpPort}] = {Ftp1.UserName, Ftp1.InitialDirectory};
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
  if (what.isEmpty() || success || Ftp1.LastError != ftpeNone || !Ftp1.Connected || FClosing) return;
  ShowInformation(this, RefusedText(what, reply));
}

void TForm1::NoteTransferEnd(bool download) {
  if (Ftp1.Success) return;
  FProgress->Hide();
  ui.ByteCounter->Clear();
  // No error came: the server closed the connection in the middle of the file.
  if (!Ftp1.Connected && Ftp1.LastError == ftpeNone && (download || FStoreDataOpened)) {
    FCutShort.emplace(download, download ? Ftp1.LocalFile : Ftp1.RemoteFile);
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
  const bool receiving = Ftp1.Busy && Ftp1.CurrentOperation == TVelaFtp::opReceiveFile;
  const bool storing = Ftp1.Busy && Ftp1.CurrentOperation == TVelaFtp::opStoreFile && FStoreDataOpened;
  if (receiving && error == ftpeDownloadIncomplete) {
    return IncompleteDownloadText(Ftp1.LocalFile,
                                  QStringLiteral("la connexion de données a été coupée, ou le nombre d'octets reçus "
                                                 "diffère de la taille annoncée par le serveur"));
  }
  if (Ftp1.Connected || message.isEmpty()) return message;
  if (receiving) return message + QStringLiteral("\n\n") + IncompleteDownloadText(Ftp1.LocalFile, kConnectionCut);
  if (storing) return message + QStringLiteral("\n\n") + IncompleteUploadText(Ftp1.RemoteFile, kConnectionCut);
  return message;
}

bool TForm1::TransferUnderWay() const {
  const bool fileOperation =
      Ftp1.CurrentOperation == TVelaFtp::opReceiveFile || Ftp1.CurrentOperation == TVelaFtp::opStoreFile;
  return FTransferBatch || FFolder.Running() || (Ftp1.Busy && fileOperation);
}
